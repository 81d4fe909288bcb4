#include "jobs/tree_walk.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "core/log_tree.h"
#include "jobs/rebuild_job.h"
#include "rebuild/page_io.h"
#include "testing/pages_done.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

// Each walk runs every way its pages may be done (testing::PagesDone).
class TreeWalkTest : public testing::TempDirTest,
                     public ::testing::WithParamInterface<testing::PagesDone> {
 protected:
  void SetUp() override {
    ctx.startDir = root();
    ctx.logDir[0] = MakeDir("save/alog");
  }
  // The target of a new job, which has asked nothing of the disk yet.
  JobTarget Target() {
    paths.emplace();
    JobTarget target{ctx, counters, index, fe, *paths};
    target.later = testing::LaterFor(GetParam(), later);
    return target;
  }
  std::vector<std::string> IndexedPaths() const {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < index.size(); ++i) paths.push_back(index[i].path);
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  JobContext ctx;
  JobCounters counters;
  IndexRecordTable index;
  testing::ScriptedFrontend fe;
  std::optional<platform::PathTable> paths;
  std::optional<PageReplacements> later;
};

TEST_P(TreeWalkTest, RewritesAndRecordsEveryPageBelowTheTree) {
  WriteFile("save/alog/host/a.html", "<title>A</title><a href=\"b.htm\">b</a>");
  WriteFile("save/alog/host/b.htm", "no title here");
  WriteFile("save/alog/host/sub/c.asp", "<title>C</title>");
  WriteFile("save/alog/host/pic.gif", "GIF89a");
  WriteFile("save/alog/host/page-old0001.html", "<title>Old</title>");
  WriteFile("save/alog/host/.cache/hidden.html", "<title>H</title>");
  JobTarget target = Target();
  ASSERT_TRUE(ReconstructAllLogs(target));
  EXPECT_EQ(IndexedPaths(),
            (std::vector<std::string>{Path("save/alog/host/a.html"), Path("save/alog/host/b.htm"),
                                      Path("save/alog/host/page-old0001.html"),
                                      Path("save/alog/host/sub/c.asp")}));
  EXPECT_EQ(counters.convertedPages, 4);
  EXPECT_EQ(counters.scannedFiles, 5);  // the hidden directory is not entered
  EXPECT_EQ(ReadFile("save/alog/host/a.html"),
            "<title>A</title><a href=\"file://" + Path("save/alog/host/b.htm") + "\">b</a>");
  for (std::size_t i = 0; i < index.size(); ++i) {
    if (index[i].path == Path("save/alog/host/b.htm")) {
      EXPECT_EQ(index[i].title, "No Title");
    }
  }
}

TEST_P(TreeWalkTest, RewritesStyleSheetsButRecordsOnlyPages) {
  WriteFile("save/alog/host/a.html", "<title>A</title>");
  WriteFile("save/alog/host/css/s.CSS", "p{background:url(../img/x.gif)}");
  WriteFile("save/alog/host/img/x.gif", "GIF89a");
  JobTarget target = Target();
  ASSERT_TRUE(ReconstructAllLogs(target));
  EXPECT_EQ(ReadFile("save/alog/host/css/s.CSS"),
            "p{background:url(file://" + Path("save/alog/host/img/x.gif") + ")}");
  EXPECT_EQ(IndexedPaths(), std::vector<std::string>{Path("save/alog/host/a.html")});
  EXPECT_EQ(counters.convertedPages, 1);
  EXPECT_EQ(counters.scannedFiles, 3);
}

TEST_P(TreeWalkTest, LeftoversOfAKilledReplacementAreRemovedAndNeverTakenForPages) {
  WriteFile("save/alog/h/p.html", "<title>P</title>");
  WriteFile("save/alog/h/.lumbra-tmp-Ab12Cd", "<title>half a page");
  WriteFile("save/alog/h/.lumbra-tmp-mine", "not of that pattern");
  std::string locked = WriteFile("save/alog/h/locked.html", "<title>L</title>");
  ASSERT_TRUE(platform::SetFileMode(locked, 0444));
  JobTarget target = Target();
  ASSERT_TRUE(ReconstructAllLogs(target));
  EXPECT_FALSE(platform::GetStatus(Path("save/alog/h/.lumbra-tmp-Ab12Cd")).exists());
  EXPECT_TRUE(platform::GetStatus(Path("save/alog/h/.lumbra-tmp-mine")).exists());
  EXPECT_EQ(counters.scannedFiles, 3);
  EXPECT_EQ(IndexedPaths(), (std::vector<std::string>{locked, Path("save/alog/h/p.html")}));
  // The read-only page is left alone, said so, and counted as a file not rewritten.
  EXPECT_EQ(counters.failedFiles, 1);
  EXPECT_EQ(fe.messages().size(), 1u);
}

TEST_P(TreeWalkTest, ALockFileIsNoDocumentAndOutsideTheJobsLocksNoTemporaryFileIsRemoved) {
  ctx.startDir = MakeDir("start");
  WriteFile("save/alog/.lumbra-lock", "4242\n");
  WriteFile("save/alog/h/.lumbra-lock", "");
  WriteFile("save/alog/h/p.html", "<title>P</title>");
  // Below no directory of this job: another job's replacement in the making.
  WriteFile("other/h/.lumbra-tmp-Ab12Cd", "<title>half a page");
  WriteFile("other/h/q.html", "<title>Q</title>");
  JobTarget target = Target();
  ASSERT_TRUE(ReconstructAllLogs(target));
  EXPECT_EQ(counters.scannedFiles, 1);
  EXPECT_EQ(IndexedPaths(), std::vector<std::string>{Path("save/alog/h/p.html")});
  ASSERT_TRUE(WalkLogTree(target, Path("other")));
  EXPECT_EQ(ReadFile("other/h/.lumbra-tmp-Ab12Cd"), "<title>half a page");
  EXPECT_EQ(counters.scannedFiles, 2);
}

TEST_P(TreeWalkTest, AWalkOfAHostDirectoryResolvesAgainstItsTree) {
  ctx.logDir[1] = MakeDir("more/blog");
  WriteFile("more/blog/other/x.html", "<a href=\"/y.html\">y</a>");
  WriteFile("more/blog/other/y.html", "");
  JobTarget target = Target();
  ASSERT_TRUE(WalkLogTree(target, Path("more/blog/other")));
  EXPECT_EQ(TreeRootOf(Path("more/blog/other")), Path("more/blog"));
  EXPECT_EQ(ReadFile("more/blog/other/x.html"),
            "<a href=\"file://" + Path("more/blog/other/y.html") + "\">y</a>");
}

TEST_P(TreeWalkTest, OnlyTheConfiguredTreesAreWalked) {
  ctx.logDir[0] = "";
  ctx.logDir[2] = MakeDir("c/clog");
  WriteFile("c/clog/h/p.html", "");
  WriteFile("save/alog/h/q.html", "");
  JobTarget target = Target();
  ASSERT_TRUE(ReconstructAllLogs(target));
  EXPECT_EQ(IndexedPaths(), std::vector<std::string>{Path("c/clog/h/p.html")});
  ASSERT_TRUE(ReconstructOneLog(target, 1));  // A is not configured: nothing
  ASSERT_TRUE(ReconstructOneLog(target, 7));
  EXPECT_EQ(index.size(), 1u);
}

TEST_P(TreeWalkTest, SymbolicLinksAreNeverFollowedOrRewritten) {
  std::string outside = WriteFile("outside/page.html", "<a href=\"x.html\">x</a>");
  WriteFile("save/alog/h/real.html", "");
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("save/alog/h/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), Path("save/alog/h/filelink.html").c_str()), 0);
  ASSERT_EQ(::symlink(Path("save/alog").c_str(), Path("save/alog/h/loop").c_str()), 0);
  JobTarget target = Target();
  ASSERT_TRUE(ReconstructAllLogs(target));
  EXPECT_EQ(IndexedPaths(), std::vector<std::string>{Path("save/alog/h/real.html")});
  EXPECT_EQ(ReadFile("outside/page.html"), "<a href=\"x.html\">x</a>");
  EXPECT_TRUE(std::filesystem::is_symlink(Path("save/alog/h/filelink.html")));
}

TEST_P(TreeWalkTest, AStopEndsTheWalkAtTheNextProgressCall) {
  for (int i = 0; i < 5; ++i) WriteFile("save/alog/h/p" + std::to_string(i) + ".html", "");
  fe.StopAtProgressCall(4);
  JobTarget target = Target();
  EXPECT_FALSE(ReconstructAllLogs(target));
  EXPECT_LT(index.size(), 5u);
  EXPECT_EQ(fe.progressCalls(), 4) << "nothing more is visited after the stop";
}

// Pages that cannot be written, among pages that can and pages that may not be: the
// messages, the records and the counts come in the order of the pages (the listing's), and
// nothing is left behind. In a child, whose files may grow to 20,000 bytes only.
TEST_P(TreeWalkTest, FailuresAreToldAndCountedInTheOrderOfThePages) {
  const std::string big = "<title>Big</title>" + std::string(25000, 'x') + "<a href=a.html>a</a>";
  WriteFile("save/alog/h/a.html", "<title>A</title><a href=\"d.html\">d</a>");
  WriteFile("save/alog/h/d.html", "<title>D</title><a href=\"a.html\">a</a>");
  for (char n : {'1', '2', '3', '4'}) {
    WriteFile(std::string("save/alog/h/big") + n + ".html", big);
    ASSERT_TRUE(platform::SetFileMode(
        WriteFile(std::string("save/alog/h/locked") + n + ".html", "<title>L</title>"), 0444));
  }
  const std::string transcript = Path("transcript");
  ASSERT_TRUE(testing::InChildWithFileSizeLimit(20000, [&] {
    JobTarget target = Target();
    const bool completed = ReconstructAllLogs(target);
    std::string told;
    for (const std::string& message : fe.messages()) told += "message " + message + "\n";
    for (std::size_t i = 0; i < index.size(); ++i) {
      told += "record " + index[i].path + " " + index[i].title + "\n";
    }
    told += "failed " + std::to_string(counters.failedFiles) + " converted " +
            std::to_string(counters.convertedPages) + "\n";
    return completed && testing::WriteBytes(transcript, told);
  }));
  const std::optional<std::vector<std::string>> names =
      platform::ListDirectory(Path("save/alog/h"));
  ASSERT_TRUE(names);
  std::string messages;
  std::string records;
  for (const std::string& name : *names) {
    const std::string page = Path("save/alog/h/" + name);
    if (name.starts_with("big")) {
      messages +=
          "message ERROR : 再構成したファイルを書き込むことができません\rpath=" + page + "\n";
    } else if (name.starts_with("locked")) {
      messages += "message ERROR : 再構成するファイルを開くことができません\rpath=" + page + "\n";
    }
    // A page not rewritten is recorded without its title.
    if (name.ends_with(".html")) {
      records += "record " + page + " " +
                 (name == "a.html"   ? "A"
                  : name == "d.html" ? "D"
                                     : "No Title") +
                 "\n";
    }
  }
  EXPECT_EQ(ReadFile(transcript), messages + records + "failed 8 converted 10\n");
  EXPECT_EQ(ReadFile("save/alog/h/big1.html"), big);
  EXPECT_EQ(ReadFile("save/alog/h/d.html"),
            "<title>D</title><a href=\"file://" + Path("save/alog/h/a.html") + "\">a</a>");
  EXPECT_EQ(names->size(), 12u) << "no temporary file may be left behind";
}

INSTANTIATE_TEST_SUITE_P(EveryWay, TreeWalkTest, testing::EveryWayPagesAreDone(),
                         testing::PagesDoneName);

}  // namespace
}  // namespace lumbra
