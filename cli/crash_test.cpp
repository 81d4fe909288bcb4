// lumbra-cli killed with SIGKILL in the middle of its work: every page and log copy it was
// replacing must afterwards hold its old or its new content, whole, never a torn mix.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "testing/ie4_fixture.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using Duration = SteadyClock::duration;
using Files = std::map<std::string, std::string>;  // path below the LogTree -> content

constexpr int kHosts = 10;
constexpr int kLogPagesPerHost = 30;  // p0..p29 already in the log
constexpr int kFirstCachedPage = 20;  // p20..p44 in the cache: ten replace older copies
constexpr int kCachePagesPerHost = 25;
constexpr int kCacheImagesPerHost = 5;
constexpr int kKillsPerJob = 5;

std::string Host(int host) { return "h" + std::to_string(host) + ".example"; }

// A page of 3 to 8 KB, different for every host, number and origin, with links to pages that
// exist, pages that do not, images and another host, so its rewritten form differs from it.
std::string PageHtml(int host, int page, const std::string& origin) {
  std::string id = Host(host) + " page " + std::to_string(page) + " (" + origin + ")";
  std::string html = "<html><head><title>" + id + "</title></head><body>\n";
  int paragraphs = 10 + (host * 13 + page * 7) % 17;
  for (int k = 1; k <= paragraphs; ++k) {
    int target = (page + k * 7) % 60;
    html += "<p>" + id + ", paragraph " + std::to_string(k) + ". " +
            "Ordinary text that a torn copy would cut somewhere in the middle. " +
            "Every paragraph carries one link, so a page holds a few kilobytes to compare. " +
            "<a href=\"p" + std::to_string(target) + ".html\">to " + std::to_string(target) +
            "</a>";
    if (k % 3 == 0) html += " <img src=\"img/i" + std::to_string(k % 8) + ".gif\">";
    html += "\n";
  }
  html += "<a href=\"http://" + Host((host + 1) % kHosts) + "/d/p3.html\">next host</a>\n";
  return html + "</body></html>\n";
}

// What a job starts from, by path below the LogTree: the pages already logged, and the bytes
// of every cached file at the log path it is stored to.
struct InitialState {
  Files logged;
  Files cached;
};

InitialState MakeInitialState() {
  InitialState state;
  for (int h = 0; h < kHosts; ++h) {
    std::string dir = Host(h) + "/d/";
    for (int p = 0; p < kLogPagesPerHost; ++p) {
      state.logged[dir + "p" + std::to_string(p) + ".html"] = PageHtml(h, p, "logged");
    }
    for (int p = kFirstCachedPage; p < kFirstCachedPage + kCachePagesPerHost; ++p) {
      state.cached[dir + "p" + std::to_string(p) + ".html"] = PageHtml(h, p, "cached");
    }
    for (int i = 0; i < kCacheImagesPerHost; ++i) {
      state.cached[dir + "img/i" + std::to_string(i) + ".gif"] =
          "GIF89a" +
          std::string(2000 + 300 * static_cast<std::size_t>(i), static_cast<char>('a' + h));
    }
  }
  return state;
}

// Writes the cache (newer than the logged copies, so those are replaced) and the LogTree.
void WriteInitialState(const InitialState& state, const std::string& work) {
  testing::Ie4Cache cache;
  cache.subdirectories = {"CRASH000", "CRASH001", "CRASH002"};
  int n = 0;
  for (const auto& [path, content] : state.cached) {
    testing::Ie4Entry e;
    e.url = "http://" + path;
    e.fileName = "f" + std::to_string(n) + "[1]" + path.substr(path.rfind('.'));
    e.subdirectory = n++ % 3;
    e.contentType = path.ends_with(".gif") ? "image/gif" : "text/html";
    e.content = content;
    e.mtime = 1767225600;
    cache.entries.push_back(std::move(e));
  }
  fs::create_directories(work + "/start");
  testing::WriteIe4Cache(work + "/cache", cache);
  for (const auto& [path, content] : state.logged) {
    std::string file = work + "/save/alog/" + path;
    fs::create_directories(fs::path(file).parent_path());
    ASSERT_TRUE(platform::ReplaceFileContent(file, content, 0644)) << file;
    testing::SetMtime(file, 1700000000);
  }
}

// The files of the LogTree of `work` by relative path, with `work` itself written as
// "<work>" in them (rewritten links hold absolute paths); the temporary files of replacements
// that a kill left behind are counted apart.
Files Snapshot(const std::string& work, int* leftovers = nullptr) {
  const std::string tree = work + "/save/alog";
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(tree)) {
    if (entry.is_directory()) continue;
    if (platform::IsReplacementLeftover(entry.path().filename().string())) {
      EXPECT_TRUE(entry.is_regular_file()) << entry.path();
      if (leftovers != nullptr) ++*leftovers;
      continue;
    }
    std::string content = platform::ReadFile(entry.path().string()).value_or("<unreadable>");
    for (std::size_t at = 0; (at = content.find(work, at)) != std::string::npos;) {
      content.replace(at, work.size(), "<work>");
    }
    files[fs::relative(entry.path(), tree).string()] = std::move(content);
  }
  return files;
}

// Every file after a killed job holds its old content (or is absent when it had none), its
// content at a stage the job passes through (`between`), or the complete run's content.
// Returns whether the files differ from the complete run's.
bool ExpectOldOrNew(const Files& after, const Files& before, const Files& between,
                    const Files& done, const std::string& label) {
  auto content = [](const Files& files, const std::string& path) -> std::optional<std::string> {
    auto it = files.find(path);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  Files paths = done;
  paths.insert(after.begin(), after.end());
  int wrong = 0;
  for (const auto& [path, unused] : paths) {
    std::optional<std::string> now = content(after, path);
    bool fine = now == content(before, path) || (now && now == content(between, path)) ||
                now == content(done, path);
    if (!fine && ++wrong <= 5) {
      ADD_FAILURE() << label << ": " << path << " is neither old nor new: "
                    << (now ? std::to_string(now->size()) + " bytes" : "missing") << " (old "
                    << content(before, path).value_or("").size() << ", complete run "
                    << content(done, path).value_or("").size() << " bytes)";
    }
  }
  return after != done;
}

// The first path whose content differs between two snapshots; "" when none does.
std::string FirstDifference(const Files& a, const Files& b) {
  auto [inA, inB] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (inA == a.end() && inB == b.end()) return "";
  return inA != a.end() ? inA->first : inB->first;
}

// One run of lumbra-cli in the start directory of `work`, output thrown away.
class Job {
 public:
  Job(const std::string& work, const std::string& command) : log_(work + "/start/lumbralog.txt") {
    std::vector<std::string> args = {LUMBRA_CLI, "-C", work + "/start", "--yes", "--exec-log"};
    for (const std::string& setting :
         {"CACHE_DIR=" + work + "/cache", "LOG_DIR_A=" + work + "/save/alog",
          "INDEX_DIR=" + work + "/save"}) {
      args.insert(args.end(), {"--set", setting});
    }
    args.push_back(command);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    EXPECT_GT(pid_, 0) << "cannot fork";
  }
  ~Job() {
    if (!status_ && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }

  // Polls every millisecond until the execution log holds `text` (any first line when
  // empty): false when the job ended first or did not get there within ten seconds.
  bool AwaitLog(const std::string& text = "") {
    auto deadline = SteadyClock::now() + std::chrono::seconds(10);
    while (SteadyClock::now() < deadline && Running()) {
      std::string log = platform::ReadFile(log_).value_or("");
      if (!log.empty() && log.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  void Kill() {
    if (pid_ > 0 && !status_) ::kill(pid_, SIGKILL);
  }
  // The raw wait status.
  int Wait() {
    if (!status_ && pid_ > 0) {
      int raw = 0;
      ::waitpid(pid_, &raw, 0);
      status_ = raw;
    }
    return status_.value_or(-1);
  }

 private:
  bool Running() {
    if (pid_ <= 0) return false;
    int raw = 0;
    if (status_ || ::waitpid(pid_, &raw, WNOHANG) == 0) return !status_;
    status_ = raw;
    return false;
  }

  std::string log_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs each task on its own thread, one wall-clock second after the one before, well inside
// the second. A job waits for a change of the second before its work, so jobs started a
// second apart mostly work one after another while their waits overlap; two that do work
// at once are only slower.
void RunStaggered(const std::vector<std::function<void()>>& tasks) {
  using namespace std::chrono;
  auto first = floor<seconds>(system_clock::now()) + seconds(1) + milliseconds(300);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    std::this_thread::sleep_until(first + seconds(i));
    threads.emplace_back(tasks[i]);
  }
  for (std::thread& thread : threads) thread.join();
}

// What a killed job left in the LogTree.
struct Killed {
  Files files;
  int leftovers = 0;
};

class CrashTest : public testing::TempDirTest {
 protected:
  // Every run has its own copy of the initial state; the names have one length, so the runs
  // rewrite links of the same length.
  std::string Work(int run) const { return Path("run" + std::to_string(run)); }

  void SetUp() override {
    for (int run = 0; run <= kKillsPerJob; ++run) WriteInitialState(state_, Work(run));
  }

  // Runs the job to its end: the LogTree it leaves. `work` learns how long its work in the
  // LogTree took, from its first log line to the start of the index pages.
  Files CompleteRun(int run, const std::string& command, std::promise<Duration>* work = nullptr) {
    Job job(Work(run), command);
    bool began = job.AwaitLog();
    auto start = SteadyClock::now();
    EXPECT_TRUE(began && job.AwaitLog(platform::ToCp932("INDEX 作成開始"))) << command;
    if (work != nullptr) work->set_value(SteadyClock::now() - start);
    int status = job.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << ": " << status;
    return Snapshot(Work(run));
  }

  // Kills the job `fraction` of the work's duration into its work.
  Killed KilledRun(int run, const std::string& command, double fraction,
                   std::shared_future<Duration> work) {
    Job job(Work(run), command);
    EXPECT_TRUE(job.AwaitLog()) << command << " did not begin its work";
    std::this_thread::sleep_for(work.get() * fraction);
    job.Kill();
    job.Wait();
    Killed killed;
    killed.files = Snapshot(Work(run), &killed.leftovers);
    return killed;
  }

  // Where kill k lands, as a fraction of the work: a random point of the k-th of
  // kKillsPerJob equal slices, so the kills spread over all of it.
  std::vector<double> KillFractions() {
    std::vector<double> fractions;
    for (int k = 0; k < kKillsPerJob; ++k) {
      fractions.push_back(std::uniform_real_distribution<double>(k, k + 1)(random_) / kKillsPerJob);
    }
    return fractions;
  }

  // Run 0 runs `command` to its end; runs 1.. are killed inside their work. `after(k)` runs
  // on the thread of kill k right after it.
  void RunJobs(const std::string& command, Files& done, std::vector<Killed>& killed,
               const std::function<void(int)>& after = {}) {
    std::promise<Duration> work;
    std::shared_future<Duration> measured = work.get_future().share();
    std::vector<double> fractions = KillFractions();
    killed.resize(kKillsPerJob);
    std::vector<std::function<void()>> runs = {[&] { done = CompleteRun(0, command, &work); }};
    for (int k = 0; k < kKillsPerJob; ++k) {
      runs.push_back([&, k] {
        killed[k] = KilledRun(k + 1, command, fractions[k], measured);
        if (after) after(k);
      });
    }
    RunStaggered(runs);
  }

  InitialState state_ = MakeInitialState();
  std::mt19937 random_{20250611};
  testing::ScopedTmpDir tmp_{root()};  // the add's private directory of a killed job
};

TEST_F(CrashTest, AKilledAddLeavesEveryLogCopyAbsentCachedOrRewrittenAndWhole) {
  Files done;
  std::vector<Killed> killed;
  RunJobs("add", done, killed);
  for (const auto& [path, bytes] : state_.cached) ASSERT_EQ(done.count(path), 1u) << path;
  ASSERT_NE(done, state_.logged);

  int interrupted = 0;
  for (int k = 0; k < kKillsPerJob; ++k) {
    interrupted += ExpectOldOrNew(killed[k].files, state_.logged, state_.cached, done,
                                  "add killed " + std::to_string(k));
  }
  EXPECT_GT(interrupted, 0) << "no kill landed inside the work";
}

TEST_F(CrashTest, AKilledRebuildLeavesEveryPageOldOrRewrittenAndWhole) {
  Files done;
  std::vector<Killed> killed;
  // After the first kill a complete rebuild removes what the kill left and rewrites the rest.
  Files rebuilt;
  int rebuiltLeftovers = -1;
  RunJobs("rebuild", done, killed, [&](int k) {
    if (k != 0) return;
    Job again(Work(1), "rebuild");
    int status = again.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    rebuiltLeftovers = 0;
    rebuilt = Snapshot(Work(1), &rebuiltLeftovers);
  });
  ASSERT_EQ(done.size(), state_.logged.size());
  ASSERT_NE(done, state_.logged);

  int interrupted = 0;
  for (int k = 0; k < kKillsPerJob; ++k) {
    interrupted += ExpectOldOrNew(killed[k].files, state_.logged, {}, done,
                                  "rebuild killed " + std::to_string(k));
  }
  EXPECT_GT(interrupted, 0) << "no kill landed inside the work";
  EXPECT_EQ(FirstDifference(rebuilt, done), "") << "a rebuild after a kill differs";
  EXPECT_EQ(rebuiltLeftovers, 0);
}

}  // namespace
}  // namespace lumbra
