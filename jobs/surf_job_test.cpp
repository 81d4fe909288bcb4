#include "jobs/surf_job.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "testing/page_test.h"
#include "testing/surf_fixture.h"

namespace lumbra::testing {
namespace {

class SurfJobTest : public PageTest {
 public:
  using PageTest::MakeDir;
  std::string Mdb() const { return Path("lumbra.mdb"); }

 protected:
  void SetUp() override {
    PageTest::SetUp();
    ctx.execLog = true;
  }
  // The job's work: 1 when it read anything (surfidx.htm is written then), else 0.
  int RunJob() {
    platform::PathTable paths;
    JobTarget job{ctx, counters, table, frontend, paths};
    const SurfOutcome outcome = SurfWork(job, session);
    stopped = outcome.stopped;
    return outcome.read ? 1 : 0;
  }
  // A database of one site whose one page lies in its log directory.
  void WriteOneSite(std::string_view moreSql = "") {
    WriteFile("crawl/log/site/a.html", "<title>A</title>");
    WriteSurfDatabase(Mdb(), "INSERT INTO Param VALUES (2, 1, '" + Path("crawl/log") +
                                 "', 'site/', 1, 0);"
                                 "INSERT INTO Lumbra_log VALUES (2, 'http://site/a.html', 200);" +
                                 std::string(moreSql));
  }
  bool Exists(std::string_view name) const { return platform::GetStatus(Path(name)).exists(); }
  std::vector<std::string> IndexedPaths() const {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < table.size(); ++i) paths.push_back(table[i].path);
    return paths;
  }

  JobCounters counters;
  SurfSession session;
  bool stopped = false;
};

TEST_F(SurfJobTest, TheUpkeepKeepsTheFormerFileAndCompactsTheDatabaseBeforeEveryJob) {
  // Rows written and deleted again leave free pages that the compaction drops.
  WriteOneSite(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)"
      "  INSERT INTO Lumbra_log SELECT 9, 'http://pad/' || i || printf('%.900c', 'x'), 200"
      "  FROM n;"
      "DELETE FROM Lumbra_log WHERE ParamID = 9;");
  const std::string crawled = ReadFile(Mdb());
  CompactSurfDatabase(ctx);
  EXPECT_EQ(ReadFile("lumbra.odb"), crawled);
  const std::string compacted = ReadFile(Mdb());
  EXPECT_LT(compacted.size() * 4, crawled.size());
  EXPECT_FALSE(Exists("lumbra2.mdb"));

  // The next job's upkeep replaces the fallback, and the job reads the compacted rows.
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(ReadFile("lumbra.odb"), compacted);
  EXPECT_EQ(IndexedPaths(), std::vector<std::string>{Path("crawl/log/site/a.html")});
  EXPECT_FALSE(Exists("lumbra_log.txt"));
  EXPECT_FALSE(Exists("lumbralog.txt"));
  EXPECT_EQ(session.surfDatabase, nullptr);
}

struct RefusedUpkeep {
  std::string name;
  // Prepares the refusal; what it returns is held until the job has run.
  std::function<std::shared_ptr<void>(SurfJobTest&)> refuse;
  std::string engineText;  // {root} stands for the test's directory
  bool jobReads;
};
void PrintTo(const RefusedUpkeep& c, std::ostream* os) { *os << c.name; }

class RefusedUpkeepTest : public SurfJobTest,
                          public ::testing::WithParamInterface<RefusedUpkeep> {};

TEST_P(RefusedUpkeepTest, LogsOneLineSwapsNothingAndTheJobGoesOn) {
  WriteOneSite();
  std::shared_ptr<void> held = GetParam().refuse(*this);
  const std::string before = ReadFile(Mdb());
  std::string text = GetParam().engineText;
  if (std::size_t at = text.find("{root}"); at != std::string::npos) text.replace(at, 6, root());

  EXPECT_EQ(RunJob(), GetParam().jobReads ? 1 : 0);
  EXPECT_EQ(ReadFile("lumbra_log.txt"), J(kDatabaseError) + text + "\r\n");
  EXPECT_EQ(ReadFile(Mdb()), before);
  EXPECT_FALSE(Exists("lumbra.odb"));
  EXPECT_EQ(table.size(), GetParam().jobReads ? 1u : 0u);
  EXPECT_EQ(ReadFile("lumbralog.txt"),
            GetParam().jobReads ? "<missing>" : J(kDatabaseError) + text + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Upkeep, RefusedUpkeepTest,
    ::testing::Values(RefusedUpkeep{"ExclusiveLockOfAnotherConnection",
                                    [](SurfJobTest& t) {
                                      auto other = std::make_shared<SqlConnection>(t.Mdb());
                                      other->Exec("BEGIN EXCLUSIVE");
                                      return std::shared_ptr<void>(other);
                                    },
                                    "database is locked", false},
                      // Its WAL would be taken for the compacted file's.
                      RefusedUpkeep{"WalKeptByAnotherConnection",
                                    [](SurfJobTest& t) {
                                      auto other = std::make_shared<SqlConnection>(t.Mdb());
                                      other->Exec(
                                          "PRAGMA journal_mode=WAL;"
                                          "INSERT INTO Param VALUES (7, 7, '', '', 0, 0);");
                                      return std::shared_ptr<void>(other);
                                    },
                                    "database is in use by another connection (lumbra.mdb-wal)",
                                    true},
                      RefusedUpkeep{"CopyCannotBeMade",
                                    [](SurfJobTest& t) {
                                      t.MakeDir("lumbra2.mdb/in-the-way");
                                      return std::shared_ptr<void>();
                                    },
                                    "unable to open database: {root}/lumbra2.mdb", true},
                      RefusedUpkeep{"NotAnSqliteFile",
                                    [](SurfJobTest& t) {
                                      // The start of a database of the Windows system's own engine.
                                      WriteBytes(t.Mdb(),
                                                 std::string("\0\1\0\0Standard Jet DB\0", 20) +
                                                     std::string(2028, '\0'));
                                      return std::shared_ptr<void>();
                                    },
                                    "file is not a database", false}),
    [](const auto& info) { return info.param.name; });

TEST_F(SurfJobTest, RenamesNeverReplaceAFileSoACopyInTheWayWaitsForTheNextUpkeep) {
  WriteOneSite();
  const std::string crawled = ReadFile(Mdb());
  WriteFile("lumbra.odb/kept", "not to be removed");
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(ReadFile(Mdb()), crawled);
  EXPECT_EQ(ReadFile("lumbra.odb/kept"), "not to be removed");
  EXPECT_TRUE(ReadFile("lumbra2.mdb").starts_with(std::string("SQLite format 3\0", 16)));
  EXPECT_EQ(table.size(), 1u);
  EXPECT_FALSE(Exists("lumbra_log.txt"));
}

// The files an upkeep killed after each of its steps leaves behind; the next job starts from
// every one of them and reads the database.
TEST_F(SurfJobTest, TheNextJobStartsFromWhatAnUpkeepKilledAtAnyStepLeft) {
  WriteOneSite();
  const std::string crawled = ReadFile(Mdb());
  // The upkeep's own files, made in a directory of their own.
  JobContext other = ctx;
  other.startDir = MakeDir("other");
  ASSERT_TRUE(WriteBytes(other.StartFile("lumbra.mdb"), crawled));
  CompactSurfDatabase(other);
  const std::string compacted = ReadFile("other/lumbra.mdb");
  ASSERT_NE(compacted, crawled);
  const std::string older = "an older fallback";

  struct Case {
    std::string name;
    std::string mdb, odb, copy;  // the files' contents; empty: no such file
    std::string_view line;       // the recovery's line in lumbra_log.txt, if any
  } cases[] = {
      {"CopyRemoved", crawled, older, "", {}},
      {"CopyHalfWritten", crawled, older, compacted.substr(0, compacted.size() / 2), {}},
      {"CopyWritten", crawled, older, compacted, {}},
      {"FallbackRemoved", crawled, "", compacted, {}},
      // Where renameat2 is missing, a rename is a link and an unlink.
      {"DatabaseLinkedAsFallback", crawled, crawled, compacted, {}},
      {"CopyLinkedAsDatabase", compacted, crawled, compacted, {}},
      // Between the two renames.
      {"DatabaseRenamed", "", crawled, compacted, kUpkeepFinished},
      // A copy that fails its check is not taken: the upkeep is undone.
      {"DatabaseRenamedCopyDamaged", "", crawled, compacted.substr(0, compacted.size() / 2),
       kUpkeepUndone},
      {"Done", compacted, crawled, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* file : {"lumbra.mdb", "lumbra.odb", "lumbra2.mdb", "lumbra_log.txt"}) {
      platform::DeleteFile(Path(file));
    }
    if (!c.mdb.empty()) WriteBytes(Mdb(), c.mdb);
    if (!c.odb.empty()) WriteBytes(Path("lumbra.odb"), c.odb);
    if (!c.copy.empty()) WriteBytes(Path("lumbra2.mdb"), c.copy);
    EXPECT_EQ(platform::GetStatus(Mdb()).exists() || SurfUpkeepInterrupted(root()), true);
    table.Clear();

    EXPECT_EQ(RunJob(), 1);
    EXPECT_EQ(IndexedPaths(), std::vector<std::string>{Path("crawl/log/site/a.html")});
    EXPECT_EQ(ReadFile("lumbra_log.txt"), c.line.empty() ? "<missing>" : J(c.line) + "\r\n");
    EXPECT_TRUE(ReadFile(Mdb()).starts_with("SQLite format 3"));
    EXPECT_FALSE(Exists("lumbra2.mdb"));
  }
}

TEST_F(SurfJobTest, AnEmptyParamTableReadsNothingAndLogsNothing) {
  WriteSurfDatabase(Mdb(), "");
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(counters.scannedFiles, 0);
  EXPECT_FALSE(Exists("lumbralog.txt"));
  EXPECT_FALSE(Exists("lumbra_log.txt"));
}

TEST_F(SurfJobTest, AReadErrorEndsTheRowsOfItsSiteAndTheNextSiteGoesOn) {
  for (const char* page : {"a1.html", "a2.html", "a3.html", "b1.html"}) {
    WriteFile(std::string("crawl/log/site/") + page, "<title>x</title>");
  }
  const std::string crawl = Path("crawl/log");
  // Each row fills a page of its own, so that the second one can be damaged alone.
  WriteSurfDatabase(
      Mdb(),
      "ALTER TABLE Lumbra_log ADD COLUMN Pad TEXT;"
      "INSERT INTO Param VALUES (2, 1, '" +
          crawl + "', 'site/', 1, 0), (3, 2, '" + crawl +
          "', 'site/', 1, 0);"
          "INSERT INTO Lumbra_log SELECT column1, column2, 200, printf('%.3000c', column3)"
          "  FROM (VALUES (2, 'http://site/a1.html', 'a'), (2, 'http://site/a2.html', 'D'),"
          "  (2, 'http://site/a3.html', 'a'), (3, 'http://site/b1.html', 'b'));");
  std::string bytes = ReadFile(Mdb());
  const std::size_t page = bytes.find(std::string(3000, 'D')) / 4096 * 4096;
  bytes.replace(page, 4096, std::string(4096, '\xff'));
  WriteBytes(Mdb(), bytes);

  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(IndexedPaths(), (std::vector<std::string>{Path("crawl/log/site/a1.html"),
                                                      Path("crawl/log/site/b1.html")}));
  EXPECT_EQ(ReadFile("lumbralog.txt"),
            SiteRowsQuery(2) + " " + J(kReadError) + "database disk image is malformed\r\n");
  // The damage fails the integrity check: no compacted copy replaced the file.
  const std::string upkeep = ReadFile("lumbra_log.txt");
  EXPECT_TRUE(upkeep.starts_with(J(kDatabaseError) + "*** in database main *** Page ")) << upkeep;
  EXPECT_EQ(upkeep.find("\r\n"), upkeep.size() - 2);
}

TEST_F(SurfJobTest, NoCountOfPagesEndsTheConversion) {
  WriteFile("crawl/log/site/b.html", "<title>B</title>");
  WriteFile("crawl/log/site/gone.gif", "GIF");
  WriteOneSite(
      "UPDATE Param SET Mirror = 1;"
      "INSERT INTO Lumbra_log VALUES (2, 'http://site/b.html', 200),"
      "  (2, 'http://site/gone.gif', 404);");
  counters.convertedPages = 19998;  // the 19,999 pages a job once stopped at are passed
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(IndexedPaths(), (std::vector<std::string>{Path("crawl/log/site/a.html"),
                                                      Path("crawl/log/site/b.html")}));
  EXPECT_EQ(counters.convertedPages, 20000);
  EXPECT_EQ(counters.scannedFiles, 3);
  EXPECT_FALSE(Exists("crawl/log/site/gone.gif"));
}

TEST_F(SurfJobTest, AStopEndsTheWalkOverAllSitesAndTheIndexIsStillWritten) {
  WriteFile("crawl/log/other/b.html", "<title>B</title>");
  WriteOneSite("INSERT INTO Param VALUES (3, 2, '" + Path("crawl/log") +
               "', 'other/', 1, 0);"
               "INSERT INTO Lumbra_log VALUES (3, 'http://other/b.html', 200);");
  frontend.StopAtProgressCall(3);  // the first page's, after the upkeep's and its site's
  EXPECT_EQ(RunJob(), 1);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(counters.scannedFiles, 1);
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(session.surfDatabase, nullptr);
}

TEST_F(SurfJobTest, ASiteLogDirectoryIsTrustedOnlyBelowTheStartDirectoryTheLogsOrSurfDirs) {
  // Beside the test's directory: one listed in SURF_DIRS, one whose name only begins alike.
  const std::string parent = root().substr(0, root().rfind('/'));
  const std::string listed = root() + "-listed", alike = root() + "-alike";
  std::filesystem::create_directories(listed + "/log");
  std::filesystem::create_directories(alike);
  MakeDir("crawl/log");
  MakeDir("save/alog/site");
  MakeLink(listed + "/log", "crawl/away");
  MakeLink(root(), "save/alog/up");
  ctx.surfDirs = {listed + "/log/../", Path("no/such")};
  struct Case {
    std::string logDir;
    SitePlace place;
    std::string path;  // the directory the site works with
  } cases[] = {
      {"crawl/log/", SitePlace::Trusted, Path("crawl/log")},
      {Path("crawl/./log"), SitePlace::Trusted, Path("crawl/log")},
      {ctx.logDir[0], SitePlace::Trusted, ctx.logDir[0]},
      {ctx.logDir[0] + "/site/", SitePlace::Trusted, ctx.logDir[0] + "/site"},
      {"crawl/away", SitePlace::Trusted, listed + "/log"},  // a link into SURF_DIRS
      {listed, SitePlace::Trusted, listed},
      {"crawl/no-such-log", SitePlace::Missing, Path("crawl/no-such-log")},
      // The start directory itself holds lumbra.ini and lumbra.mdb.
      {".", SitePlace::Outside, root()},
      {root() + "/", SitePlace::Outside, root()},
      {ctx.logDir[0] + "/up", SitePlace::Outside, root()},  // a link out of a LogTree
      {"..", SitePlace::Outside, parent},
      {"/", SitePlace::Outside, ""},
      {alike, SitePlace::Outside, alike},
  };
  for (const Case& c : cases) {
    const SiteRoot got = CheckSiteRoot(ctx, c.logDir);
    EXPECT_EQ(got.place, c.place) << c.logDir;
    EXPECT_EQ(got.path, c.path) << c.logDir;
  }
  ctx.surfDirs = {"/"};
  EXPECT_EQ(CheckSiteRoot(ctx, "/").place, SitePlace::Trusted);
  std::filesystem::remove_all(listed);
  std::filesystem::remove_all(alike);
}

TEST_F(SurfJobTest, OnlyPathsThatEndInAPageExtensionAreRewritten) {
  // Its link to a local copy changes when it is rewritten.
  const std::string page = "<title>T</title><a href=\"a.htm\">a</a>";
  std::string rows;
  for (const char* file : {"a.htm", "b.HTML", "c.Asp", "d.htm.txt", "e.aspx", "f.html.bak",
                           "dir.htm/g.txt", "h.shtml"}) {
    WriteFile(std::string("crawl/log/site/") + file, page);
    rows += std::string(rows.empty() ? "" : ",") + "(2, 'http://site/" + file + "', 200)";
  }
  WriteSurfDatabase(Mdb(),
                    "INSERT INTO Param VALUES (2, 1, 'crawl/log', 'site/', 1, 0);"
                    "INSERT INTO Lumbra_log VALUES " +
                        rows + ";");
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(counters.scannedFiles, 8);
  const std::vector<std::string> pages = {
      Path("crawl/log/site/a.htm"), Path("crawl/log/site/b.HTML"), Path("crawl/log/site/c.Asp")};
  EXPECT_EQ(IndexedPaths(), pages);
  for (const std::string& file : FilesBelow("crawl/log/site")) {
    const std::string path = Path("crawl/log/site/" + file);
    EXPECT_EQ(ReadFile(path) != page, std::count(pages.begin(), pages.end(), path) == 1) << file;
  }
}

// Long tables whose rows do nothing but are read one by one: each row asks for a stop.
TEST_F(SurfJobTest, EveryRowAsksForAStopAndAStopEndsTheWalkAtOnce) {
  struct Case {
    std::string name;
    std::string sql;
    int stopAt;       // the progress call that answers a stop
    int scanned;      // rows of Lumbra_log looked at by then
    int gifsDeleted;  // vanished copies deleted by then
  } cases[] = {
      // 1,000 sites that are off: the upkeep's call, then one per site.
      {"ParamRows",
       "WITH RECURSIVE n(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM n WHERE i < 1002)"
       "  INSERT INTO Param SELECT i, i, 'crawl/log', '', 0, 1 FROM n;",
       10, 0, 0},
      // 1,000 vanished copies of one site: the upkeep's call, its site's, then one per row.
      {"SiteRows",
       "WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 1999)"
       "  INSERT INTO Lumbra_log SELECT 2, 'http://site/' || i || '.gif', 404 FROM n;",
       10, 8, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Path("crawl"));
    platform::DeleteFile(Mdb());
    for (int i = 1000; i < 2000; ++i) {
      WriteFile("crawl/log/site/" + std::to_string(i) + ".gif", "GIF");
    }
    WriteFile("crawl/log/site/z.html", "<title>Z</title>");
    // The one page comes last: in the order of sites, and after the vanished copies.
    WriteSurfDatabase(Mdb(), c.sql +
                                 "INSERT INTO Param VALUES (2, 5000, 'crawl/log', '', 1, 1);"
                                 "INSERT INTO Lumbra_log VALUES (2, 'http://site/z.html', 200);");
    frontend = ScriptedFrontend();
    frontend.StopAtProgressCall(c.stopAt);
    counters = JobCounters();
    table.Clear();
    EXPECT_EQ(RunJob(), 1);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(frontend.progressCalls(), c.stopAt);
    EXPECT_EQ(counters.scannedFiles, c.scanned);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(FilesBelow("crawl/log/site").size(), 1001u - c.gifsDeleted);
    EXPECT_FALSE(Exists("lumbralog.txt"));
  }
}

TEST_F(SurfJobTest, TheSurfListReconstructsTheDirectoriesOfItsPaths) {
  for (const char* page : {"a/b.htm", "c/d.html", "e/f.html", "g/h.html", "top.html"}) {
    WriteFile(ctx.logDir[0] + "/host/" + page, "<title>x</title>");
  }
  MakeLink(ctx.logDir[0] + "/host/g", ctx.logDir[0] + "/host/link");
  const std::string host = ctx.logDir[0] + "/host/";
  WriteFile("lumbrasurf.txt", "1 2 3 4 " + host + "a/b.htm\r\n5 6 7 8 " + host + "c\n9\t10 11 12 " +
                                  host + "e/\n1 2 3 4 " + host + "link/h.html\n1 2 3");
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(IndexedPaths(),
            (std::vector<std::string>{host + "a/b.htm", host + "c/d.html", host + "e/f.html"}));
  WriteFile("lumbrasurf.txt", "1 2 3 4");
  EXPECT_EQ(RunJob(), 0);
}

}  // namespace
}  // namespace lumbra::testing
