// The surf job through the driver, on one database of several sites: which sites and pages it
// takes, where it finds their copies, what it deletes and what no row can make it delete.
#include <regex>
#include <set>

#include "app/job_driver.h"
#include "platform/codepage.h"
#include "testing/ie4_fixture.h"
#include "testing/scripted_frontend.h"
#include "testing/surf_fixture.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class InstantClock : public platform::Clock {
 public:
  std::int64_t NowSeconds() override { return now; }
  void SleepToNextSecond() override { ++now; }
  std::int64_t now = 5000;
};

class SurfRunTest : public testing::TempDirTest, public ::testing::WithParamInterface<bool> {
 protected:
  // Every file:// link of a page, without its fragment.
  std::set<std::string> FileLinks(const std::string& page) {
    std::set<std::string> links;
    const std::string text = ReadFile(page);
    const std::regex link("HREF=\"file://([^\"#]*)");
    for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
      links.insert((*it)[1]);
    }
    return links;
  }
};

TEST_P(SurfRunTest, TheEnabledSitesPagesAreRewrittenIndexedAndOnlyTheirVanishedCopiesDeleted) {
  const bool readDom = GetParam();
  Session session;
  session.startDir = MakeDir("start");
  session.surfAvailable = true;
  testing::WriteIe4Cache(Path("cache"), {});  // empty, for the add at the end
  session.settings.cacheDir = Path("cache");
  for (int k = 0; k < 3; ++k) {
    session.settings.logDir[k] = MakeDir(std::string("save/") + static_cast<char>('a' + k) + "log");
  }
  session.settings.indexDir = MakeDir("index");
  session.settings.readDom = readDom;

  const std::string page = "<title>T</title><a href=\"/dir/page.HTM\">p</a>";
  for (const char* file :
       {"crawl/log/site/dir/default.html", "crawl/log/site/dir/page.HTM",
        "crawl/log/site/dir/notes.txt", "crawl/log/site/other/out.html",
        "save/clog/site/dir/only-c.html", "save/clog/site/dir/gone.html",
        "crawl/log/site/dir/moved.gif", "crawl/log/site/dir/keep.html", "crawl/log/one/p.html",
        "crawl/log/off/p.html", "save/clog/emptysite/e.html", "crawl/victim.html", "victim.html",
        "outside/victim.html"}) {
    WriteFile(file, page);
  }
  MakeLink(Path("outside"), "crawl/log/site/link");
  const std::string crawl = Path("crawl/log");
  testing::WriteSurfDatabase(
      Path("start/lumbra.mdb"),
      "INSERT INTO Param VALUES (1, 1, '" + crawl +
          "', 'one/', 1, 1),"
          "  (2, 2, '" +
          crawl +
          "/', 'site/dir/start.html', 1, 1),"
          "  (3, 3, '" +
          crawl +
          "', 'off/', 0, 1),"
          "  (4, 4, '', 'emptysite/', 1, 1);"
          "INSERT INTO Lumbra_log VALUES"
          "  (1, 'http://one/p.html', 200), (3, 'http://off/p.html', 200),"
          "  (4, 'http://emptysite/e.html', 200),"
          "  (2, 'http://site/dir/', 200), (2, 'http://site/dir/page.HTM', 304),"
          "  (2, 'http://site/dir/notes.txt', 200), (2, 'http://site/other/out.html', 200),"
          "  (2, 'http://site/dir/only-c.html', 200), (2, 'http://site/dir/gone.html', 404),"
          "  (2, 'http://site/dir/moved.gif', 301), (2, 'http://site/dir/keep.html', 500),"
          // None of these has a local path: each would reach a victim, or keep.html, if it had.
          "  (2, 'http://site/../../victim.html', 404), (2, 'http://../victim.html', 400),"
          "  (2, 'http://site/link/victim.html', 404),"
          "  (2, 'http://site/dir/keep.html' || char(0) || '/../../../../victim.html', 302);");

  testing::ScriptedFrontend fe;
  InstantClock clock;
  JobDriver driver(session, fe, clock);
  ASSERT_TRUE(driver.Command(JobKind::RebuildSurf));
  EXPECT_TRUE(driver.lastJobCompleted());
  EXPECT_EQ(session.counters.scannedFiles, 12);
  EXPECT_EQ(session.counters.failedFiles, 0);

  std::set<std::string> indexed = {Path("crawl/log/site/dir/default.html"),
                                   Path("crawl/log/site/dir/page.HTM"),
                                   Path("save/clog/site/dir/only-c.html")};
  if (readDom) indexed.insert(Path("crawl/log/site/other/out.html"));
  std::set<std::string> surfLinks = FileLinks(Path("index/surfidx.htm"));
  surfLinks.erase(Path("index/newidx.htm"));
  for (int k = 0; k < 3; ++k) {
    surfLinks.erase(Path(std::string("index/allidx_") + static_cast<char>('a' + k) + ".htm"));
  }
  EXPECT_EQ(surfLinks, indexed);
  EXPECT_EQ(session.counters.convertedPages, static_cast<int>(indexed.size()));
  // Every page outside the index pages is rewritten exactly when it is indexed.
  for (const std::string& file : FilesBelow(root())) {
    const std::string path = Path(file);
    if (!file.starts_with("index/") && (path.ends_with(".html") || path.ends_with(".HTM"))) {
      EXPECT_EQ(ReadFile(path) != page, indexed.count(path) == 1) << file;
    }
  }
  EXPECT_FALSE(platform::GetStatus(Path("save/clog/site/dir/gone.html")).exists());
  EXPECT_FALSE(platform::GetStatus(Path("crawl/log/site/dir/moved.gif")).exists());
  for (const char* kept : {"crawl/log/site/dir/keep.html", "crawl/log/site/dir/notes.txt",
                           "crawl/victim.html", "victim.html", "outside/victim.html"}) {
    EXPECT_TRUE(platform::GetStatus(Path(kept)).isRegular()) << kept;
  }

  // The upkeep ran first: the database as the crawler left it is the fallback copy.
  EXPECT_TRUE(platform::GetStatus(Path("start/lumbra.odb")).isRegular());
  EXPECT_TRUE(platform::GetStatus(Path("start/lumbra.mdb")).isRegular());

  // The Surf link of the top bar leads to the site list of the surf index.
  EXPECT_NE(ReadFile("index/top.htm").find("file://" + Path("index/www_surf.htm")),
            std::string::npos);
  EXPECT_NE(ReadFile("index/www_surf.htm").find(platform::ToCp932("自動閲覧")), std::string::npos);
  EXPECT_EQ(FileLinks(Path("index/www_surf.htm")),
            std::set<std::string>{Path("index/surfidx.htm")});
  // The link bar of the surf index leads to the pages of the rebuild and the add.
  ASSERT_TRUE(driver.Command(JobKind::RebuildAllLogs));
  ASSERT_TRUE(driver.Command(JobKind::AddToLogs));
  driver.RunPostedJobs();
  for (const char* list : {"index/surfidx.htm", "index/www_surf.htm"}) {
    for (const std::string& link : FileLinks(Path(list))) {
      EXPECT_TRUE(platform::GetStatus(link).isRegular()) << list << ": " << link;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ReadDom, SurfRunTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

}  // namespace
}  // namespace lumbra
