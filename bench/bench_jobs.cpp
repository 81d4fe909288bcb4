// Times one job of the job benchmark (scripts/bench) as lumbra-cli runs it, on the lumbra.ini
// of a start directory, but with a clock whose wait for the next second returns at once: the
// job's two waits (start and end time) are up to two seconds of every job and not its work.
//   bench_jobs START_DIR add|rebuild
// Prints one line: the seconds of the job, its peak resident set in KiB, and its counters
//   SECONDS MAXRSS_KIB SCANNED_ENTRIES LOGGED_FILES SCANNED_FILES CONVERTED_PAGES FAILED_FILES
// Exits 1 when the job did not start or did not complete, or failed on some file, since its
// time would not be the time of the whole work.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <sys/resource.h>

#include "app/job_driver.h"
#include "app/settings.h"
#include "platform/clock.h"
#include "platform/fs.h"

namespace {

// Calendar seconds that advance by one whenever the job waits for the next second, so that
// WaitNextSecond returns at once; it starts at the real time so the job's dates stay real.
class InstantClock : public lumbra::platform::Clock {
 public:
  std::int64_t NowSeconds() override { return now_; }
  void SleepToNextSecond() override { ++now_; }

 private:
  std::int64_t now_ = lumbra::platform::SystemClock().NowSeconds();
};

// lumbra-cli --yes without a terminal: every question answered yes, nothing shown, so that
// no output is part of what is measured. A message is kept for the case of a refused start.
class YesFrontend : public lumbra::Frontend {
 public:
  int ReportProgress(std::string_view) override { return 1; }
  void ShowStatus(std::string_view) override {}
  void ShowMessage(std::string_view text) override { lastMessage = text; }
  bool AskYesNo(std::string_view) override { return true; }

  std::string lastMessage;
};

}  // namespace

int main(int argc, char** argv) {
  using lumbra::JobKind;
  if (argc != 3 || (std::string_view(argv[2]) != "add" && std::string_view(argv[2]) != "rebuild")) {
    std::fprintf(stderr, "usage: bench_jobs START_DIR add|rebuild\n");
    return 2;
  }
  if (!lumbra::platform::ChangeDirectory(argv[1])) {
    std::fprintf(stderr, "bench_jobs: cannot change to %s\n", argv[1]);
    return 2;
  }
  JobKind kind = std::string_view(argv[2]) == "add" ? JobKind::AddToLogs : JobKind::RebuildAllLogs;

  // The session as lumbra-cli makes it.
  lumbra::Session session;
  session.startDir = lumbra::platform::CurrentDirectory();
  lumbra::LoadSettings(session.startDir, session.settings);
  session.surfAvailable = lumbra::DetectSurfData(session.startDir);
  YesFrontend frontend;
  InstantClock clock;
  lumbra::JobDriver driver(session, frontend, clock);

  auto start = std::chrono::steady_clock::now();
  bool started = driver.Command(kind);
  driver.RunPostedJobs();  // the add job is queued by its command, as in lumbra-cli
  auto end = std::chrono::steady_clock::now();

  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);  // ru_maxrss: KiB on Linux
  const lumbra::JobCounters& c = session.counters;
  std::printf("%.6f %ld %d %d %d %d %d\n", std::chrono::duration<double>(end - start).count(),
              usage.ru_maxrss, c.scannedEntries, c.loggedFiles, c.scannedFiles, c.convertedPages,
              c.failedFiles);
  if (!started) {
    std::fprintf(stderr, "bench_jobs: the job was refused: %s\n", frontend.lastMessage.c_str());
    return 1;
  }
  if (!driver.lastJobCompleted() || c.failedFiles > 0) {
    std::fprintf(stderr, "bench_jobs: the job did not complete or failed on %d files\n",
                 c.failedFiles);
    return 1;
  }
  return 0;
}
