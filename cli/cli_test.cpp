// lumbra-cli as a user meets it: the real executable, run in a temporary start directory;
// and lumbra-cli killed with SIGKILL in the middle of its work, after which every page and
// log copy it was replacing must hold its old or its new content, whole, never a torn mix.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "cli/terminal_frontend.h"
#include "platform/codepage.h"
#include "platform/job_lock.h"
#include "surf/surf_database.h"
#include "testing/ie2_fixture.h"
#include "testing/ie3_fixture.h"
#include "testing/ie4_fixture.h"
#include "testing/netscape_fixture.h"
#include "testing/surf_fixture.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

class CliTest : public testing::TempDirTest {
 protected:
  // Runs lumbra-cli with the given arguments (shell words) without a terminal; with `shell`,
  // runs that shell command with `args` instead (which then name lumbra-cli themselves).
  Result Run(const std::string& args, const std::string& shell = "") {
    std::string program = shell.empty() ? "'" + std::string(LUMBRA_CLI) + "'" : shell;
    std::string command =
        program + " " + args + " >'" + Path("out.txt") + "' 2>'" + Path("err.txt") + "' </dev/null";
    int raw = std::system(command.c_str());
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile("out.txt"), ReadFile("err.txt")};
    platform::DeleteFile(Path("out.txt"));
    platform::DeleteFile(Path("err.txt"));
    return r;
  }
  std::string InStart(const std::string& args) { return "-C '" + Path("start") + "' " + args; }
  // The paths of a job: cache, log A and index directory of the test.
  std::string JobPaths(const std::string& index = "idx") {
    return "--set CACHE_DIR=" + Path("cache") + " --set LOG_DIR_A=" + Path("save/alog") +
           " --set INDEX_DIR=" + Path(index) + " ";
  }
  // Starts lumbra-cli in the background (stdout to out.txt, stderr to err.txt); returns its
  // process id.
  pid_t Start(const std::string& args) {
    std::string command = std::string("exec '") + LUMBRA_CLI + "' " + args + " >'" +
                          Path("out.txt") + "' 2>'" + Path("err.txt") + "' </dev/null";
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return child;
  }
  // The exit status of a process started by Start (-1 when it did not exit).
  static int Wait(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  void SetUp() override {
    MakeDir("start");
    WriteFile("cache/index.dat", "x");
    MakeDir("save/alog");
  }
};

TEST_F(CliTest, HelpDocumentsEveryCommand) {
  Result r = Run("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"add", "rebuild [A|B|C|D|E]", "unreferenced DIR", "surf", "caches",
                           "settings", "-C DIR", "--yes", "--set KEY=VALUE", "--exec-log", "--wait",
                           "  -q ", "  log ", ".lumbra-lock", "READ_DOM", "LINK_STYLE"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
}

TEST_F(CliTest, BadUsageExitsWith2AndSaysWhy) {
  Result unknown = Run(InStart("frobnicate"));
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command frobnicate"), std::string::npos);
  Result key = Run(InStart("settings NO_SUCH=1"));
  EXPECT_EQ(key.status, 2);
  EXPECT_NE(key.err.find("unknown key"), std::string::npos);
  for (const char* set : {"--set READ_ALL=maybe settings", "--set LINK_STYLE=portable add",
                          "settings LINK_STYLE=portable"}) {
    Result bad = Run(InStart(set));
    EXPECT_EQ(bad.status, 2) << set;
    EXPECT_NE(bad.err.find("LINK_STYLE absolute or relative"), std::string::npos) << set;
  }
  Result dir = Run("-C '" + Path("no/such") + "' settings");
  EXPECT_EQ(dir.status, 2);
  EXPECT_NE(dir.err.find("cannot change to the start directory"), std::string::npos);
  EXPECT_EQ(Run("").status, 2);
}

TEST_F(CliTest, SettingsShowsOverridesAndSavesOnlyWhatItIsGiven) {
  Result defaults = Run(InStart("settings"));
  EXPECT_EQ(defaults.status, 0);
  EXPECT_EQ(defaults.out.substr(0, 11), "CACHE_DIR=\n");
  EXPECT_NE(defaults.out.find("READ_NEW=TRUE\nREAD_REF=TRUE\n"), std::string::npos);

  ASSERT_EQ(Run(InStart("settings CACHE_DIR=/c/cache READ_ALL=TRUE LINK_STYLE=Relative")).status,
            0);
  std::string ini = ReadFile("start/lumbra.ini");
  EXPECT_NE(ini.find("CACHE_DIR=/c/cache\r\n"), std::string::npos);
  EXPECT_NE(ini.find("READ_ALL=TRUE\r\n"), std::string::npos);
  EXPECT_TRUE(ini.ends_with("SURF_DIRS=\r\nLINK_STYLE=relative\r\n")) << ini;

  Result shown = Run(InStart("--set INDEX_DIR=/tmp/x settings"));
  EXPECT_NE(shown.out.find("INDEX_DIR=/tmp/x\n"), std::string::npos);
  EXPECT_EQ(ReadFile("start/lumbra.ini"), ini) << "--set is for this run only";
}

TEST_F(CliTest, QuestionsAreAnsweredNoWithoutATerminalAndYesWithTheFlag) {
  const std::string sets = JobPaths("new/idx");
  Result no = Run(InStart(sets + "rebuild"));
  EXPECT_EQ(no.status, 1);
  EXPECT_NE(no.err.find("インデックス　パスが存在しません\n　　　作成しますか"), std::string::npos);
  EXPECT_FALSE(platform::GetStatus(Path("new")).exists());

  Result yes = Run(InStart("--yes " + sets + "rebuild"));
  EXPECT_EQ(yes.status, 0) << yes.err;
  EXPECT_TRUE(platform::GetStatus(Path("new/idx")).isDirectory());
  // The end report is the job's result: on stdout, apart from the question on stderr.
  EXPECT_TRUE(yes.out.starts_with("ＨＴＭＬ 再構成　終了\n")) << yes.out;
  EXPECT_EQ(yes.err.find("再構成"), std::string::npos) << yes.err;
}

TEST_F(CliTest, RebuildOfAnEmptyLogDoesNothing) {
  Result r = Run(InStart("rebuild C"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("LOG_DIR_C is empty"), std::string::npos);
}

TEST_F(CliTest, SurfOnADatabaseOfAnotherEngineWritesNoIndexAndSaysWhy) {
  const std::string jet = std::string("\0\1\0\0Standard Jet DB\0", 20) + std::string(2028, '\0');
  WriteFile("start/lumbra.mdb", jet);
  Result r = Run(InStart("--yes --exec-log " + JobPaths() + "surf"));
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("no surf index was written"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile("start/lumbra.mdb"), jet);
  EXPECT_NE(platform::Cp932ToUtf8(ReadFile("start/lumbralog.txt"))
                .find("データベース　エラー　: file is not a database\r\n"),
            std::string::npos);
  EXPECT_FALSE(platform::GetStatus(Path("idx/surfidx.htm")).exists());
  EXPECT_NE(ReadFile("idx/top.htm").find("www_surf.htm"), std::string::npos);
}

TEST_F(CliTest, UnreferencedAndSurfEndWithThePageToOpen) {
  WriteFile("save/alog/h/p.html", "<a href=\"http://o.example/x.html\">x</a>");
  WriteFile("start/lumbrasurf.txt", "1 2 3 4 " + Path("save/alog/h/p.html") + "\n");
  Result unreferenced = Run(InStart("--yes " + JobPaths() + "unreferenced " + Path("save/alog")));
  EXPECT_EQ(unreferenced.status, 0) << unreferenced.err;
  EXPECT_TRUE(unreferenced.out.ends_with("\n結果のページ\n" + Path("idx/www_l.htm") + "\n"))
      << unreferenced.out;
  Result surf = Run(InStart("--yes " + JobPaths() + "surf"));
  EXPECT_EQ(surf.status, 0) << surf.err;
  EXPECT_TRUE(surf.out.ends_with("\n結果のページ\n" + Path("idx/surfidx.htm") + "\n")) << surf.out;
  // A rebuild's result is the frame page every job writes: it names no page.
  Result rebuild = Run(InStart("--yes " + JobPaths() + "rebuild"));
  EXPECT_EQ(rebuild.out.find("結果のページ"), std::string::npos) << rebuild.out;
}

TEST_F(CliTest, LogPrintsTheExecutionLogAsUtf8) {
  Result none = Run(InStart("log"));
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find(Path("start/lumbralog.txt") + ": No such file or directory"),
            std::string::npos)
      << none.err;
  ASSERT_EQ(Run(InStart("--yes --exec-log " + JobPaths() + "rebuild")).status, 0);
  Result shown = Run(InStart("log"));
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_TRUE(shown.out.starts_with("HTML 検索開始\nINDEX 作成開始\n実行処理終了　")) << shown.out;
  EXPECT_TRUE(shown.out.ends_with(" 秒\n")) << shown.out;
  EXPECT_EQ(shown.out.find('\r'), std::string::npos);
}

// On a terminal the progress line counts what is done and its rate; -q keeps it quiet.
TEST_F(CliTest, OnATerminalTheProgressLineCountsUnlessQuiet) {
  for (int i = 0; i < 3; ++i) WriteFile("save/alog/h/p" + std::to_string(i) + ".html", "<p>");
  const std::string job = InStart("--yes " + JobPaths() + "rebuild");
  const auto onTerminal = [&](const std::string& options) {
    return Run("-qec \"'" + std::string(LUMBRA_CLI) + "' " + options + job + "\" /dev/null",
               "script");
  };
  Result shown = onTerminal("");
  EXPECT_EQ(shown.status, 0) << shown.out;
  EXPECT_NE(shown.out.find("3件　"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("ＨＴＭＬ 再構成　終了"), std::string::npos) << shown.out;
  Result quiet = onTerminal("-q ");
  EXPECT_EQ(quiet.status, 0) << quiet.out;
  EXPECT_EQ(quiet.out.find("件　"), std::string::npos) << quiet.out;
  EXPECT_NE(quiet.out.find("ＨＴＭＬ 再構成　終了"), std::string::npos) << quiet.out;
}

TEST(ProgressCountsTest, DoneOfAllWhileCopyingAndTheRateOnceASecondHasPassed) {
  EXPECT_EQ(cli::ProgressCounts(JobCounters{.entryCount = 400, .scannedEntries = 30}, 0.5),
            "30/400件　");
  EXPECT_EQ(cli::ProgressCounts(JobCounters{.entryCount = 400, .scannedEntries = 30}, 2),
            "30/400件　15件/秒　");
  EXPECT_EQ(cli::ProgressCounts(JobCounters{.scannedFiles = 7}, 1), "7件　7件/秒　");
}

TEST_F(CliTest, ExcludeEditsTheSortedHostList) {
  ASSERT_EQ(Run(InStart("exclude add Zeta.example")).status, 0);
  ASSERT_EQ(Run(InStart("exclude add alpha.example")).status, 0);
  Result dup = Run(InStart("exclude add ZETA.EXAMPLE"));
  EXPECT_EQ(dup.status, 1);
  EXPECT_NE(dup.err.find("already excluded"), std::string::npos);
  EXPECT_EQ(Run(InStart("exclude")).out, "alpha.example\nZeta.example\n");
  ASSERT_EQ(Run(InStart("exclude remove zeta.example")).status, 0);
  EXPECT_EQ(ReadFile("start/lumbra-url.ini"), "alpha.example\r\n");
  EXPECT_EQ(Run(InStart("exclude remove nothere")).status, 1);
  EXPECT_EQ(Run(InStart("exclude drop x")).status, 2);
}

TEST_F(CliTest, CacheListsTheEntriesAfterPostProcessingAndTheLogOnlyWithTheFlag) {
  testing::Ie4Cache cache;
  cache.subdirectories = {"SUB00001"};
  cache.entries = {testing::CachedEntry("http://host/dir/?q=1", "q[1].htm", "text/html", "<html>"),
                   testing::CachedEntry("http://host:8080/pic", "pic[1]", "image/gif", "GIF")};
  testing::WriteIe4Cache(Path("ie4"), cache);
  const std::string args = "--set CACHE_DIR=" + Path("ie4") + " cache";
  ASSERT_EQ(Run(InStart(args)).status, 0);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>") << "the log only with --exec-log";

  Result r = Run(InStart("--exec-log " + args));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "http://host/dir/-q=1.html\t" + Path("ie4") +
                       "/SUB00001/q[1].htm\ttext/html\n"
                       "http://host-8080/pic.gif\t" +
                       Path("ie4") + "/SUB00001/pic[1]\timage/gif\n");
  EXPECT_EQ(r.err, "2 entries\n");
  EXPECT_NE(ReadFile("start/fat.txt"), "<missing>");
  EXPECT_NE(ReadFile("start/lumbralog.txt"), "<missing>");
  EXPECT_FALSE(platform::GetStatus(Path("save/alog/host")).exists());

  Result none = Run(InStart("--set CACHE_DIR=" + Path("save") + " cache"));
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("キャッシュ　データが存在しません"), std::string::npos);
}

// Copies of the real caches placed as the browsers of a user place them: in the cache
// directory $XDG_CACHE_HOME (so ~/.cache, which holds one too, is not looked at), a Firefox
// profile of profiles.ini kept elsewhere, Chromium's snap and Firefox's flatpak.
TEST_F(CliTest, CachesListsTheBrowserCachesOfTheUserWithTheirEntriesAndBytes) {
  struct Place {
    const char* real;  // below browser-caches/
    std::string dir;
    std::string line;  // browser TAB profile TAB layout
  } places[] = {
      {"firefox/cache2", "xdg/mozilla/firefox/ab12.default-esr/cache2",
       "Firefox\tab12.default-esr\tFirefox cache2"},
      {"firefox-full/cache2", "work-profile/cache2", "Firefox\twork-profile\tFirefox cache2"},
      {"firefox/cache2",
       "home/.var/app/org.mozilla.firefox/cache/mozilla/firefox/x9.default/cache2",
       "Firefox (flatpak)\tx9.default\tFirefox cache2"},
      {"chromium-simple", "xdg/chromium/Default/Cache/Cache_Data",
       "Chromium\tDefault\tChromium Simple Cache"},
      {"chromium-blockfile", "home/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data",
       "Chromium (snap)\tDefault\tChromium blockfile"},
      {"chromium-blockfile", "xdg/google-chrome/Profile 1/Cache/Cache_Data",
       "Google Chrome\tProfile 1\tChromium blockfile"},
  };
  for (const Place& place : places) {
    CopyRealData("browser-caches/" + std::string(place.real), place.dir);
  }
  CopyRealData("browser-caches/chromium-simple", "home/.cache/vivaldi/Default/Cache/Cache_Data");
  MakeDir("home/.mozilla/firefox/ab12.default-esr");
  WriteFile("home/.mozilla/firefox/profiles.ini",
            "[Profile1]\r\nName=work\r\nIsRelative=0\r\nPath=" + Path("work-profile") +
                "\r\n\r\n[Profile0]\r\nName=default-esr\r\nIsRelative=1\r\n"
                "Path=ab12.default-esr\r\nDefault=1\r\n");
  const std::string user =
      "HOME='" + Path("home") + "' XDG_CACHE_HOME='" + Path("xdg") + "' '" + LUMBRA_CLI + "'";

  Result r = Run(InStart("caches"), user);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "6 caches\n");
  std::string expected;
  for (const Place& place : places) {
    // The entries as `cache` lists them, reached here from the profile's own directory.
    const std::string named = place.line.starts_with("Firefox\tab12")
                                  ? Path("home/.mozilla/firefox/ab12.default-esr")
                                  : Path(place.dir);
    Result listed = Run(InStart("--set 'CACHE_DIR=" + named + "' cache"), user);
    ASSERT_EQ(listed.status, 0) << listed.err;
    const auto rows = std::count(listed.out.begin(), listed.out.end(), '\n');
    EXPECT_GT(rows, 20) << place.dir;
    std::uintmax_t bytes = 0;
    for (const auto& file : std::filesystem::recursive_directory_iterator(
             testing::RealDataPath("browser-caches/" + std::string(place.real)))) {
      if (file.is_regular_file()) bytes += file.file_size();
    }
    expected += place.line + "\t" + Path(place.dir) + "\t" + std::to_string(rows) + "\t" +
                std::to_string(bytes) + "\n";
  }
  EXPECT_EQ(r.out, expected);

  // A user without a browser cache: said on stderr, and no error.
  Result none = Run(InStart("caches"),
                    "HOME='" + MakeDir("empty") + "' XDG_CACHE_HOME= '" + LUMBRA_CLI + "'");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "no browser cache found (looked in " + Path("empty") +
                          "/.cache, ~/.mozilla/firefox/profiles.ini, ~/snap and ~/.var/app)\n");
  EXPECT_EQ(Run(InStart("caches now")).status, 2);
}

// A surf database from elsewhere names log directories anywhere: each with pages to rewrite
// and a vanished page whose copy Mirror 1 would delete. Only the site below SURF_DIRS is
// handled; the others are named in the log and counted, and nothing outside changes.
TEST_F(CliTest, SurfTouchesNothingOutsideTheStartDirectoryTheLogsAndSurfDirs) {
  // Its link to a local copy changes when it is rewritten.
  const std::string page = "<title>T</title><a href=\"a.html\">a</a>";
  for (const char* file : {"home/.bashrc", "home/notes.htm.txt", "home/index.html", "home/a.html",
                           "victims/gone.txt", "victims/page.html", "victims/a.html",
                           "crawl/log/site/a.html", "crawl/log/site/gone.gif"}) {
    WriteFile(file, page);
  }
  // The absolute path of a file below the test's directory as the rest of an http URL.
  auto below = [&](std::string_view file) { return "http://" + Path(file).substr(1); };
  testing::WriteSurfDatabase(
      Path("start/lumbra.mdb"),
      "INSERT INTO Param VALUES (2, 1, '/', '', 1, 1), (3, 2, '" + Path("home") +
          "', '', 1, 1), (4, 3, '../victims', '', 1, 1), (5, 4, '..', '', 1, 1),"
          "  (6, 5, '" +
          Path("crawl/log") +
          "', '', 1, 1);"
          "INSERT INTO Lumbra_log VALUES (2, '" +
          below("victims/gone.txt") + "', 404), (2, '" + below("victims/page.html") +
          "', 200), (2, '" + below("home/notes.htm.txt") +
          "', 200),"
          "  (3, 'http://.bashrc', 404), (3, 'http://notes.htm.txt', 200),"
          "  (3, 'http://index.html', 200),"
          "  (4, 'http://gone.txt', 404), (4, 'http://page.html', 200),"
          "  (5, 'http://victims/gone.txt', 404), (5, 'http://home/index.html', 200),"
          "  (6, 'http://site/a.html', 200), (6, 'http://site/gone.gif', 404);");
  auto outside = [&] {
    std::map<std::string, std::string> files;
    for (const std::string& file : FilesBelow(root())) {
      // The job's own lock file in its LogTree root is no change to what lies there.
      if (!file.starts_with("start/") && !file.starts_with("idx/") && !file.starts_with("crawl/") &&
          !file.ends_with("/.lumbra-lock")) {
        files[file] = ReadFile(file);
      }
    }
    return files;
  };
  const std::map<std::string, std::string> before = outside();
  ASSERT_EQ(before.count("home/.bashrc"), 1u);

  Result r = Run(InStart("--yes --exec-log " + JobPaths() + "--set 'SURF_DIRS=/nowhere;" +
                         Path("crawl") + "/' surf"));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("4 files could not be"), std::string::npos) << r.err;
  EXPECT_EQ(outside(), before);
  // The trusted site was handled.
  EXPECT_NE(ReadFile("crawl/log/site/a.html"), page);
  EXPECT_FALSE(platform::GetStatus(Path("crawl/log/site/gone.gif")).exists());
  const std::string log = platform::Cp932ToUtf8(ReadFile("start/lumbralog.txt"));
  for (std::string logDir :
       {std::string("/"), Path("home"), std::string("../victims"), std::string("..")}) {
    EXPECT_NE(log.find("外にあります : " + logDir + " ()\r\n"), std::string::npos) << log;
  }
}

// A view without end keeps the engine in a query's first row (its rows are sorted first): a
// signal interrupts the query, and the job ends as a stopped job does.
TEST_F(CliTest, ASignalStopsASurfJobInAQueryWithoutEnd) {
  const std::string endless = "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n)";
  struct Case {
    std::string name;
    std::string sql;
  } cases[] = {
      {"Param", "DROP TABLE Param; CREATE VIEW Param AS " + endless +
                    "  SELECT i AS ID, i AS No, 'crawl/log' AS LogDir, '' AS URL, 1 AS OnOff,"
                    "  0 AS Mirror FROM n;"},
      {"Lumbra_log",
       "INSERT INTO Param VALUES (2, 1, 'crawl/log', '', 1, 1);"
       "DROP TABLE Lumbra_log; CREATE VIEW Lumbra_log AS " +
           endless +
           "  SELECT 2 AS ParamID, 'http://site/' || i || '.gif' AS URL,"
           "  404 AS ReadStatus FROM n;"},
  };
  const std::string tmp = MakeDir("tmp");  // where the engine sorts
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Path("start"));
    MakeDir("start/crawl/log");
    testing::WriteSurfDatabase(Path("start/lumbra.mdb"), c.sql);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    pid_t child = Start(InStart("--yes --exec-log " + JobPaths() + "surf"));
    ::unsetenv("TMPDIR");
    ASSERT_GT(child, 0);
    ::usleep(500 * 1000);
    ::kill(child, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 1000 && ended == 0; ++i) {
      ::usleep(10 * 1000);
      ended = ::waitpid(child, &status, WNOHANG);
    }
    if (ended == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      ADD_FAILURE() << "still running 10 seconds after SIGTERM";
      continue;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << ReadFile("err.txt");
    EXPECT_TRUE(platform::GetStatus(Path("idx/surfidx.htm")).isRegular());
    // An interrupted query is no read error.
    EXPECT_EQ(ReadFile("start/lumbralog.txt").find(platform::ToCp932("エラー")), std::string::npos)
        << platform::Cp932ToUtf8(ReadFile("start/lumbralog.txt"));
  }
}

TEST_F(CliTest, ASignalStopsAnAddThatThenSaysHowToRewriteWhatItStored) {
  testing::Ie4Cache cache;
  for (int i = 0; i < 1000; ++i) {
    cache.entries.push_back(testing::CachedEntry("http://h/p" + std::to_string(i) + ".html",
                                                 "p" + std::to_string(i) + ".htm", "text/html",
                                                 "<title>t</title>"));
  }
  platform::DeleteFile(Path("cache/index.dat"));
  testing::WriteIe4Cache(Path("cache"), cache);
  const std::string tmp = MakeDir("tmp");
  ::setenv("TMPDIR", tmp.c_str(), 1);  // inherited by the job: its private directory is here
  pid_t child = Start(InStart("--yes " + JobPaths() + "add"));
  ::unsetenv("TMPDIR");
  ASSERT_GT(child, 0);
  // Stopped once the first page is stored, long before the last.
  for (int i = 0; i < 20000 && !platform::GetStatus(Path("save/alog/h/p0.html")).exists(); ++i) {
    ::usleep(1000);
  }
  ::kill(child, SIGTERM);
  // The job ends as after the abort button: no new-pages index, but the frame pages and the
  // report.
  EXPECT_EQ(Wait(child), 128 + SIGTERM);
  const std::string err = ReadFile("err.txt");
  EXPECT_TRUE(ReadFile("out.txt").starts_with("ログ追加処理　中止\n")) << ReadFile("out.txt");
  EXPECT_NE(err.find("run `lumbra-cli rebuild` to rewrite the pages stored so far"),
            std::string::npos)
      << err;
  EXPECT_FALSE(platform::GetStatus(Path("idx/newidx.htm")).exists());
  EXPECT_TRUE(platform::GetStatus(Path("idx/lumbra.htm")).exists());
  EXPECT_EQ(platform::ListDirectory(tmp)->size(), 2u) << "the private copy must be gone";
}

TEST_F(CliTest, FifosAndDevicesInPlaceOfItsFilesNeitherHangNorFeedAJob) {
  for (const char* name : {"start/lumbra.ini", "start/lumbra-url.ini", "start/lumbrasurf.txt"}) {
    MakeFifo(name);
  }
  platform::DeleteFile(Path("cache/index.dat"));
  MakeLink("/dev/zero", "cache/index.dat");  // would fill the disk if it were copied
  Result r = Run("60 '" + std::string(LUMBRA_CLI) + "' " + InStart("--yes " + JobPaths() + "add"),
                 "timeout");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("キャッシュファイルはシンボリックリンクのため読みません"),
            std::string::npos);
  EXPECT_NE(ReadFile("idx/top.htm").find("www_n.htm"), std::string::npos);
  EXPECT_EQ(ReadFile("idx/top.htm").find("Surf"), std::string::npos);
}

// After a good add the cache index of each layout turns into a FIFO, then into a link to the
// good index kept outside: the add refuses it, counts it, and the index of new pages stays.
TEST_F(CliTest, AnIndexTurnedIntoAFifoOrALinkIsRefusedAndLeavesTheNewPagesIndex) {
  const std::string page = "<title>T</title>";
  const std::string url = "http://h/a.html";
  const std::vector<testing::Ie3Entry> ie3 = {
      {.url = url, .fileName = "A0001.htm", .content = page}};
  const struct {
    const char* layout;
    const char* index;  // below the cache directory
    std::function<void(const std::string& dir)> write;
  } layouts[] = {
      {"Netscape", "fat.db",
       [&](const std::string& dir) {
         testing::WriteNetscapeCache(
             dir, {.entries = {testing::NetscapeFile(url, "a.htm", "text/html", page)}});
       }},
      {"Explorer 3.0", "cache1/mm256.dat",
       [&](const std::string& dir) { testing::WriteIe3Cache(dir, ie3); }},
      {"Explorer 3", "cache1/mm256.dat",
       [&](const std::string& dir) {
         testing::WriteIe3Cache(dir, ie3);
         testing::WriteBytes(dir + "/cache1/mm256.dat",
                             testing::BuildIe3Index(ie3, 256, "MM Cache 3.2").bytes);
       }},
      {"Explorer 4 to 9", "index.dat",
       [&](const std::string& dir) {
         testing::WriteIe4Cache(
             dir, {.entries = {testing::CachedEntry(url, "a.htm", "text/html", page)}});
       }},
      {"Explorer 2", "iexplore.cif",
       [&](const std::string& dir) {
         testing::WriteIe2Cache(dir,
                                {.entries = {{.url = url, .fileName = "a.htm", .content = page}}});
       }},
      {"Netscape on Unix", "index.db",
       [&](const std::string& dir) {
         testing::WriteNetscapeCache(
             dir, {.entries = {testing::NetscapeFile(url, "a.htm", "text/html", page)}});
         platform::RenameFile(dir + "/fat.db", dir + "/index.db");
       }},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.layout);
    const std::string cache = std::string("caches/") + layout.layout;
    layout.write(Path(cache));
    const std::string sets = "--yes --set 'CACHE_DIR=" + Path(cache) +
                             "' --set LOG_DIR_A=" + Path("save/alog") +
                             " --set INDEX_DIR=" + Path("idx") + " add";
    Result good = Run(InStart(sets));
    ASSERT_EQ(good.status, 0) << good.err;
    const std::string newPages = ReadFile("idx/newidx.htm");
    ASSERT_NE(newPages.find("a.html"), std::string::npos);

    const std::string index = cache + "/" + layout.index;
    const std::string kept = MakeDir("kept") + "/" + layout.layout;
    ASSERT_TRUE(platform::RenameFile(Path(index), kept));
    for (bool fifo : {true, false}) {
      SCOPED_TRACE(fifo ? "FIFO" : "link");
      if (fifo) {
        MakeFifo(index);
      } else {
        MakeLink(kept, index);
      }
      Result r = Run("60 '" + std::string(LUMBRA_CLI) + "' " + InStart(sets), "timeout");
      EXPECT_EQ(r.status, 3) << r.err;
      EXPECT_NE(r.err.find(std::string("キャッシュファイルは") +
                           (fifo ? "通常のファイルでないため読みません"
                                 : "シンボリックリンクのため読みません")),
                std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find("lumbra-cli: 1 file could not be copied"), std::string::npos);
      EXPECT_EQ(ReadFile("idx/newidx.htm"), newPages);
      platform::DeleteFile(Path(index));
    }
  }
}

// The caches of today's browsers are directories of entry files: a FIFO or a link in place of
// one is refused, counted and named in the execution log.
TEST_F(CliTest, AFifoOrALinkInPlaceOfAnEntryFileOfTodaysCachesIsRefusedAndCounted) {
  const struct {
    const char* real;   // below browser-caches/
    const char* entry;  // the entry file replaced, below the cache directory
    bool fifo;
  } cases[] = {
      {"chromium-simple", "0621a9c365288b2e_0", true},
      {"chromium-simple", "0621a9c365288b2e_0", false},
      {"chromium-blockfile", "f_000001", true},
      {"chromium-blockfile", "f_000001", false},
      {"firefox/cache2", "entries/12425CA35EC0B15C8D822F66A57A8B4E514BEAB5", true},
      {"firefox/cache2", "entries/12425CA35EC0B15C8D822F66A57A8B4E514BEAB5", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.real) + (c.fifo ? " FIFO" : " link"));
    const std::string cache = "cache" + std::to_string(++n);
    CopyRealData("browser-caches/" + std::string(c.real), cache);
    const std::string entry = cache + "/" + c.entry;
    const std::string kept = "kept" + std::to_string(n);
    ASSERT_TRUE(platform::RenameFile(Path(entry), Path(kept)));
    if (c.fifo) {
      MakeFifo(entry);
    } else {
      MakeLink(Path(kept), entry);
    }
    platform::DeleteFile(Path("start/lumbralog.txt"));
    Result r = Run("60 '" + std::string(LUMBRA_CLI) + "' " +
                       InStart("--yes --exec-log --set 'CACHE_DIR=" + Path(cache) +
                               "' --set LOG_DIR_A=" + Path("save" + std::to_string(n) + "/alog") +
                               " --set INDEX_DIR=" + Path("idx") + " add"),
                   "timeout");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("lumbra-cli: 1 file could not be copied"), std::string::npos) << r.err;
    const std::string log = platform::Cp932ToUtf8(ReadFile("start/lumbralog.txt"));
    EXPECT_NE(log.find(c.fifo ? "通常のファイルでないため読みません"
                              : "シンボリックリンクのため読みません"),
              std::string::npos)
        << log;
  }
}

TEST_F(CliTest, AJobWhoseDirectoryIsInUseIsRefusedOrWithWaitWaitsForIt) {
  WriteFile("save/alog/h/a.html", "<a href=\"b.html\">b</a>");
  WriteFile("save/alog/h/b.html", "<title>B</title>");
  WriteFile("start/lumbralog.txt", "the log of the job that runs");
  const std::string rewritten = "<a href=\"file://" + Path("save/alog/h/b.html") + "\">b</a>";
  // The lock another job would hold on log A, here held by this process.
  auto held = std::make_unique<platform::DirectoryLock>();
  ASSERT_EQ(held->Take(Path("save/alog"), nullptr).state, platform::LockState::Taken);

  Result refused = Run(InStart("--yes --exec-log " + JobPaths() + "rebuild"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("ディレクトリーを他の処理（プロセスID " + std::to_string(::getpid()) +
                             "）が使用中です\n" + Path("save/alog") + "\n"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(ReadFile("save/alog/h/a.html"), "<a href=\"b.html\">b</a>");
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "the log of the job that runs");
  EXPECT_FALSE(platform::GetStatus(Path("idx/lumbra.htm")).exists());

  pid_t waiting = Start(InStart("--yes --wait " + JobPaths() + "rebuild"));
  ASSERT_GT(waiting, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(::waitpid(waiting, nullptr, WNOHANG), 0) << "it must wait for the lock";
  EXPECT_EQ(ReadFile("save/alog/h/a.html"), "<a href=\"b.html\">b</a>");
  held.reset();
  EXPECT_EQ(Wait(waiting), 0) << ReadFile("err.txt");
  EXPECT_EQ(ReadFile("save/alog/h/a.html"), rewritten);
  EXPECT_NE(ReadFile("out.txt").find("ＨＴＭＬ 再構成　終了"), std::string::npos);
  EXPECT_EQ(ReadFile("save/alog/.lumbra-lock"), "") << "the lock is let go at the end";
  // The lock file is no page, no file of the index pages.
  EXPECT_EQ(ReadFile("idx/allidx_a.htm").find(".lumbra-lock"), std::string::npos);

  // A signal ends a wait: the job never begins.
  held = std::make_unique<platform::DirectoryLock>();
  ASSERT_EQ(held->Take(Path("idx"), nullptr).state, platform::LockState::Taken);
  WriteFile("save/alog/h/a.html", "<a href=\"b.html\">b</a>");
  waiting = Start(InStart("--yes --wait " + JobPaths() + "rebuild"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ::kill(waiting, SIGINT);
  EXPECT_EQ(Wait(waiting), 128 + SIGINT);
  EXPECT_EQ(ReadFile("save/alog/h/a.html"), "<a href=\"b.html\">b</a>");

  // The cache listing writes the execution log only under the start directory's lock.
  held = std::make_unique<platform::DirectoryLock>();
  ASSERT_EQ(held->Take(Path("start"), nullptr).state, platform::LockState::Taken);
  WriteFile("start/lumbralog.txt", "the log of the job that runs");
  Result listing = Run(InStart("--exec-log --set CACHE_DIR=" + Path("save") + " cache"));
  EXPECT_EQ(listing.status, 1) << listing.err;
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "the log of the job that runs");
}

TEST_F(CliTest, AnIndexPageThatCannotBeWrittenWholeLeavesTheOldOneAndExits3) {
  for (int i = 0; i < 150; ++i) {
    WriteFile("save/alog/host/a-rather-long-page-name-" + std::to_string(i) + ".html",
              "<title>A title long enough to fill the index page</title>");
  }
  WriteFile("idx/allidx_a.htm", "OLD INDEX");
  // A file-size limit of 16 KiB: the pages fit, the index page of 150 pages does not.
  Result r = Run(
      "-f 32; exec '" + std::string(LUMBRA_CLI) + "' " + InStart("--yes " + JobPaths() + "rebuild"),
      "ulimit");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(ReadFile("idx/allidx_a.htm"), "OLD INDEX");
  EXPECT_NE(r.err.find("ERROR : インデクスファイルが作成できません"), std::string::npos);
  EXPECT_NE(r.err.find("lumbra-cli: 1 file could not be copied, rewritten or written; run again "
                       "with --exec-log to have them named in lumbralog.txt"),
            std::string::npos)
      << r.err;
  EXPECT_NE(ReadFile("save/alog/host/a-rather-long-page-name-7.html").find("<title>"),
            std::string::npos);
}

// The link list meets a file-size limit part way (the pages and the log stay below it): every
// address left off the link page is counted and named in the log; the exit status is 3. With
// the log itself unwritable the summary line says so instead of naming it.
TEST_F(CliTest, UnreferencedCountsAndNamesEveryAddressTheLinkListCouldNotTake) {
  constexpr int kPages = 60;
  std::set<std::string> all;
  for (int p = 0; p < kPages; ++p) {
    const std::string address = "http://x.example/a" + std::to_string(p) + ".html";
    all.insert(address);
    std::string page = "<title>p</title>\n";
    for (int l = 0; l < 20; ++l) page += "<a href=\"" + address + "\">x</a>\n";
    WriteFile("save/alog/h/p" + std::to_string(p) + ".html", page);
  }
  // 60 pages of 20 lines of 32 bytes: the list would hold 38,400 bytes; the limit is 16 KiB.
  const std::string run =
      "-f 32; exec '" + std::string(LUMBRA_CLI) + "' " +
      InStart("--yes --exec-log " + JobPaths() + "unreferenced " + Path("save/alog"));
  Result r = Run(run, "ulimit");
  EXPECT_EQ(r.status, 3) << r.err;

  const std::string page = ReadFile("idx/search/htm/alog.link_htm.htm");
  const std::string log = ReadFile("start/lumbralog.txt");
  const std::string named = platform::ToCp932("    リンク一覧に書き込めなかったリンク : ");
  std::set<std::string> listed, lost;
  for (const std::string& address : all) {
    if (page.find("\"" + address + "\"") != std::string::npos) listed.insert(address);
    if (log.find(named + address + "\r\n") != std::string::npos) lost.insert(address);
  }
  EXPECT_FALSE(listed.empty());
  EXPECT_FALSE(lost.empty());
  EXPECT_EQ(listed.size() + lost.size(), all.size()) << "each address listed or named, once";
  EXPECT_NE(r.err.find("lumbra-cli: " + std::to_string(lost.size()) +
                       " files could not be copied, rewritten or written; " +
                       Path("start/lumbralog.txt") + " names them\n"),
            std::string::npos)
      << r.err;

  platform::DeleteFile(Path("start/lumbralog.txt"));
  MakeLink("/dev/full", "start/lumbralog.txt");
  Result full = Run(run, "ulimit");
  EXPECT_EQ(full.status, 3) << full.err;
  EXPECT_NE(full.err.find(Path("start/lumbralog.txt") +
                          " could not be written whole, so it does not name them all\n"),
            std::string::npos)
      << full.err;
}

// Killed with SIGKILL: every file of the LogTree is old or new, and whole.
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

// A surf job killed (SIGKILL at the system call, as strace injects it) at the first rename of
// its upkeep, and between its two renames, where no lumbra.mdb is left: the next surf job
// makes the upkeep good before anything else and runs as usual, and the database is whole.
TEST_F(CliTest, TheNextSurfJobMakesGoodAnUpkeepKilledAtEitherRename) {
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace cannot trace here";
  }
  const std::string finished = platform::ToCp932(kUpkeepFinished) + "\r\n";
  const auto exists = [this](const char* file) {
    return platform::GetLinkStatus(Path(file)).exists();
  };
  for (int when : {1, 2}) {
    SCOPED_TRACE(when);
    std::filesystem::remove_all(Path("start"));
    WriteFile("start/crawl/log/site/a.html", "<title>A</title>");
    testing::WriteSurfDatabase(Path("start/lumbra.mdb"),
                               "INSERT INTO Param VALUES (2, 1, 'crawl/log', 'site/', 1, 0);"
                               "INSERT INTO Lumbra_log VALUES (2, 'http://site/a.html', 200);");
    const std::string surf = InStart("--yes " + JobPaths() + "surf");
    Result killed = Run(surf,
                        "strace -f -o /dev/null -e trace=rename,renameat,renameat2 -e "
                        "inject=rename,renameat,renameat2:signal=KILL:when=" +
                            std::to_string(when) + " '" + LUMBRA_CLI + "'");
    EXPECT_NE(killed.status, 0);
    EXPECT_EQ(exists("start/lumbra.mdb"), when == 1);
    EXPECT_TRUE(exists("start/lumbra2.mdb"));

    Result next = Run(surf);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_TRUE(ReadFile("start/lumbra.mdb").starts_with("SQLite format 3"));
    EXPECT_FALSE(exists("start/lumbra2.mdb"));
    EXPECT_EQ(ReadFile("start/lumbra_log.txt"), when == 2 ? finished : "<missing>");
    // The site of the recovered database is indexed.
    EXPECT_NE(ReadFile("idx/surfidx.htm").find("crawl/log/site/a.html"), std::string::npos);
  }
}

// The programs speak English where the locale asks for it, and the system's own Japanese
// elsewhere, the C locale included; the files they write are the same in both. The English
// locale is not installed on the test machines: the catalog is found all the same.
TEST_F(CliTest, TheLocaleChoosesEnglishOrJapaneseForWhatIsShownButNotForTheFiles) {
  struct Texts {
    const char* lang;
    const char* report;    // the add's end report
    const char* refusal;   // a start check
    const char* question;  // asked, answered by --no
    const char* count;     // fennow's first line
  };
  for (const Texts& t : {Texts{"en_US.UTF-8", "Add to logs: done", "The cache path does not exist",
                               "The index path does not exist", "Directories\t"},
                         Texts{"C", "ログ追加処理　終了", "キャッシュ　パスが存在しません",
                               "インデックス　パスが存在しません", "ディレクトリー数\t"}}) {
    const std::string env = "env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=" + std::string(t.lang) +
                            " '" + LUMBRA_CLI + "'";
    const std::string work = MakeDir(std::string("in-") + t.lang);
    CopyRealData("browser-caches/firefox", work + "/cache");
    const std::string paths = "-C '" + work + "' --set CACHE_DIR=" + work +
                              "/cache --set LOG_DIR_A=" + work + "/save/log --set INDEX_DIR=";
    Result add = Run(paths + work + "/idx --yes --exec-log add", env);
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_NE(add.out.find(t.report), std::string::npos) << t.lang << ": " << add.out;
    Result refused = Run(paths + work + "/idx --set CACHE_DIR=" + work + "/none add", env);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(t.refusal), std::string::npos) << t.lang << ": " << refused.err;
    Result asked = Run(paths + work + "/idx2 --no rebuild", env);
    EXPECT_NE(asked.err.find(t.question), std::string::npos) << t.lang << ": " << asked.err;
#ifdef LUMBRA_FENNOW
    Result count =
        Run("--count '" + work + "/save'",
            "env -u LC_ALL -u LC_MESSAGES -u LANGUAGE -u DISPLAY LANG=" + std::string(t.lang) +
                " '" + LUMBRA_FENNOW + "'");
    EXPECT_EQ(count.status, 0) << count.err;
    EXPECT_TRUE(count.out.starts_with(t.count)) << t.lang << ": " << count.out;
#endif
  }
  // The pages, the index pages and the execution log (but its last line, the seconds taken)
  // do not change with the language.
  for (const char* file :
       {"save/log/localhost-47811/index.html", "idx/newidx.htm", "lumbralog.txt"}) {
    std::string english = ReadFile(std::string("in-en_US.UTF-8/") + file);
    std::string japanese = ReadFile(std::string("in-C/") + file);
    for (std::string* text : {&english, &japanese}) {
      if (std::string_view(file) == "lumbralog.txt")
        text->erase(text->rfind('\n', text->size() - 3));
      for (const char* dir : {"in-en_US.UTF-8", "in-C"}) {
        for (std::size_t at; (at = text->find(dir)) != std::string::npos;)
          text->replace(at, std::strlen(dir), "in-X");
      }
    }
    EXPECT_FALSE(english.empty()) << file;
    EXPECT_EQ(english, japanese) << file;
  }
}

class CrashTest : public CliTest {
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
  pid_t Start(const std::string& work, const std::string& command) {
    return CliTest::Start("-C '" + work + "/start' --yes --exec-log --set CACHE_DIR=" + work +
                          "/cache --set LOG_DIR_A=" + work + "/save/alog --set INDEX_DIR=" + work +
                          "/save " + command);
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

  // The files of the LogTree of `work`, with `work` itself written as "<work>" in them
  // (rewritten links hold absolute paths); the temporary files a kill left are counted apart.
  static Files Snapshot(const std::string& work, int& leftovers) {
    const std::string tree = work + "/save/alog";
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
      if (entry.is_directory()) continue;
      if (entry.path().filename() == platform::kJobLockName) continue;  // no file of the logs
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
    EXPECT_EQ(Wait(child), 0);
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
      Wait(child);
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
  EXPECT_EQ(Wait(Start(work, "rebuild")), 0);
  int leftovers = 0;
  EXPECT_TRUE(Snapshot(work, leftovers) == done);
  EXPECT_EQ(leftovers, 0);
}

// Two jobs started at once on one collection: one runs after the other (--wait), or the second
// refuses to start; either way the collection is what running them one after the other makes.
class TwoJobsTest : public CliTest {
 protected:
  // A small collection in its own directory (every one's name of one length): three hosts of
  // pages that link to each other, to pages never stored and to another host.
  std::string Prepare(int run) {
    const std::string work = Path("run" + std::to_string(run));
    MakeDir(work + "/start");
    for (int h = 0; h < 3; ++h) {
      for (int p = 0; p < 20; ++p) {
        WriteFile(work + "/save/alog/" + Host(h) + "/d/p" + std::to_string(p) + ".html",
                  PageHtml(h, p, "log"));
      }
    }
    return work;
  }
  // Every file of `work` but the execution output and the locks, with `work` written "<work>".
  static Files Collection(const std::string& work) {
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(work)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_directory() || name == platform::kJobLockName || name.starts_with("err")) {
        continue;
      }
      std::string content = platform::ReadFile(entry.path()).value_or("<unreadable>");
      for (std::size_t at = 0; (at = content.find(work, at)) != std::string::npos;) {
        content.replace(at, work.size(), "<work>");
      }
      files[fs::relative(entry.path(), work).string()] = std::move(content);
    }
    return files;
  }
  // Starts `command` on `work` in the background, its stderr in `work`/err`n`.
  pid_t StartOn(const std::string& work, const std::string& command, int n) {
    const std::string run = std::string("exec '") + LUMBRA_CLI + "' -C '" + work +
                            "/start' --yes --set LOG_DIR_A=" + work +
                            "/save/alog --set INDEX_DIR=" + work + "/save " + command +
                            " >/dev/null 2>'" + work + "/err" + std::to_string(n) + "' </dev/null";
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", run.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return child;
  }
};

// A job takes at least a second (it starts and ends on a second's turn), so every run of the
// test starts at once, each in its own copy of the collection. LUMBRA_TWO_JOBS_ATTEMPTS sets
// the attempts of each kind (3; more for a longer look).
TEST_F(TwoJobsTest, TwoJobsAtOnceEndAsTheyWouldOneAfterTheOther) {
  const char* attempts = std::getenv("LUMBRA_TWO_JOBS_ATTEMPTS");
  const int kAttempts = attempts != nullptr ? std::max(1, std::atoi(attempts)) : 3;
  struct Pair {
    std::string work;
    std::string wait;
    pid_t first;
    pid_t second;
  };
  struct Job {
    std::string command;
    std::string reference;  // the collection after one run of the command
    pid_t alone;
    std::vector<Pair> pairs;
  };
  const auto command = [](const std::string& name, const std::string& work) {
    return name == "rebuild" ? name : name + " " + work + "/save/alog/" + Host(1);
  };
  std::vector<Job> jobs;
  int run = 0;
  for (const std::string name : {"rebuild", "unreferenced"}) {
    Job job{name, Prepare(run++), 0, {}};
    job.alone = StartOn(job.reference, command(name, job.reference), 0);
    for (const std::string wait : {"", "--wait "}) {
      for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string work = Prepare(run++);
        const std::string both = wait + command(name, work);
        job.pairs.push_back({work, wait, StartOn(work, both, 1), StartOn(work, both, 2)});
      }
    }
    jobs.push_back(std::move(job));
  }
  for (Job& job : jobs) {
    ASSERT_EQ(Wait(job.alone), 0) << ReadFile(job.reference + "/err0");
    // Rebuilding or listing again changes nothing: two jobs one after the other end as one.
    const Files expected = Collection(job.reference);
    int refusals = 0;
    for (const Pair& pair : job.pairs) {
      const int statuses[] = {Wait(pair.first), Wait(pair.second)};
      for (int i = 0; i < 2; ++i) {
        const std::string err = ReadFile(pair.work + "/err" + std::to_string(i + 1));
        if (statuses[i] == 1 && pair.wait.empty() && statuses[1 - i] == 0) {
          ++refusals;
          EXPECT_NE(err.find("が使用中です"), std::string::npos) << err;
        } else {
          EXPECT_EQ(statuses[i], 0) << pair.wait << job.command << ": " << err;
        }
      }
      EXPECT_TRUE(Collection(pair.work) == expected) << pair.wait << job.command << " at once";
    }
    EXPECT_GT(refusals, 0) << job.command << ": no two jobs ever ran at once";
  }
}

}  // namespace
}  // namespace lumbra
