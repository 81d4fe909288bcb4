#include "cache/cache_index.h"

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cache/netscape_reader.h"
#include "platform/codepage.h"
#include "testing/ie4_fixture.h"
#include "testing/netscape_fixture.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

// How the layouts store a page without an extension.
constexpr PageWithoutExtension kIe4 = PageWithoutExtension::File;
constexpr PageWithoutExtension kIe30 = PageWithoutExtension::Directory;
constexpr PageWithoutExtension kNetscape = PageWithoutExtension::File;

struct NormaliseCase {
  std::string url;
  std::string contentType;
  PageWithoutExtension kind;
  std::string expectedUrl;
  std::string cacheFile = "D/f";
  std::string expectedCacheFile = "/home/u/cache/D/f";
};

void PrintTo(const NormaliseCase& c, std::ostream* os) {
  *os << c.url << " " << c.contentType << " " << c.cacheFile;
}

class NormaliseCacheEntryTest : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(NormaliseCacheEntryTest, GivesTheFormTheLogStoreExpects) {
  const NormaliseCase& c = GetParam();
  CacheEntry entry{c.cacheFile, c.url, c.contentType, 5};
  NormaliseCacheEntry(entry, "/home/u/cache", c.kind);
  EXPECT_EQ(entry.url, c.expectedUrl);
  EXPECT_EQ(entry.cacheFile, c.expectedCacheFile);
  EXPECT_EQ(entry.status, 0);
}

const std::string kLongPath = "http://h/" + std::string(300, 'p');

INSTANTIATE_TEST_SUITE_P(
    Urls, NormaliseCacheEntryTest,
    ::testing::Values(
        // Repeated slashes and query marks; a page gets ".html", of kind 2 "/home.html".
        NormaliseCase{"http://host/a//b?c=1:2*3", "text/plain", kIe4, "http://host/a/-b-c=1-2-3"},
        NormaliseCase{"http://host/a//b?c=1:2*3", "text/html", kIe4,
                      "http://host/a/-b-c=1-2-3.html"},
        NormaliseCase{"http://host/a//b?c=1:2*3", "text/html", kIe30,
                      "http://host/a/-b-c=1-2-3/home.html"},
        NormaliseCase{"http:///x", "text/plain", kIe4, "http://-x"},
        NormaliseCase{"http://h/a///b", "text/plain", kIe4, "http://h/a/--b"},
        // Replacements start at index 6, wherever the scheme ends.
        NormaliseCase{"https://h/p", "text/plain", kIe4, "https://h/p"},
        NormaliseCase{"HTTPS://h//p?q", "text/plain", kIe4, "HTTPS://h/-p-q"},
        NormaliseCase{"webcal://h/p", "text/plain", kIe4, "webcal-/-h/p"},
        NormaliseCase{"http://host:8080/x.html", "text/html", kIe4, "http://host-8080/x.html"},
        NormaliseCase{"http://host/dir/", "text/html", kIe4, "http://host/dir/home.html"},
        NormaliseCase{"http://host/", "text/html", kIe30, "http://host/home.html"},
        NormaliseCase{"http://host/PAGE.HTM", "text/html", kNetscape, "http://host/PAGE.HTM"},
        NormaliseCase{"http://host/x.asp?id=1", "text/html", kIe4, "http://host/x.asp-id=1"},
        // Types are compared on their media type, any case.
        NormaliseCase{"http://host/p", "text/html; charset=EUC-JP", kIe4, "http://host/p.html"},
        NormaliseCase{"http://host/p", "TEXT/HTML", kIe4, "http://host/p.html"},
        // Today's types get their extension unless the last segment has one that fits.
        NormaliseCase{"https://h/app", "text/javascript; charset=utf-8", kIe4, "https://h/app.js"},
        NormaliseCase{"http://h/s.css?v=3", "text/css", kIe4, "http://h/s.css-v=3.css"},
        NormaliseCase{"http://h/x.svg/i", "image/svg+xml", kIe4, "http://h/x.svg/i.svg"},
        NormaliseCase{"http://h/Logo.PNG", "image/png", kIe4, "http://h/Logo.PNG"},
        NormaliseCase{"http://h/m", "application/octet-stream", kIe4, "http://h/m"},
        NormaliseCase{"http://host/logo", "image/gif", kIe4, "http://host/logo.gif"},
        NormaliseCase{"http://host/A.GIF?x", "image/gif", kIe4, "http://host/A.GIF-x"},
        NormaliseCase{"http://host/photo", "image/jpeg", kIe4, "http://host/photo.jpg"},
        // "jp" anywhere in the URL counts as the extension; an upper-case one is kept.
        NormaliseCase{"http://www.example.co.jp/photo", "image/jpeg", kIe4,
                      "http://www.example.co.jp/photo"},
        NormaliseCase{"http://host/IMG.JPEG", "image/jpeg", kIe4, "http://host/IMG.JPEG"},
        // URLs of six characters or fewer get no replacements.
        NormaliseCase{"a:b?c/", "text/html", kIe4, "a:b?c/home.html"},
        NormaliseCase{"ab:?*/", "text/plain", kIe4, "ab:?*/"},
        // A URL of today is kept whole.
        NormaliseCase{kLongPath, "text/html", kIe4, kLongPath + ".html"}));

INSTANTIATE_TEST_SUITE_P(
    CacheFiles, NormaliseCacheEntryTest,
    ::testing::Values(NormaliseCase{"http://h/a.gif", "image/gif", kIe4, "http://h/a.gif",
                                    "/a[1].gif", "/home/u/cache//a[1].gif"},
                      // A drive is dropped; a backslash is kept as it is.
                      NormaliseCase{"http://h/a.gif", "image/gif", kNetscape, "http://h/a.gif",
                                    "c:/x/y.gif", "/home/u/cache//x/y.gif"},
                      NormaliseCase{"http://h/a.gif", "image/gif", kNetscape, "http://h/a.gif",
                                    "x\\y.gif", "/home/u/cache/x\\y.gif"}));

TEST(NormaliseCacheEntryCutTest, ContentTypeIsCutAt150) {
  CacheEntry entry{"D/f", "http://h/p", "image/gif" + std::string(200, ';'), 0};
  NormaliseCacheEntry(entry, "/c", kIe4);
  EXPECT_EQ(entry.contentType, ("image/gif" + std::string(200, ';')).substr(0, 150));
  EXPECT_EQ(entry.url, "http://h/p.gif");
}

class CacheIndexTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    ctx.startDir = MakeDir("start");
    cacheDir = MakeDir("cache");
  }

  // The name of the first layout that holds `dir`, "none" when none does.
  std::string_view LayoutIn(const std::string& dir) const {
    const CacheLayout* layout = layouts.Find(dir);
    return layout != nullptr ? layout->name() : "none";
  }
  // Reads the cache directory as the add job reads it.
  bool Read() { return ReadCacheIndex(ctx, frontend, layouts.Find(cacheDir), table, cacheDir); }

  JobContext ctx;
  std::string cacheDir;
  testing::ScriptedFrontend frontend;
  CacheLayouts layouts = CacheLayouts::BuiltIn();
  CacheEntryTable table;
};

TEST_F(CacheIndexTest, DetectsTheLayoutByTheFirstIndexFileFound) {
  EXPECT_EQ(LayoutIn(cacheDir), "none");
  WriteFile("unix/index.db", "x");  // Netscape on Unix, tried after the four
  EXPECT_EQ(LayoutIn(Path("unix")), "Netscape");
  WriteFile("unix/iexplore.cif", "x");
  EXPECT_EQ(LayoutIn(Path("unix")), "Explorer 2");
  MakeDir("cache/iexplore.cif/");  // a directory is no index file
  MakeDir("cache/index.dat/");
  EXPECT_EQ(LayoutIn(cacheDir), "none");
  WriteFile("sub2/iexplore.cif", "x");
  EXPECT_EQ(LayoutIn(Path("sub2")), "Explorer 2");
  WriteFile("sub2/index.dat", "x");
  EXPECT_EQ(LayoutIn(Path("sub2")), "Explorer 4 to 9");
  WriteFile("sub2/cache1/mm256.dat", "Ver 2.0\r\nVer 3.0\r\n");
  EXPECT_EQ(LayoutIn(Path("sub2")), "Explorer 3");
  WriteFile("sub2/cache1/mm256.dat", std::string(299, 'x') + "3.0");
  EXPECT_EQ(LayoutIn(Path("sub2")), "Explorer 3");
  WriteFile("sub2/cache1/mm256.dat", "MM Cache 3.0\r\n");
  EXPECT_EQ(LayoutIn(Path("sub2")), "Explorer 3.0");
  WriteFile("sub2/fat.db", "x");
  EXPECT_EQ(LayoutIn(Path("sub2")), "Netscape");
}

// 300 entries written by the database code with pages of `pageSize`, whose cached files lie
// in the cache directory. With 4,096-byte pages the records that landed in the first bucket
// are deleted again, so the number at offset 4,096 is 0 and the reader's probe cannot tell
// the page size: only the retry reads such a file.
testing::NetscapeCache NetscapeCacheOf300(int pageSize) {
  testing::NetscapeCache cache;
  cache.pageSize = pageSize;
  for (int i = 0; i < 300; ++i) {
    cache.entries.push_back(testing::NetscapeFile(
        "http://h" + std::to_string(i % 9) + "/p" + std::to_string(i) + ".html",
        "M" + std::to_string(i), "text/html"));
  }
  if (pageSize != 4096) return cache;
  CacheEntryTable inFirst;
  ParseNetscapeIndex(testing::BuildNetscapeIndex(cache).substr(0, 8192), 4096, inFirst, nullptr,
                     [](std::string_view) {});
  std::set<std::string> first;
  for (int r = 0; r < inFirst.count(); ++r) first.insert(inFirst.row(r).url);
  // Every deleteEvery-th record is deleted: the first bucket's records are put there.
  cache.deleteEvery = 300 / std::max(static_cast<int>(first.size()), 1);
  auto& e = cache.entries;
  std::stable_partition(e.begin(), e.end(), [&](const auto& x) { return first.count(x.url); });
  for (std::size_t k = first.size(); k-- > 1;) {
    std::rotate(e.begin() + k, e.begin() + k + 1, e.begin() + k * cache.deleteEvery + 1);
  }
  return cache;
}

TEST_F(CacheIndexTest, ANetscapeCacheIsReadWholeWithTheRetryOnlyWhereItIsNeeded) {
  ctx.execLog = true;
  for (int pageSize : {4096, 16384}) {
    SCOPED_TRACE(pageSize);
    platform::RemoveTree(cacheDir);
    testing::NetscapeCache cache = NetscapeCacheOf300(pageSize);
    std::string index = testing::WriteNetscapeCache(cacheDir, cache);
    // The probe reads 0 in both: inside the header page, or in an emptied first bucket.
    ASSERT_EQ(ReadFile(index).substr(4096, 2), std::string(2, '\0'));
    platform::DeleteFile(ctx.StartFile("lumbralog.txt"));
    ASSERT_TRUE(Read());

    std::size_t stored = cache.entries.size();
    if (cache.deleteEvery > 0) stored -= (stored + cache.deleteEvery - 1) / cache.deleteEvery;
    EXPECT_EQ(GetCacheEntryCount(table), static_cast<int>(stored));
    for (int i = 0; i < table.count(); ++i) {
      ASSERT_EQ(ReadFile(table.row(i).cacheFile), "<html></html>") << table.row(i).url;
    }
    const std::string log = ReadFile("start/lumbralog.txt");
    const std::string start = platform::ToCp932("Netscape Cache ファイル名　読み出し開始");
    std::size_t passes = 0;
    for (std::size_t at = log.find(start); at != std::string::npos; at = log.find(start, at + 1)) {
      ++passes;
    }
    EXPECT_EQ(passes, pageSize == 4096 ? 2u : 1u);
    EXPECT_TRUE(log.ends_with(platform::ToCp932("Cache ファイル名　読み出し終了 ( " +
                                                std::to_string(stored) + " 件 )\r\n")));
  }
}

TEST_F(CacheIndexTest, CopyOfTheIndexTouchesNeitherStartNorCacheDirectory) {
  // The start directory is the cache directory itself, the worst case.
  ctx.startDir = cacheDir;
  testing::Ie4Cache cache;
  cache.entries = {testing::CachedEntry("http://h/a.html", "a[1].htm", "text/html", "<p>"),
                   testing::CachedEntry("http://h/b.gif", "b[1].gif", "image/gif", "GIF")};
  std::string index = testing::WriteIe4Cache(cacheDir, cache);
  std::string original = ReadFile(index);
  std::vector<std::string> before = FilesBelow(cacheDir);
  std::string tmp = MakeDir("tmp");
  {
    testing::ScopedTmpDir scoped(tmp);
    Read();
  }
  EXPECT_EQ(GetCacheEntryCount(table), 2);
  EXPECT_EQ(ReadFile(index), original);
  EXPECT_EQ(FilesBelow(cacheDir), before);
  EXPECT_EQ(platform::ListDirectory(tmp)->size(), 2u) << "the copy was not removed";
}

using platform::OpenError;

// The names a reader may give for a cached file, against what lies there: only a regular
// file below the cache directory, reached through real directories, is ever opened.
struct CachedFileCase {
  std::string name;  // as the reader gives it
  platform::OpenError expected;
};

void PrintTo(const CachedFileCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class OpenCachedFileTest : public CacheIndexTest,
                           public ::testing::WithParamInterface<CachedFileCase> {};

TEST_P(OpenCachedFileTest, OpensOnlyRegularFilesBelowTheCache) {
  WriteFile("cache/CACHE001/page[1].htm", "page");
  WriteFile("cache/top[1].htm", "top");
  WriteFile("outside/secret", "SECRET");
  MakeLink(Path("outside/secret"), "cache/CACHE001/link[1].htm");
  MakeLink(Path("outside"), "cache/LINKDIR");
  MakeFifo("cache/CACHE001/fifo[1].htm");
  MakeDir("cache/CACHE001/sub[1]");

  CacheEntry entry{GetParam().name, "http://h/x.html", "text/html", 0};
  NormaliseCacheEntry(entry, cacheDir, kIe4);
  platform::ReadableFile file;
  ASSERT_EQ(OpenCachedFile(cacheDir, entry.cacheFile, file), GetParam().expected);
  std::string content;
  EXPECT_EQ(file.isOpen() && file.ReadAll(content), GetParam().expected == OpenError::None);
  EXPECT_EQ(content.find("SECRET"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    ReaderNames, OpenCachedFileTest,
    ::testing::Values(CachedFileCase{"CACHE001/page[1].htm", OpenError::None},
                      CachedFileCase{"top[1].htm", OpenError::None},  // no subdirectory slot
                      CachedFileCase{"CACHE001/gone[1].htm", OpenError::Missing},
                      CachedFileCase{"../outside/secret", OpenError::OutsideRoot},
                      CachedFileCase{"CACHE001/../../outside/secret", OpenError::OutsideRoot},
                      CachedFileCase{"..\\outside\\secret", OpenError::OutsideRoot},
                      CachedFileCase{"./top[1].htm", OpenError::OutsideRoot},
                      CachedFileCase{"/etc/passwd", OpenError::OutsideRoot},
                      CachedFileCase{"c:/x/../../outside/secret", OpenError::OutsideRoot},
                      CachedFileCase{std::string("top[1].htm\0/../x", 17), OpenError::OutsideRoot},
                      CachedFileCase{"CACHE001/link[1].htm", OpenError::SymbolicLink},
                      CachedFileCase{"LINKDIR/secret", OpenError::SymbolicLink},
                      CachedFileCase{"CACHE001/fifo[1].htm", OpenError::NotRegular},
                      CachedFileCase{"CACHE001/sub[1]", OpenError::NotRegular}));

TEST_F(CacheIndexTest, NoIndexFileReadsNothingAndLogsAZeroCount) {
  ctx.execLog = true;
  table.Append(CacheEntry{"old", "old", "old", 1});
  Read();
  EXPECT_EQ(GetCacheEntryCount(table), 0);
  EXPECT_TRUE(frontend.messages().empty());
  EXPECT_EQ(ReadFile("start/lumbralog.txt"),
            platform::ToCp932("Cache ファイル名　読み出し終了 ( 0 件 )\r\n"));
  EXPECT_EQ(ReadFile("start/fat.txt"), "<missing>");
}

}  // namespace
}  // namespace lumbra
