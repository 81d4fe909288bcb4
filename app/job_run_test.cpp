// Whole jobs through the driver, as a front end runs them: the log-add job on caches of every
// layout, the add and the reconstruction of the bundled sample cache, and the surf job on one
// database of several sites (which sites and pages it takes, where it finds their copies,
// what it deletes and what no row can make it delete).
#include <array>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "app/job_driver.h"
#include "cache/cache_layout.h"
#include "core/log_tree.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "testing/ie2_fixture.h"
#include "testing/ie3_fixture.h"
#include "testing/ie4_fixture.h"
#include "testing/netscape_fixture.h"
#include "testing/scripted_frontend.h"
#include "testing/surf_fixture.h"
#include "testing/temp_dir.h"
#include "testing/todays_cache_fixture.h"

namespace lumbra {
namespace {

class JobRunTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    session.startDir = MakeDir("start");
    session.settings.logDir[0] = Path("save/log");
    session.settings.indexDir = Path("index");
    fe.QueueAnswers({true, true, true, true});
  }

  // Runs one job command to its end; whether the job completed.
  bool Run(JobKind kind) {
    JobDriver driver(session, fe, clock);
    EXPECT_TRUE(driver.Command(kind)) << ::testing::PrintToString(fe.messages());
    driver.RunPostedJobs();
    return driver.lastJobCompleted();
  }

  // Every file:// link of a page, without its fragment.
  std::set<std::string> FileLinks(const std::string& page) {
    std::set<std::string> links;
    std::string text = ReadFile(page);
    std::regex link("(?:HREF|SRC)=\"file://([^\"#]*)", std::regex::icase);
    for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
      links.insert((*it)[1]);
    }
    return links;
  }

  Session session;
  testing::ScriptedFrontend fe;
  testing::SteppingClock clock;
};

TEST_F(JobRunTest, TheSampleCacheBecomesACollectionWhoseLinksAllLead) {
  session.settings.cacheDir = LUMBRA_SOURCE_DIR "/examples/sample-cache";
  platform::ReplaceFileContent(Path("start/lumbra-url.ini"), "ads.example.com\r\n", 0644);
  Run(JobKind::AddToLogs);
  Run(JobKind::RebuildAllLogs);

  std::set<std::string> pages = {Path("index/lumbra.htm")};
  std::set<std::string> seen;
  // Follow every local link from the frameset, page by page.
  while (!pages.empty()) {
    std::string page = *pages.begin();
    pages.erase(pages.begin());
    if (!seen.insert(page).second) continue;
    ASSERT_TRUE(platform::GetStatus(page).isRegular()) << "a link leads nowhere: " << page;
    if (page.find(".htm") == std::string::npos) continue;
    for (const std::string& target : FileLinks(page)) pages.insert(target);
    if (page == Path("index/lumbra.htm")) {
      for (const char* frame : {"top.htm", "www_n.htm", "newidx.htm"}) {
        pages.insert(Path(std::string("index/") + frame));
      }
    }
  }
  EXPECT_TRUE(seen.count(Path("index/www_a.htm")));
  EXPECT_TRUE(seen.count(Path("save/log/www.example.jp/home.html")));
  EXPECT_TRUE(seen.count(Path("save/log/docs.example.org/guide/shot.jpg")));
  EXPECT_FALSE(platform::GetStatus(Path("save/log/ads.example.com")).exists());
}

// https is stored and linked like http, under the host's own directory (one file for both
// schemes: of two entries the rule of two entries of one URL decides, which keeps the first
// here), and the index pages of the add and of a later rebuild send a page fetched over https
// to its https address.
TEST_F(JobRunTest, HttpsEntriesAreStoredLinkedAndIndexedUnderTheirHost) {
  testing::Ie4Cache cache;
  cache.entries = {
      testing::CachedEntry("https://secure.example/a/two.html", "two[1].html", "text/html",
                           "<title>Two</title><a href=\"https://secure.example/a/page\">p</a>"
                           "<a href=\"HTTPS://secure.example/none.html\">n</a>"),
      testing::CachedEntry("http://secure.example/a/two.html", "old[1].html", "text/html",
                           "<title>Old</title>"),
      testing::CachedEntry("https://secure.example/a/page", "page[1].html",
                           "text/html; charset=utf-8", "<title>Page</title>"),
      testing::CachedEntry("http://plain.example/x.html", "x[1].html", "text/html",
                           "<title>X</title>"),
  };
  testing::WriteIe4Cache(Path("cache"), cache);
  session.settings.cacheDir = Path("cache");
  ASSERT_TRUE(Run(JobKind::AddToLogs));
  EXPECT_EQ(session.counters.convertedPages, 3);
  EXPECT_EQ(ReadFile("save/log/secure.example/a/two.html"),
            "<title>Two</title><a href=\"file://" + Path("save/log/secure.example/a/page.html") +
                "\">p</a><a href=\"https://secure.example/none.html\">n</a>");
  EXPECT_EQ(ReadFile("save/log/.lumbra-https"), "secure.example\r\n");
  for (const char* page : {"index/newidx.htm", "index/allidx_a.htm"}) {
    if (std::string(page) == "index/allidx_a.htm") {
      ASSERT_TRUE(Run(JobKind::RebuildAllLogs));
      EXPECT_EQ(session.counters.scannedFiles, 3) << "the tree's list of https hosts is no file";
    }
    const std::string index = ReadFile(page);
    EXPECT_NE(index.find("\"https://secure.example/a/two.html\""), std::string::npos) << page;
    EXPECT_NE(index.find("\"http://plain.example/x.html\""), std::string::npos) << page;
    EXPECT_EQ(index.find("http://secure.example"), std::string::npos) << page;
  }
}

// A cache of today's web: https only, content types with parameters, srcset, a style sheet
// without an extension, a title in UTF-8 and a URL of 300 bytes. Every entry is stored under
// its host with its extension, every link of both pages leads to a local copy, and the index
// shows the title in Shift-JIS with what it lacks as a reference.
TEST_F(JobRunTest, ACacheOfTodaysWebBecomesACollectionOfLocalLinks) {
  const std::string query = "https://secure.example/q?id=" + std::string(272, 'x');
  testing::Ie4Cache cache;
  cache.entries = {
      testing::CachedEntry("https://secure.example/a/two.html", "two[1].html", "text/html",
                           "<title>Two</title><link rel=stylesheet href=\"/s/site\">"
                           "<img srcset=\"pic 2x\"><a href='https://secure.example/a/page'>p</a>"
                           "<a href=\"" +
                               query + "\">q</a>"),
      testing::CachedEntry("https://secure.example/a/page", "page[1].html",
                           "text/html; charset=utf-8",
                           "<title>\xC3\x9Cn\xC3\xAF"
                           "c\xC3\xB8"
                           "d\xC3\xA9 \xE2\x98\x83 "
                           "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E</title>"
                           "<img srcset=\"/a/pic 1x, pic 2x\">"),
      testing::CachedEntry("https://secure.example/s/site", "site[1]", "text/css",
                           "body{background:url(../a/pic)}"),
      testing::CachedEntry("https://secure.example/a/pic", "pic[1]", "image/png", "PNG"),
      testing::CachedEntry(query, "q[1].htm", "text/html", "<title>Q</title>"),
  };
  ASSERT_EQ(query.size(), 300u);
  testing::WriteIe4Cache(Path("cache"), cache);
  session.settings.cacheDir = Path("cache");
  ASSERT_TRUE(Run(JobKind::AddToLogs)) << ::testing::PrintToString(fe.messages());
  EXPECT_EQ(session.counters.loggedFiles, 5);
  EXPECT_EQ(session.counters.failedFiles, 0);
  const std::string host = Path("save/log/secure.example");
  const std::string pic = "file://" + host + "/a/pic.png";
  // Its name, with ".html", is too long for a file name: it is stored under its short name.
  const std::string queryPage = host + "/" + ShortNames("q-id=" + std::string(272, 'x') + ".html");
  EXPECT_EQ(ReadFile(host + "/a/two.html"),
            "<title>Two</title><link rel=stylesheet href=\"file://" + host +
                "/s/site.css\">"
                "<img srcset=\"" +
                pic + " 2x\"><a href='file://" + host +
                "/a/page.html'>p</a>"
                "<a href=\"" +
                query + "\">q</a>");  // a link's query is no part of the file it finds
  EXPECT_EQ(ReadFile(host + "/a/page.html").substr(ReadFile(host + "/a/page.html").find("<img")),
            "<img srcset=\"" + pic + " 1x, " + pic + " 2x\">");
  EXPECT_EQ(ReadFile(host + "/s/site.css"), "body{background:url(" + pic + ")}");
  EXPECT_EQ(ReadFile(host + "/a/pic.png"), "PNG");
  EXPECT_EQ(ReadFile(queryPage), "<title>Q</title>");
  const std::string index = ReadFile("index/newidx.htm");
  EXPECT_NE(index.find(platform::ToCp932("&#xDC;n&#xEF;c&#xF8;d&#xE9; &#x2603; 日本語")),
            std::string::npos);
  EXPECT_NE(index.find("\"https://secure.example/a/page.html\""), std::string::npos);
}

// A path component too long for a file name is stored under its short name, and a link to it
// finds it there; a URL longer than the cache keeps is refused and counted, not cut.
TEST_F(JobRunTest, LongUrlsAreStoredLinkedOrRefusedButNeverCut) {
  const std::string component = std::string(400, 'c') + ".html";
  const std::string longUrl = "http://long.example/d/" + component;
  const std::string tooLong = "http://long.example/" + std::string(9000, 't');
  testing::Ie4Cache cache;
  cache.version = testing::Ie4Version::V52;
  cache.entries = {
      testing::CachedEntry("http://long.example/d/index.html", "i[1].html", "text/html",
                           "<a href=\"" + component + "\">c</a>"),
      testing::CachedEntry(longUrl, "c[1].html", "text/html", "<title>C</title>"),
      testing::CachedEntry(tooLong, "t[1].html", "text/html", "<title>T</title>"),
  };
  testing::WriteIe4Cache(Path("cache"), cache);
  session.settings.cacheDir = Path("cache");
  ASSERT_TRUE(Run(JobKind::AddToLogs));
  const std::string stored = Path("save/log/long.example/d/") + ShortNames(component);
  EXPECT_EQ(ReadFile(stored), "<title>C</title>");
  EXPECT_EQ(ReadFile("save/log/long.example/d/index.html"),
            "<a href=\"file://" + stored + "\">c</a>");
  EXPECT_EQ(session.counters.loggedFiles, 2);
  EXPECT_EQ(session.counters.failedFiles, 1);
  EXPECT_FALSE(platform::StatPath(Path("save/log/long.example/t")).exists());
}

TEST_F(JobRunTest, AddStoresWhatIsNewKeepsOldCopiesAndIndexesTheNewPages) {
  constexpr long long kEarlier = 1700000000;
  constexpr long long kCached = 1750000000;
  // The log as an earlier add left it: an image since changed in the cache, an image that
  // did not change, and a page that was stored and rewritten (newer and of another size).
  WriteFile("save/log/host/pic.gif", "GIF old");
  testing::SetMtime(Path("save/log/host/pic.gif"), kEarlier);
  WriteFile("save/log/host/same.gif", "GIF same");
  testing::SetMtime(Path("save/log/host/same.gif"), kCached + 10);
  WriteFile("save/log/host/page.html", "<title>Page</title>rewritten earlier");
  testing::SetMtime(Path("save/log/host/page.html"), kCached + 10);

  auto entry = [&](std::string url, std::string file, std::string type, std::string content) {
    return testing::CachedEntry(std::move(url), std::move(file), std::move(type),
                                std::move(content), kCached);
  };
  testing::Ie4Cache cache;
  cache.entries = {
      entry("http://host/", "h[1].htm", "text/html",
            "<title>Home</title><a href=\"page.html\">p</a><img src=\"pic.gif\">"
            "<a href=\"missing.html\">m</a><img src=\"http://ads.example/b.gif\">"),
      entry("http://host/page.html", "p[1].html", "text/html", "<title>Page</title>"),
      entry("http://host/pic.gif", "pic[1].gif", "image/gif", "GIF new"),
      entry("http://host/same.gif", "same[1].gif", "image/gif", "GIF same"),
      entry("http://ads.example/b.gif", "b[1].gif", "image/gif", "GIF ad"),
      entry("news:group", "n[1].txt", "text/plain", "no place in the logs"),
  };
  testing::WriteIe4Cache(Path("cache"), cache);
  platform::ReplaceFileContent(Path("start/lumbra-url.ini"), "ads.example\r\n", 0644);
  session.settings.cacheDir = Path("cache");
  session.settings.readBak = true;
  session.settings.execLog = true;

  Run(JobKind::AddToLogs);
  // The excluded entry counts once among those looked at; the one without a scheme not.
  EXPECT_EQ(fe.messages().back(),
            "ログ追加処理　終了\r\r"
            "チェック総ファイル数　\t     5件\r"
            "ログ登録ファイル数　　\t     2件\r"
            "変換ファイル数　　　　\t     1件\r"
            "総経過時間　　　　　　\t     1秒\r");
  EXPECT_EQ(FilesBelow("save/log/host"),
            (std::vector<std::string>{"home.html", "page.html", "pic-old0001.gif", "pic.gif",
                                      "same.gif"}));
  EXPECT_FALSE(platform::GetStatus(Path("save/log/ads.example")).exists());
  EXPECT_EQ(ReadFile("save/log/host/pic-old0001.gif"), "GIF old");
  EXPECT_EQ(ReadFile("save/log/host/pic.gif"), "GIF new");
  EXPECT_EQ(ReadFile("save/log/host/page.html"), "<title>Page</title>rewritten earlier");
  EXPECT_EQ(ReadFile("save/log/host/home.html"),
            "<title>Home</title><a href=\"file://" + Path("save/log/host/page.html") +
                "\">p</a><img src=\"file://" + Path("save/log/host/pic.gif") +
                "\"><a href=\"http://host/missing.html\">m</a>"
                "<img src=\"http://ads.example/b.gif\">");
  std::string newidx = ReadFile("index/newidx.htm");
  EXPECT_NE(newidx.find("<DD><A HREF=\"http://host/\" target=\"newwindow\" ><NOBR> [NEW]</A> "
                        "<A HREF=\"file://" +
                        Path("save/log/host/home.html") +
                        "\" target=\"newwindow\" > Home__Home</NOBR></A>\r\n"),
            std::string::npos)
      << newidx;
  EXPECT_EQ(newidx.find("page.html"), std::string::npos);
  std::string log = platform::Cp932ToUtf8(ReadFile("start/lumbralog.txt"));
  EXPECT_NE(log.find("ファイルコピー　終了 ( 5 件 )\r\nHTML 変更書き換え　終了 ( 1 件 )\r\n"),
            std::string::npos)
      << log;

  // The same cache again: nothing new is stored, and no further old copy is made.
  Run(JobKind::AddToLogs);
  EXPECT_NE(fe.messages().back().find("ログ登録ファイル数　　\t     0件"), std::string::npos);
  EXPECT_FALSE(platform::GetStatus(Path("save/log/host/pic-old0002.gif")).exists());
  EXPECT_EQ(ReadFile("index/newidx.htm").find("home.html"), std::string::npos);
}

TEST_F(JobRunTest, AnAddWhoseCacheIndexCannotBeCopiedFailsAndKeepsTheNewPagesIndex) {
  testing::Ie4Cache cache;
  cache.entries = {testing::CachedEntry("http://host/a.html", "a.html", "text/html", "<p>")};
  testing::WriteIe4Cache(Path("cache"), cache);
  session.settings.cacheDir = Path("cache");
  WriteFile("index/newidx.htm", "the pages of the last add");
  {
    testing::ScopedTmpDir full(Path("no/room"));
    EXPECT_FALSE(Run(JobKind::AddToLogs));
  }
  EXPECT_EQ(ReadFile("index/newidx.htm"), "the pages of the last add");
  EXPECT_EQ(session.counters.failedFiles, 1);
  EXPECT_EQ(fe.messages().front(),
            "キャッシュデータを一時ディレクトリにコピーできません（No such file or directory）\r" +
                Path("no/room"));
}

TEST_F(JobRunTest, TheUnreferencedJobListsTheExternalLinksOfItsRoot) {
  WriteFile("cache/index.dat", "");
  session.settings.cacheDir = Path("cache");
  WriteFile("save/log/host/page.html",
            "<a href=\"http://other.example/doc.html\">d</a>"
            "<img src=\"http://other.example/pic.gif\"><a href=\"http://other.example/doc.html\">");
  WriteFile("start/serch.tmp", "http://old.example/stale.html 0\r\n");  // a former job's list
  // As lumbra-cli starts the job: the root, and link-list mode for this job only.
  session.settings.unreferencedDir = Path("save/log/");
  session.settings.unreferencedJob = true;
  Run(JobKind::ListUnreferenced);

  EXPECT_EQ(session.counters.failedFiles, 0);
  EXPECT_EQ(ReadFile("start/serch.tmp"), "<missing>");
  const std::string pages = ReadFile("index/search/htm/log.link_htm.htm");
  EXPECT_NE(pages.find("<DD><A HREF=\"http://other.example/doc.html\" target=\"newwindow\">"
                       "<NOBR> /other.example/doc.html</NOBR></A><BR>\r\n</BODY>"),
            std::string::npos);
  EXPECT_EQ(pages.find("stale"), std::string::npos);
  EXPECT_NE(ReadFile("index/search/jpg/log.link_jpg.htm").find("http://other.example/pic.gif"),
            std::string::npos);
  EXPECT_NE(ReadFile("index/www_l.htm").find(Path("index/search/jpg/log.link_jpg.htm")),
            std::string::npos);
}

// No count ends a job early: the 4,999 entries of a cache, the 19,999 pages of a rebuild and
// the 20,000 index records a job once stopped at are all passed, and both end reports count
// everything.
TEST_F(JobRunTest, AnAddOf30000EntriesAndARebuildOf25000PagesGoToTheirEnd) {
  constexpr int kEntries = 30000;
  testing::Ie4Cache cache;
  cache.entries.reserve(kEntries);
  for (int i = 0; i < kEntries; ++i) {
    // Five pages, then an image, over 20 hosts. The entries share two cached files; the last
    // page has its own, which links to the first image.
    const std::string url = "http://h" + std::to_string(i % 20) + ".example/" + std::to_string(i);
    const bool last = i == kEntries - 2;
    testing::Ie4Entry entry;
    if (i % 6 == 5) {
      entry = testing::CachedEntry(url + ".gif", "pic.gif", "image/gif", "GIF");
    } else if (last) {
      entry = testing::CachedEntry(url + ".html", "last.htm", "text/html",
                                   "<img src=\"http://h5.example/5.gif\">");
    } else {
      entry = testing::CachedEntry(url + ".html", "page.htm", "text/html", "<title>T</title>");
    }
    entry.writeFile = i < 6 || last;
    cache.entries.push_back(std::move(entry));
  }
  testing::WriteIe4Cache(Path("cache"), cache);
  session.settings.cacheDir = Path("cache");
  const auto listed = [this](const char* page) {
    const std::string text = ReadFile(page);
    std::size_t entries = 0;
    for (std::size_t at = text.find("<DD>"); at != std::string::npos;
         at = text.find("<DD>", at + 1))
      ++entries;
    return entries;
  };

  ASSERT_TRUE(Run(JobKind::AddToLogs));
  EXPECT_EQ(fe.messages().back(),
            "ログ追加処理　終了\r\r"
            "チェック総ファイル数　\t 30000件\r"
            "ログ登録ファイル数　　\t 30000件\r"
            "変換ファイル数　　　　\t 25000件\r"
            "総経過時間　　　　　　\t     1秒\r");
  EXPECT_EQ(ReadFile("save/log/h18.example/29998.html"),
            "<img src=\"file://" + Path("save/log/h5.example/5.gif") + "\">");
  EXPECT_EQ(listed("index/newidx.htm"), 25000u);

  ASSERT_TRUE(Run(JobKind::RebuildAllLogs));
  EXPECT_EQ(fe.messages().back(),
            "ＨＴＭＬ 再構成　終了\r\r"
            "チェック総ファイル数　\t 30000件\r"
            "変換ファイル数　　　　\t 25000件\r"
            "総経過時間　　　　　　\t     1秒\r");
  EXPECT_EQ(listed("index/allidx_a.htm"), 25000u);
  EXPECT_EQ(session.counters.failedFiles, 0);
}

// A cache of one page linking to one image, in each layout the add job reads.
const std::string kLayouts[] = {"NetscapeFatDb", "NetscapeUnixIndexDb", "Explorer2",
                                "Explorer3",     "Explorer4",           "Explorer5To9"};

void WritePageAndImage(const std::string& layout, const std::string& dir) {
  testing::NetscapeCache netscape;
  testing::Ie2Cache ie2;
  std::vector<testing::Ie3Entry> ie3;
  testing::Ie4Cache ie4;
  if (layout == "Explorer5To9") ie4.version = testing::Ie4Version::V52;
  for (auto [url, file, type, content] :
       {std::array<std::string, 4>{"http://host/dir/page.html", "page[1].html", "text/html",
                                   "<a href=\"pic.gif\">p</a>"},
        std::array<std::string, 4>{"http://host/dir/pic.gif", "pic[1].gif", "image/gif",
                                   "GIF89a"}}) {
    const std::string netscapeFile = layout == "NetscapeUnixIndexDb" ? "3/" + file : file;
    netscape.entries.push_back(testing::NetscapeFile(url, netscapeFile, type, content));
    ie2.entries.push_back({.url = url, .fileName = file, .contentType = type, .content = content});
    ie3.push_back({.url = url, .fileName = file, .contentType = type, .content = content});
    ie4.entries.push_back(testing::CachedEntry(url, file, type, content));
  }
  if (layout == "NetscapeFatDb") testing::WriteNetscapeCache(dir, netscape);
  if (layout == "NetscapeUnixIndexDb") {
    platform::RenameFile(testing::WriteNetscapeCache(dir, netscape), dir + "/index.db");
  }
  if (layout == "Explorer2") testing::WriteIe2Cache(dir, ie2);
  if (layout == "Explorer3") testing::WriteIe3Cache(dir, ie3);
  if (layout == "Explorer4" || layout == "Explorer5To9") testing::WriteIe4Cache(dir, ie4);
}

class EveryLayoutTest : public JobRunTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(EveryLayoutTest, AddStoresThePagesAndRewritesThem) {
  WritePageAndImage(GetParam(), Path("cache"));
  session.settings.cacheDir = Path("cache");
  Run(JobKind::AddToLogs);
  EXPECT_EQ(session.counters.loggedFiles, 2) << ::testing::PrintToString(fe.messages());
  EXPECT_EQ(ReadFile("save/log/host/dir/pic.gif"), "GIF89a");
  EXPECT_EQ(ReadFile("save/log/host/dir/page.html"),
            "<a href=\"file://" + Path("save/log/host/dir/pic.gif") + "\">p</a>");
  EXPECT_NE(ReadFile("index/newidx.htm").find(Path("save/log/host/dir/page.html")),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Caches, EveryLayoutTest, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return info.param; });

// The caches the real browsers of today wrote while visiting the test site (kept read-only
// with the site as it was served): each add stores the site's documents as they were served,
// and every local link of a stored page leads to a stored file.
class TodaysCacheTest : public JobRunTest, public ::testing::WithParamInterface<std::string> {};
// Caches of today written by this program's own writers, by browser.
using WrittenCacheTest = TodaysCacheTest;

TEST_P(TodaysCacheTest, TheSiteIsStoredAsServedAndEveryLocalLinkLeads) {
  const std::string site = testing::RealDataPath("browser-caches/site");
  session.settings.cacheDir = testing::RealDataPath("browser-caches/" + GetParam());
  Run(JobKind::AddToLogs);
  // 24 documents, of which badge.png twice (once per top-level site); the 301 and the 404s
  // are no documents.
  EXPECT_EQ(session.counters.loggedFiles, 23) << ::testing::PrintToString(fe.messages());
  EXPECT_EQ(session.counters.failedFiles, 0);

  // Documents that are not rewritten keep the bytes the server sent, decoded.
  for (auto [served, stored] : std::vector<std::pair<std::string, std::string>>{
           {"main/img/logo.png", "127.0.0.1-47811/img/logo.png"},
           {"main/img/photo.jpg", "127.0.0.1-47811/img/photo.jpg"},
           {"main/script.js", "127.0.0.1-47811/script.js"},
           {"other/img/badge.png", "localhost-47811/img/badge.png"},
           {"port2/tile.gif", "127.0.0.1-47812/tile.gif"},
       }) {
    EXPECT_EQ(ReadFile("save/log/" + stored), ReadFile(site + "/" + served)) << stored;
  }
  // The gzip-sent page is stored decoded, its links rewritten.
  EXPECT_NE(ReadFile("save/log/127.0.0.1-47811/packed.html").find("<"), std::string::npos);

  int pages = 0;
  for (const auto& file : std::filesystem::recursive_directory_iterator(Path("save/log"))) {
    const std::string page = file.path().string();
    if (page.find(".htm") == std::string::npos) continue;
    ++pages;
    for (const std::string& target : FileLinks(page)) {
      EXPECT_TRUE(platform::GetStatus(target).isRegular()) << page << " links to " << target;
    }
  }
  EXPECT_EQ(pages, 14);
}

INSTANTIATE_TEST_SUITE_P(Browsers, TodaysCacheTest,
                         ::testing::Values("chromium-simple", "chromium-blockfile",
                                           "firefox/cache2", "firefox-full/cache2",
                                           "firefox-encrypted/cache2"),
                         [](const auto& info) {
                           std::string name = info.param.substr(0, info.param.find('/'));
                           std::erase(name, '-');
                           return name;
                         });

// A page whose body cannot be decoded is refused before any page is rewritten: it is told as
// it is, and the pages that link to it keep its address rather than a copy never made.
TEST_P(WrittenCacheTest, APageWhoseBodyCannotBeDecodedIsRefusedAndKeepsItsAddress) {
  const std::vector<testing::TodaysEntry> entries = {
      {.url = "http://host/home.html",
       .contentType = "text/html",
       .body = testing::Gzip("<a href=\"bad.html\">b</a><a href=\"ok.html\">o</a>"),
       .gzip = true},
      {.url = "http://host/bad.html", .contentType = "text/html", .body = "not gzip", .gzip = true},
      {.url = "http://host/ok.html", .contentType = "text/html", .body = "ok"},
  };
  if (GetParam() == "chromium") {
    testing::ChromiumSimpleWriter cache(Path("cache"));
    for (const testing::TodaysEntry& entry : entries) ASSERT_TRUE(cache.Add(entry));
    ASSERT_TRUE(cache.Finish());
    session.settings.cacheDir = Path("cache");
  } else {
    testing::FirefoxCache2Writer cache(Path("cache"));
    for (const testing::TodaysEntry& entry : entries) ASSERT_TRUE(cache.Add(entry));
    session.settings.cacheDir = Path("cache");
  }
  session.settings.execLog = true;
  Run(JobKind::AddToLogs);

  EXPECT_EQ(session.counters.loggedFiles, 2);
  EXPECT_EQ(session.counters.failedFiles, 1);
  EXPECT_FALSE(platform::GetStatus(Path("save/log/host/bad.html")).exists());
  EXPECT_EQ(ReadFile("save/log/host/home.html"),
            "<a href=\"http://host/bad.html\">b</a><a href=\"file://" +
                Path("save/log/host/ok.html") + "\">o</a>");
  const std::string log = platform::Cp932ToUtf8(ReadFile("start/lumbralog.txt"));
  EXPECT_NE(log.find("圧縮データが壊れているか途中で終わっているため読みません"), std::string::npos)
      << log;
}

INSTANTIATE_TEST_SUITE_P(Browsers, WrittenCacheTest, ::testing::Values("chromium", "firefox"),
                         [](const auto& info) { return info.param; });

// Every file below the directories of a collection, by its path below the temporary
// directory (the job locks, empty between jobs, left out).
std::map<std::string, std::string> Collection(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const char* dir : {"save", "more", "index"}) {
    for (const auto& file : std::filesystem::recursive_directory_iterator(root + "/" + dir)) {
      if (!file.is_regular_file() || file.path().filename() == ".lumbra-lock") continue;
      files[file.path().string().substr(root.size())] =
          platform::ReadFile(file.path().string()).value_or("unreadable");
    }
  }
  return files;
}

// A collection of the real Chromium cache, one of its sites moved into a second LogTree, is
// rebuilt with relative links and then with absolute ones again: the relative collection
// holds no file:// URL and each of its local links leads to a file; the absolute one is the
// collection it was, byte for byte.
TEST_F(JobRunTest, ARebuildTurnsACollectionRelativeAndBackToTheSameBytes) {
  session.settings.cacheDir = testing::RealDataPath("browser-caches/chromium-simple");
  ASSERT_TRUE(Run(JobKind::AddToLogs));
  MakeDir("more/log");
  std::filesystem::rename(Path("save/log/localhost-47811"), Path("more/log/localhost-47811"));
  session.settings.logDir[1] = Path("more/log");
  ASSERT_TRUE(Run(JobKind::RebuildAllLogs));
  const std::map<std::string, std::string> absolute = Collection(root());

  session.settings.linkStyle = "relative";
  ASSERT_TRUE(Run(JobKind::RebuildAllLogs));
  const std::map<std::string, std::string> relative = Collection(root());
  ASSERT_EQ(relative.size(), absolute.size());
  int links = 0;
  std::set<std::string> acrossTrees;
  for (const auto& [path, bytes] : relative) {
    if (!path.ends_with(".htm") && !path.ends_with(".html") && !path.ends_with(".css")) continue;
    EXPECT_EQ(bytes.find("file:"), std::string::npos) << path;
    const std::string dir = root() + path.substr(0, path.rfind('/') + 1);
    std::regex link(R"((?:HREF|SRC|url)(?:=|\()["']?([^"'#?\s>)]+))", std::regex::icase);
    for (std::sregex_iterator it(bytes.begin(), bytes.end(), link), end; it != end; ++it) {
      const std::string target = std::regex_replace((*it)[1].str(), std::regex("&amp;"), "&");
      if (target.find("://") != std::string::npos || target.starts_with("data:")) continue;
      // The add listed the site where it stored it, before it was moved.
      if (path == "/index/newidx.htm" && target.find("localhost") != std::string::npos) continue;
      ++links;
      const std::string file = platform::CleanAbsolutePath(dir + target);
      EXPECT_TRUE(platform::GetStatus(file).isRegular()) << path << " links to " << target;
      if (path.starts_with("/save/") && file.starts_with(Path("more/"))) acrossTrees.insert(path);
    }
  }
  EXPECT_GT(links, 100);
  EXPECT_FALSE(acrossTrees.empty());

  session.settings.linkStyle = "absolute";
  ASSERT_TRUE(Run(JobKind::RebuildAllLogs));
  const std::map<std::string, std::string> back = Collection(root());
  for (const auto& [path, bytes] : absolute) {
    EXPECT_EQ(back.at(path), bytes) << path;
    if (path.ends_with("l")) {
      EXPECT_NE(relative.at(path), bytes) << path << " is no page";
    }
  }
}

// A cache layout known only to this test: its entries and their documents live in memory (a
// marker file says that a directory holds such a cache). The add job reads it through the
// same seam as the layouts of the browsers' caches.
class MemoryCache : public CacheLayout {
 public:
  struct Document {
    std::string url, contentType, bytes;
  };
  explicit MemoryCache(std::vector<Document> documents) : documents_(std::move(documents)) {}

  std::string_view name() const override { return "Memory"; }
  std::string_view marker() const override { return "/memory.cache"; }
  bool ReadEntries(const JobContext&, Frontend&, const std::string&,
                   CacheEntryTable& table) const override {
    for (std::size_t i = 0; i < documents_.size(); ++i) {
      table.Append({std::to_string(i), documents_[i].url, documents_[i].contentType, 0});
    }
    return true;
  }
  std::unique_ptr<CachedDocuments> Documents(const std::string& cacheDir) const override {
    return std::make_unique<Served>(cacheDir, documents_);
  }

 private:
  class Bytes : public DocumentSource {
   public:
    explicit Bytes(std::string_view bytes) : bytes_(bytes) {
      status_.type = platform::EntryType::Regular;
      status_.size = bytes.size();
      status_.mtime = 1750000000;
    }
    const platform::FileStatus& status() const override { return status_; }
    long Read(char* buffer, std::size_t size) override {
      std::size_t n = bytes_.copy(buffer, size, at_);
      at_ += n;
      return static_cast<long>(n);
    }
    bool Rewind() override {
      at_ = 0;
      return true;
    }

   private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    platform::FileStatus status_;
  };

  // The documents by the cacheFile of their rows: the cache directory + "/" + their number.
  class Served : public CachedDocuments {
   public:
    Served(std::string cacheDir, const std::vector<Document>& documents)
        : prefix_(std::move(cacheDir) + "/"), documents_(documents) {}
    platform::OpenError Open(const CacheEntry& entry,
                             std::unique_ptr<DocumentSource>& document) override {
      std::size_t i = std::stoul(entry.cacheFile.substr(prefix_.size()));
      document = std::make_unique<Bytes>(documents_.at(i).bytes);
      return platform::OpenError::None;
    }

   private:
    std::string prefix_;
    const std::vector<Document>& documents_;
  };

  std::vector<Document> documents_;
};

TEST_F(JobRunTest, ALayoutKnownOnlyToThisTestIsStoredAndRewrittenByTheAddJob) {
  WriteFile("cache/memory.cache", "");
  session.layouts.Add(std::make_unique<MemoryCache>(std::vector<MemoryCache::Document>{
      {"http://host/dir/page.html", "text/html", "<title>Mem</title><img src=\"pic.gif\">"},
      {"http://host/dir/pic.gif", "image/gif", "GIF89a"}}));
  session.settings.cacheDir = Path("cache");
  ASSERT_TRUE(Run(JobKind::AddToLogs)) << ::testing::PrintToString(fe.messages());
  EXPECT_EQ(session.counters.loggedFiles, 2);
  EXPECT_EQ(session.counters.convertedPages, 1);
  EXPECT_EQ(ReadFile("save/log/host/dir/pic.gif"), "GIF89a");
  EXPECT_EQ(ReadFile("save/log/host/dir/page.html"),
            "<title>Mem</title><img src=\"file://" + Path("save/log/host/dir/pic.gif") + "\">");
  EXPECT_NE(ReadFile("index/newidx.htm").find(Path("save/log/host/dir/page.html")),
            std::string::npos);
}

class SurfRunTest : public JobRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SurfRunTest, TheEnabledSitesPagesAreRewrittenIndexedAndOnlyTheirVanishedCopiesDeleted) {
  const bool readDom = GetParam();
  session.surfAvailable = true;
  testing::WriteIe4Cache(Path("cache"), {});  // empty, for the add at the end
  session.settings.cacheDir = Path("cache");
  session.settings.logDir = {Path("save/alog"), Path("save/blog"), Path("save/clog"), "", ""};
  session.settings.readDom = readDom;
  // The crawler's directory lies outside the start directory and the LogTrees.
  session.settings.surfDirs = Path("crawl");

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

  EXPECT_TRUE(Run(JobKind::RebuildSurf));
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

  // The Surf link of the top bar leads to the site list of the surf index.
  EXPECT_NE(ReadFile("index/top.htm").find("file://" + Path("index/www_surf.htm")),
            std::string::npos);
  EXPECT_NE(ReadFile("index/www_surf.htm").find(platform::ToCp932("自動閲覧")), std::string::npos);
  EXPECT_EQ(FileLinks(Path("index/www_surf.htm")),
            std::set<std::string>{Path("index/surfidx.htm")});
  // The link bar of the surf index leads to the pages of the rebuild and the add.
  Run(JobKind::RebuildAllLogs);
  Run(JobKind::AddToLogs);
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
