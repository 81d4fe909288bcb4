// lumbra-cli killed with SIGKILL in the middle of its work: every page and log copy it was
// replacing must afterwards hold its old or its new content, whole, never a torn mix.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "testing/ie4_fixture.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Files = std::map<std::string, std::string>;  // path below the LogTree -> content

constexpr int kHosts = 10;
constexpr int kKills = 4;  // per job, spread over its work

std::string Host(int host) { return "h" + std::to_string(host) + ".example"; }

// A page of 3 to 8 KB, different for every host, number and origin, with links to pages that
// exist, pages that do not, images and another host, so its rewritten form differs from it.
std::string PageHtml(int host, int page, const std::string& origin) {
  std::string id = Host(host) + " page " + std::to_string(page) + " (" + origin + ")";
  std::string html = "<html><head><title>" + id + "</title></head><body>\n";
  for (int k = 1, n = 10 + (host * 13 + page * 7) % 17; k <= n; ++k) {
    html += "<p>" + id + ", paragraph " + std::to_string(k) +
            ": ordinary text that a torn copy would cut somewhere in the middle, and a link " +
            "<a href=\"p" + std::to_string((page + k * 7) % 60) +
            ".html\">on</a> <img src=\"img/i" + std::to_string(k % 8) + ".gif\">\n";
  }
  return html + "<a href=\"http://" + Host((host + 1) % kHosts) + "/d/p3.html\">next</a>\n";
}

class CrashTest : public testing::TempDirTest {
 protected:
  // The pages already logged (p0..p29 of every host) and the cached files at the log path
  // they are stored to (p20..p44, the first ten replacing logged copies, and images).
  void SetUp() override {
    for (int h = 0; h < kHosts; ++h) {
      std::string dir = Host(h) + "/d/";
      for (int p = 0; p < 30; ++p)
        logged_[dir + "p" + std::to_string(p) + ".html"] = PageHtml(h, p, "log");
      for (int p = 20; p < 45; ++p)
        cached_[dir + "p" + std::to_string(p) + ".html"] = PageHtml(h, p, "cache");
      for (int i = 0; i < 5; ++i) {
        cached_[dir + "img/i" + std::to_string(i) + ".gif"] =
            "GIF89a" + std::string(2000 + 300 * i, 'a' + h);
      }
    }
  }

  // A fresh copy of the initial state for run `run`; every run's directory name has one
  // length, so the links the runs write have one length too.
  std::string Prepare(int run) {
    std::string work = Path("run" + std::to_string(run));
    testing::Ie4Cache cache;
    int n = 0;
    for (const auto& [path, content] : cached_) {
      testing::Ie4Entry e = testing::CachedEntry(
          "http://" + path, "f" + std::to_string(n++) + path.substr(path.rfind('.')),
          path.ends_with(".gif") ? "image/gif" : "text/html", content, 1767225600);
      e.subdirectory = 0;
      cache.entries.push_back(std::move(e));
    }
    MakeDir(work + "/start");
    testing::WriteIe4Cache(work + "/cache", cache);
    for (const auto& [path, content] : logged_) {
      testing::SetMtime(WriteFile(work + "/save/alog/" + path, content), 1700000000);
    }
    return work;
  }

  // Starts lumbra-cli on `work`; the execution log tells when its work begins.
  static pid_t Start(const std::string& work, const std::string& command) {
    std::string line = std::string("exec '") + LUMBRA_CLI + "' -C '" + work +
                       "/start' --yes --exec-log --set CACHE_DIR=" + work +
                       "/cache --set LOG_DIR_A=" + work + "/save/alog --set INDEX_DIR=" + work +
                       "/save " + command + " >/dev/null 2>&1 </dev/null";
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return child;
  }

  // Polls until the execution log of `work` holds `text` (any line when empty); false when
  // the job ended first.
  static bool AwaitLog(pid_t child, const std::string& work, const std::string& text = "") {
    for (auto end = Clock::now() + std::chrono::seconds(20); Clock::now() < end;) {
      std::string log = platform::ReadFile(work + "/start/lumbralog.txt").value_or("");
      if (!log.empty() && log.find(text) != std::string::npos) return true;
      if (::waitpid(child, nullptr, WNOHANG) == child) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  static int Finish(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The files of the LogTree of `work`, with `work` itself written as "<work>" in them
  // (rewritten links hold absolute paths); the temporary files a kill left are counted apart.
  static Files Snapshot(const std::string& work, int& leftovers) {
    const std::string tree = work + "/save/alog";
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
      if (entry.is_directory()) continue;
      if (platform::IsReplacementLeftover(entry.path().filename().string())) {
        ++leftovers;
        continue;
      }
      std::string content = platform::ReadFile(entry.path()).value_or("<unreadable>");
      for (std::size_t at = 0; (at = content.find(work, at)) != std::string::npos;) {
        content.replace(at, work.size(), "<work>");
      }
      files[fs::relative(entry.path(), tree).string()] = std::move(content);
    }
    return files;
  }

  // Runs `command` to its end in run 0, then kills it in runs 1..kKills at random points of
  // its work (one in each quarter); every file of every run must hold its old content (none
  // when it had none), its content at `stage` (a state the job passes through), or the
  // complete run's. Returns the complete run's files.
  Files KillAndCheck(const std::string& command, const Files& stage) {
    std::string work = Prepare(0);
    pid_t child = Start(work, command);
    EXPECT_TRUE(AwaitLog(child, work));
    auto begun = Clock::now();
    EXPECT_TRUE(AwaitLog(child, work, platform::ToCp932("INDEX 作成開始")));
    auto duration = Clock::now() - begun;  // the work in the LogTree
    EXPECT_EQ(Finish(child), 0);
    int leftovers = 0;
    const Files done = Snapshot(work, leftovers);
    EXPECT_NE(done, logged_);

    auto content = [](const Files& files, const std::string& path) -> std::optional<std::string> {
      auto it = files.find(path);
      return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    int interrupted = 0;
    for (int k = 0; k < kKills; ++k) {
      work = Prepare(k + 1);
      child = Start(work, command);
      EXPECT_TRUE(AwaitLog(child, work));
      std::this_thread::sleep_for(duration * std::uniform_real_distribution<>(k, k + 1)(random_) /
                                  kKills);
      ::kill(child, SIGKILL);
      Finish(child);
      const Files after = Snapshot(work, leftovers);
      interrupted += after != done;
      Files paths = done;
      paths.insert(after.begin(), after.end());
      for (const auto& [path, unused] : paths) {
        std::optional<std::string> now = content(after, path);
        EXPECT_TRUE(now == content(logged_, path) || (now && now == content(stage, path)) ||
                    now == content(done, path))
            << command << " killed " << k << ": " << path << " is neither old nor new ("
            << (now ? now->size() : 0) << " bytes)";
      }
    }
    EXPECT_GT(interrupted, 0) << "no kill landed inside the work";
    return done;
  }

  Files logged_;
  Files cached_;
  std::mt19937 random_{20250611};
  testing::ScopedTmpDir tmp_{root()};  // where a killed add leaves its private directory
};

TEST_F(CrashTest, AKilledAddLeavesEveryLogCopyAbsentCachedOrRewrittenAndWhole) {
  KillAndCheck("add", cached_);
}

TEST_F(CrashTest, AKilledRebuildLeavesEveryPageOldOrRewrittenAndTheNextRebuildCompletesIt) {
  const Files done = KillAndCheck("rebuild", {});
  // The last killed run, rebuilt to its end: what the kill left is gone, every page complete.
  std::string work = Path("run" + std::to_string(kKills));
  EXPECT_EQ(Finish(Start(work, "rebuild")), 0);
  int leftovers = 0;
  EXPECT_TRUE(Snapshot(work, leftovers) == done);
  EXPECT_EQ(leftovers, 0);
}

}  // namespace
}  // namespace lumbra
