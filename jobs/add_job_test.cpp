#include "jobs/add_job.h"

#include <filesystem>
#include <optional>

#include "platform/codepage.h"
#include "rebuild/page_io.h"
#include "testing/ie4_fixture.h"
#include "testing/pages_done.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

constexpr long long kOld = 1700000000;
constexpr long long kNew = 1750000000;

// Each add runs every way its pages may be done (testing::PagesDone).
class LogAddTest : public testing::TempDirTest,
                   public ::testing::WithParamInterface<testing::PagesDone> {
 protected:
  void SetUp() override {
    ctx.startDir = MakeDir("start");
    ctx.cacheDir = Path("cache");
    ctx.logDir[0] = MakeDir("save/alog");
  }

  testing::Ie4Entry Entry(std::string url, std::string file, std::string type,
                          std::string content) {
    return testing::CachedEntry(std::move(url), std::move(file), std::move(type),
                                std::move(content), kNew);
  }

  bool Add() {
    counters = JobCounters{};
    index.Clear();
    platform::PathTable paths;
    JobTarget job = Target(fe, paths);
    return AddEntriesToLogs(job, CacheLayouts::BuiltIn(), cache);
  }
  JobTarget Target(Frontend& frontend, platform::PathTable& paths) {
    JobTarget job{ctx, counters, index, frontend, paths};
    job.later = testing::LaterFor(GetParam(), later);
    return job;
  }

  JobContext ctx;
  JobCounters counters;
  CacheEntryTable cache;
  IndexRecordTable index;
  testing::ScriptedFrontend fe;
  testing::Ie4Cache ie4;
  std::optional<PageReplacements> later;
};

// Without READ_HTM a page rewritten since it was stored is kept (the end-to-end add shows it).
TEST_P(LogAddTest, ReadHtmReplacesAChangedPageWithoutKeepingAnOldCopy) {
  WriteFile("save/alog/host/page.html", "rewritten earlier, longer than the cached page");
  testing::SetMtime(Path("save/alog/host/page.html"), kNew + 100);
  ie4.entries = {Entry("http://host/page.html", "page[1].html", "text/html", "<title>P</title>")};
  testing::WriteIe4Cache(Path("cache"), ie4);
  ctx.readBak = true;
  ctx.readHtm = true;
  ASSERT_TRUE(Add());
  EXPECT_EQ(ReadFile("save/alog/host/page.html"), "<title>P</title>");
  EXPECT_EQ(FilesBelow("save/alog"), std::vector<std::string>{"host/page.html"});
  EXPECT_EQ(index.size(), 1u);
}

// A style sheet is known by its content type or its name, and rewritten where it was stored.
TEST_P(LogAddTest, StoresAStyleSheetWithItsLinksPointedAtTheLog) {
  ie4.entries = {
      Entry("http://host/p.html", "p[1].html", "text/html",
            "<link rel=stylesheet href=\"site\"><img srcset=\"i.gif 2x\">"),
      Entry("http://host/site", "site[1]", "text/css; charset=utf-8", "a{background:url(i.gif)}"),
      Entry("http://host/more.css", "more[1].css", "text/plain", "@import 'gone.gif';"),
      Entry("http://host/i.gif", "i[1].gif", "image/gif", "GIF89a"),
  };
  testing::WriteIe4Cache(Path("cache"), ie4);
  ASSERT_TRUE(Add());
  const std::string gif = "file://" + Path("save/alog/host/i.gif");
  // Stored with the extension of its type, and found under it by the link that names it.
  EXPECT_EQ(ReadFile("save/alog/host/site.css"), "a{background:url(" + gif + ")}");
  EXPECT_EQ(ReadFile("save/alog/host/more.css"), "@import 'http://host/gone.gif';");
  EXPECT_EQ(ReadFile("save/alog/host/p.html"), "<link rel=stylesheet href=\"file://" +
                                                   Path("save/alog/host/site.css") +
                                                   "\"><img srcset=\"" + gif + " 2x\">");
  EXPECT_EQ(counters.loggedFiles, 4);
  EXPECT_EQ(counters.convertedPages, 1);
  EXPECT_EQ(index.size(), 1u);
}

// A copy fails where the old copy is read-only (seen in the first pass), and where the file
// system refuses the page's bytes (seen only as the page is stored, in the second pass: the
// add runs in a child whose files may grow to 20,000 bytes only).
TEST_P(LogAddTest, AFailedCopyIsNotCountedAndTheOldCopyStays) {
  std::string kept = WriteFile("save/alog/host/locked.html", "kept page");
  testing::SetMtime(kept, kOld);
  ASSERT_TRUE(platform::SetFileMode(kept, 0444));
  testing::SetMtime(WriteFile("save/alog/host/big.html", "old big page"), kOld);
  ie4.entries = {Entry("http://host/locked.html", "l[1].html", "text/html", "<title>New</title>"),
                 Entry("http://host/big.html", "b[1].html", "text/html",
                       "<title>Big</title>" + std::string(25000, 'x')),
                 Entry("http://host/small.html", "s[1].html", "text/html", "<title>S</title>"),
                 Entry("http://host/big.gif", "g[1].gif", "image/gif", std::string(25000, 'g'))};
  testing::WriteIe4Cache(Path("cache"), ie4);
  ctx.execLog = true;
  const std::string transcript = Path("transcript");
  ASSERT_TRUE(testing::InChildWithFileSizeLimit(20000, [&] {
    const bool added = Add();
    std::string told = std::to_string(counters.loggedFiles) + " " +
                       std::to_string(counters.failedFiles) + " " +
                       std::to_string(counters.convertedPages);
    for (int i = 0; i < 4; ++i) told += " " + std::to_string(cache.row(i).status);
    return added && testing::WriteBytes(transcript, told);
  }));
  // logged, failed, converted, then each entry's status
  EXPECT_EQ(ReadFile(transcript), "1 3 1 0 0 1 0");
  EXPECT_EQ(ReadFile("save/alog/host/locked.html"), "kept page");
  EXPECT_EQ(ReadFile("save/alog/host/big.html"), "old big page");
  EXPECT_EQ(ReadFile("save/alog/host/small.html"), "<title>S</title>");
  EXPECT_EQ(platform::ListDirectory(Path("save/alog/host"))->size(), 5u)  // with . and ..
      << "no temporary file may be left behind";
  EXPECT_NE(
      ReadFile("start/lumbralog.txt")
          .find(platform::ToCp932("    ファイルコピー失敗 : ") +
                Path("save/alog/host/locked.html") + "\r\n" +
                platform::ToCp932("    ファイルコピー失敗 : ") + Path("save/alog/host/big.gif") +
                "\r\n" + platform::ToCp932("ファイルコピー　終了")),
      std::string::npos);
}

TEST_P(LogAddTest, AHostileCacheIndexNeverHasAFileFromOutsideTheCacheCopied) {
  WriteFile("outside/secret", "SECRET");
  MakeLink(Path("outside/secret"), "cache/CACHE001/link[1].htm");
  MakeLink(Path("outside"), "cache/LINKED01");
  ie4.subdirectories = {"CACHE001", "..", "LINKED01"};
  auto hostile = [&](std::string url, std::string file, int slot) {
    testing::Ie4Entry entry = Entry(std::move(url), std::move(file), "image/gif", "");
    entry.subdirectory = slot;
    entry.writeFile = false;
    return entry;
  };
  ie4.entries = {
      Entry("http://host/ok.html", "ok[1].html", "text/html", "<title>OK</title>"),
      hostile("http://host/a.gif", "../../outside/secret", 0),
      hostile("http://host/b.gif", "outside/secret", 1),  // the slot names ".."
      hostile("http://host/c.gif", "link[1].htm", 0),
      hostile("http://host/d.gif", "secret", 2),
  };
  testing::WriteIe4Cache(Path("cache"), ie4);
  ctx.execLog = true;
  ASSERT_TRUE(Add());

  EXPECT_EQ(FilesBelow("save/alog"), std::vector<std::string>{"host/ok.html"});
  EXPECT_EQ(counters.loggedFiles, 1);
  EXPECT_EQ(counters.failedFiles, 4);
  EXPECT_EQ(index.size(), 1u);
  const std::string log = ReadFile("start/lumbralog.txt");
  for (const char* line :
       {"キャッシュの外を指す名前のため読みません : ", "シンボリックリンクのため読みません : "}) {
    EXPECT_NE(log.find(platform::ToCp932(line) + Path("cache/")), std::string::npos) << line;
  }
}

// A URL that would lead outside the log, by ".." or by "..\\" (a '/' to a browser), is refused
// with that reason and counted; nothing named "..\\.." is made.
TEST_P(LogAddTest, AUrlLeadingOutsideTheLogIsRefusedWithItsReason) {
  ie4.entries = {
      Entry("http://host/ok.html", "ok[1].html", "text/html", "<title>OK</title>"),
      Entry("http://host/..\\..\\x.html", "x[1].html", "text/html", "<title>X</title>"),
      Entry("http://host/a/../../y.html", "y[1].html", "text/html", "<title>Y</title>"),
  };
  testing::WriteIe4Cache(Path("cache"), ie4);
  ctx.execLog = true;
  ASSERT_TRUE(Add());
  EXPECT_EQ(FilesBelow("save"), std::vector<std::string>{"alog/host/ok.html"});
  EXPECT_EQ(counters.failedFiles, 2);
  const std::string log = ReadFile("start/lumbralog.txt");
  const std::string why = platform::ToCp932("ログの外を指す URL のため保存しません : ");
  EXPECT_NE(log.find(why + "http://host/..\\..\\x.html"), std::string::npos) << log;
  EXPECT_NE(log.find(why + "http://host/a/../../y.html"), std::string::npos) << log;
  EXPECT_EQ(log.find(platform::ToCp932("シンボリックリンク")), std::string::npos) << log;
  EXPECT_FALSE(platform::GetLinkStatus(Path("save/alog/host/..\\..")).exists());
}

TEST_P(LogAddTest, NothingIsWrittenThroughALinkInTheLogTree) {
  WriteFile("elsewhere/page.html", "<a href=\"x.html\">x</a>");
  WriteFile("elsewhere/target.gif", "TARGET");
  MakeLink(Path("elsewhere"), "save/alog/linked");
  MakeLink(Path("elsewhere"), "save/alog/host/sub");
  MakeLink(Path("elsewhere/target.gif"), "save/alog/host/c.gif");
  ie4.entries = {
      Entry("http://linked/a.html", "a[1].html", "text/html", "<title>A</title>"),
      Entry("http://linked/new/b.gif", "b[1].gif", "image/gif", "GIF b"),
      Entry("http://host/sub/c.html", "c[1].html", "text/html", "<title>C</title>"),
      Entry("http://host/c.gif", "c[1].gif", "image/gif", "GIF c"),
      Entry("http://host/ok.gif", "ok[1].gif", "image/gif", "GIF ok"),
  };
  testing::WriteIe4Cache(Path("cache"), ie4);
  ctx.logDir[0] = MakeLink(Path("save"), "saved") + "/alog";  // the root itself may be a link
  ctx.readDom = true;
  ctx.execLog = true;
  ASSERT_TRUE(Add());

  EXPECT_EQ(FilesBelow("elsewhere"), (std::vector<std::string>{"page.html", "target.gif"}));
  EXPECT_EQ(ReadFile("elsewhere/page.html"), "<a href=\"x.html\">x</a>");
  EXPECT_EQ(ReadFile("elsewhere/target.gif"), "TARGET");
  EXPECT_TRUE(std::filesystem::is_symlink(Path("save/alog/host/c.gif")));
  EXPECT_EQ(ReadFile("save/alog/host/ok.gif"), "GIF ok");
  EXPECT_EQ(counters.loggedFiles, 1);
  EXPECT_EQ(counters.failedFiles, 4);
  EXPECT_NE(ReadFile("start/lumbralog.txt")
                .find(platform::ToCp932("シンボリックリンクを経由するため保存しません : ") +
                      Path("saved/alog/linked/new/b.gif")),
            std::string::npos);
}

TEST_P(LogAddTest, ReadDomWalksEachHostOnceAndRewritesItsOtherPages) {
  WriteFile("save/alog/host/older.html", "<a href=\"new.html\">n</a>");
  ie4.entries = {
      Entry("http://host/new.html", "n[1].html", "text/html", "<title>N</title>"),
      Entry("http://host/a.gif", "a[1].gif", "image/gif", "GIF89a"),
      Entry("http://host/b.gif", "b[1].gif", "image/gif", "GIF89a"),
  };
  testing::WriteIe4Cache(Path("cache"), ie4);
  ctx.readDom = true;
  ASSERT_TRUE(Add());
  std::vector<std::string> indexed;
  for (std::size_t i = 0; i < index.size(); ++i) indexed.push_back(index[i].path);
  std::sort(indexed.begin(), indexed.end());
  EXPECT_EQ(indexed, (std::vector<std::string>{Path("save/alog/host/new.html"),
                                               Path("save/alog/host/older.html")}));
  EXPECT_EQ(ReadFile("save/alog/host/older.html"),
            "<a href=\"file://" + Path("save/alog/host/new.html") + "\">n</a>");
}

// A stop ends the job at once and leaves every page stored so far in the log: rewritten when
// the second pass reached it, as copied otherwise.
TEST_P(LogAddTest, AStopLeavesThePagesStoredSoFarInTheLog) {
  const std::string aPage = "<a href=\"b.html\">b</a>";
  const std::string bPage = "<a href=\"a.html\">a</a>";
  ie4.entries = {Entry("http://host/a.html", "a[1].html", "text/html", aPage),
                 Entry("http://host/b.html", "b[1].html", "text/html", bPage)};
  testing::WriteIe4Cache(Path("cache"), ie4);
  const std::string aRewritten = "<a href=\"file://" + Path("save/alog/host/b.html") + "\">b</a>";
  struct Case {
    int stopAt;  // the first pass asks for progress at a and b, the second at a and b again
    int logged;
    std::vector<std::string> files;
    std::string a;
    std::size_t indexed;
  };
  for (const Case& c : {Case{2, 1, {"host/a.html"}, aPage, 0},
                        Case{4, 2, {"host/a.html", "host/b.html"}, aRewritten, 1}}) {
    SCOPED_TRACE(c.stopAt);
    std::filesystem::remove_all(Path("save/alog/host"));
    fe = testing::ScriptedFrontend{};
    fe.StopAtProgressCall(c.stopAt);
    EXPECT_FALSE(Add());
    EXPECT_EQ(counters.loggedFiles, c.logged);
    EXPECT_EQ(FilesBelow("save/alog"), c.files);
    EXPECT_EQ(ReadFile("save/alog/host/a.html"), c.a);
    if (c.logged == 2) {
      EXPECT_EQ(ReadFile("save/alog/host/b.html"), bPage);
    }
    EXPECT_EQ(index.size(), c.indexed);
  }
}

// Two entries of one page: the second meets the copy of the first, as in cache order.
TEST_P(LogAddTest, TheSecondEntryOfAPageMeetsTheCopyOfTheFirst) {
  ie4.entries = {Entry("http://host/p.html", "p[1].html", "text/html", "<title>First</title>"),
                 Entry("http://host/p.html", "p[2].html", "text/html", "<title>Longer</title>!")};
  testing::WriteIe4Cache(Path("cache"), ie4);
  ASSERT_TRUE(Add());
  EXPECT_EQ(ReadFile("save/alog/host/p.html"), "<title>First</title>");
  EXPECT_EQ(counters.loggedFiles, 1);
  ASSERT_EQ(index.size(), 1u);
}

// A page in the way of a directory of the log is not stored, and the directory stays one for
// the links of the other pages.
TEST_P(LogAddTest, APageNamedLikeADirectoryOfTheLogLeavesTheDirectoryAlone) {
  WriteFile("save/alog/host/d.html/x.gif", "GIF");
  testing::SetMtime(Path("save/alog/host/d.html"), kOld);
  ie4.entries = {
      Entry("http://host/p.html", "p[1].html", "text/html", "<img src=\"d.html/x.gif\">"),
      Entry("http://host/d.html", "d[1].html", "text/html", "<title>D</title>")};
  testing::WriteIe4Cache(Path("cache"), ie4);
  ASSERT_TRUE(Add());
  EXPECT_EQ(counters.failedFiles, 1);
  EXPECT_EQ(ReadFile("save/alog/host/p.html"),
            "<img src=\"file://" + Path("save/alog/host/d.html/x.gif") + "\">");
}

// A page whose cached file is gone by the time the page is written is a failed copy: not in
// the log, not counted, not indexed.
TEST_P(LogAddTest, APageWhoseCachedFileVanishesIsAFailedCopy) {
  ie4.entries = {Entry("http://host/gone.html", "gone[1].html", "text/html", "<title>G</title>"),
                 Entry("http://host/kept.html", "kept[1].html", "text/html", "<title>K</title>")};
  testing::WriteIe4Cache(Path("cache"), ie4);
  struct RemovingFrontend : testing::ScriptedFrontend {
    std::string doomed;
    int ReportProgress(std::string_view text) override {
      if (progressCalls() == 2) std::filesystem::remove(doomed);  // the second pass begins
      return ScriptedFrontend::ReportProgress(text);
    }
  } removing;
  removing.doomed = Path("cache/CACHE001/gone[1].html");
  ctx.execLog = true;
  platform::PathTable paths;
  JobTarget job = Target(removing, paths);
  ASSERT_TRUE(AddEntriesToLogs(job, CacheLayouts::BuiltIn(), cache));
  EXPECT_EQ(FilesBelow("save/alog"), std::vector<std::string>{"host/kept.html"});
  EXPECT_EQ(counters.loggedFiles, 1);
  EXPECT_EQ(counters.failedFiles, 1);
  EXPECT_EQ(cache.row(0).status, 0);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index[0].path, Path("save/alog/host/kept.html"));
  EXPECT_NE(
      ReadFile("start/lumbralog.txt")
          .find(platform::ToCp932("ファイルコピー失敗 : ") + Path("save/alog/host/gone.html")),
      std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, LogAddTest, testing::EveryWayPagesAreDone(),
                         testing::PagesDoneName);

}  // namespace
}  // namespace lumbra
