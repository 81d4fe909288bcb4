#include "cache/ie4_reader.h"

#include <random>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "testing/ie4_fixture.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

using testing::Ie4Cache;
using testing::Ie4Entry;
using testing::Ie4Version;

Ie4Entry Page(std::string url, std::string name, int subdirectory, std::string type) {
  Ie4Entry entry;
  entry.url = std::move(url);
  entry.fileName = std::move(name);
  entry.subdirectory = subdirectory;
  entry.contentType = std::move(type);
  return entry;
}

std::vector<CacheEntry> Rows(const CacheEntryTable& table) {
  std::vector<CacheEntry> rows;
  for (int i = 0; i < table.count(); ++i) rows.push_back(table.row(i));
  return rows;
}

std::vector<CacheEntry> Parse(std::string_view bytes, std::string* dump = nullptr) {
  CacheEntryTable table;
  ParseExplorer4Index(bytes, table, dump);
  return Rows(table);
}

void ExpectRow(const CacheEntry& row, std::string_view url, std::string_view cacheFile,
               std::string_view type) {
  EXPECT_EQ(row.url, url);
  EXPECT_EQ(row.cacheFile, cacheFile);
  EXPECT_EQ(row.contentType, type);
}

Ie4Cache FourDirectories(Ie4Version version) {
  Ie4Cache cache;
  cache.version = version;
  cache.subdirectories = {"AAAA0001", "BBBB0002", "CCCC0003", "DDDD0004"};
  cache.entries = {
      Page("http://www.example.co.jp/", "index[1].htm", 0, "text/html"),
      Page("http://host:8080/cgi/search?q=a*b", "search[1]", 1, "text/html"),
      Page("http://host/img/logo.gif", "logo[1].gif", 2, "image/gif"),
      Page("http://host/photo", "photo[1]", 3, "image/jpeg"),
      Page("http://host/page.html", "page[1].html", 3, "text/html; charset=Shift_JIS"),
  };
  return cache;
}

TEST(ParseExplorer4IndexTest, BothVersionsTakeEveryRecordWithItsSubdirectory) {
  // The directory table starts at offset 72 in version 4.7 and at 80 in version 4.6.
  for (auto [version, table] : {std::pair{Ie4Version::V47, 72}, std::pair{Ie4Version::V46, 80}}) {
    SCOPED_TRACE(table);
    testing::Ie4Index index = testing::BuildIe4Index(FourDirectories(version));
    EXPECT_EQ(index.bytes[table], 4);
    EXPECT_EQ(index.bytes.substr(table + 8, 8), "AAAA0001");
    EXPECT_EQ(index.bytes.substr(table + 44, 8), "DDDD0004");
    std::vector<CacheEntry> rows = Parse(index.bytes);
    ASSERT_EQ(rows.size(), 5u);
    ExpectRow(rows[0], "http://www.example.co.jp/", "AAAA0001/index[1].htm", "text/html");
    ExpectRow(rows[1], "http://host:8080/cgi/search?q=a*b", "BBBB0002/search[1]", "text/html");
    ExpectRow(rows[2], "http://host/img/logo.gif", "CCCC0003/logo[1].gif", "image/gif");
    ExpectRow(rows[3], "http://host/photo", "DDDD0004/photo[1]", "image/jpeg");
    ExpectRow(rows[4], "http://host/page.html", "DDDD0004/page[1].html",
              "text/html; charset=Shift_JIS");
    for (const CacheEntry& row : rows) EXPECT_EQ(row.status, 0);
  }
}

TEST(ParseExplorer4IndexTest, OtherSignatureReadsTheTableFrom1024) {
  testing::Ie4Index index = testing::BuildIe4Index(FourDirectories(Ie4Version::V47));
  // Version 5.2 has its own layout; a signature that differs from it in the NUL is another.
  index.bytes.replace(0, 28, "Client UrlCache MMF Ver 5.20");
  index.bytes[1024] = 1;
  index.bytes.replace(1024 + 8, 8, "OTHERDIR");
  std::vector<CacheEntry> rows = Parse(index.bytes);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].cacheFile, "OTHERDIR/index[1].htm");
  EXPECT_EQ(rows[1].cacheFile, "search[1]");
}

TEST(ParseExplorer4IndexTest, SubdirectoryIndexThatNamesNoSlotGivesTheBareName) {
  Ie4Cache cache;
  cache.subdirectories = {"AAAA0001", "BBBB0002"};
  for (int i = 0; i < 25; ++i) cache.subdirectories.push_back("DIR" + std::to_string(10000 + i));
  cache.entries = {Page("http://h/a", "a", 2, "text/html"),       // DIR10000
                   Page("http://h/b", "b", 19, "text/html"),      // DIR10017, the 20th name
                   Page("http://h/c", "c", 20, "text/html"),      // beyond the 20 kept names
                   Page("http://h/d", "d", -1, "text/html"),      // negative
                   Page("http://h/e", "e", 0x101, "text/html")};  // low byte 1
  std::vector<CacheEntry> rows = Parse(testing::BuildIe4Index(cache).bytes);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].cacheFile, "DIR10000/a");
  EXPECT_EQ(rows[1].cacheFile, "DIR10017/b");
  EXPECT_EQ(rows[2].cacheFile, "c");
  EXPECT_EQ(rows[3].cacheFile, "d");
  EXPECT_EQ(rows[4].cacheFile, "BBBB0002/e");
}

TEST(ParseExplorer4IndexTest, NegativeDirectoryCountTakesNoNames) {
  testing::Ie4Index index = testing::BuildIe4Index(FourDirectories(Ie4Version::V47));
  index.bytes[72] = static_cast<char>(0x84);
  std::vector<CacheEntry> rows = Parse(index.bytes);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].cacheFile, "index[1].htm");
}

TEST(ParseExplorer4IndexTest, ContentTypeIsFoundInAnyCaseWithinReachOrTheRecordIsDropped) {
  Ie4Entry mixed = Page("http://h/m", "m", 0, "");
  mixed.headerText = "HTTP/1.0 200 OK\r\nServer: x\r\nCONTENT-type: text/html\r\nX: y\r\n\r\n";
  Ie4Entry noBlank = Page("http://h/n", "n", 0, "");
  noBlank.headerText = "HTTP/1.0 200 OK\r\nContent-Type:image/gif\r\n\r\n";
  Ie4Entry longType = Page("http://h/l", "l", 0, "text/html; " + std::string(200, 'p'));
  Ie4Entry none = Page("http://h/none", "none", 0, "");
  Ie4Entry far = Page("http://h/far", "far", 0, "");
  // "content-type:" starting exactly 128 bytes after the name's NULs is out of reach.
  far.headerText = std::string(126, 'x') + "\r\nContent-Type: text/html\r\n";
  Ie4Entry near = Page("http://h/near", "near", 0, "");
  near.headerText = std::string(125, 'x') + "\r\nContent-Type: image/png\r\n";
  Ie4Entry empty = Page("http://h/empty", "empty", 0, "");
  empty.headerText = "Content-Type: \r\n";
  Ie4Entry bare = Page("http://h/bare", "bare", 0, "");
  bare.headerText = "Content-Type:";
  Ie4Cache cache;
  cache.entries = {mixed, none, noBlank, far, longType, near, empty, bare};
  std::vector<CacheEntry> rows = Parse(testing::BuildIe4Index(cache).bytes);
  ASSERT_EQ(rows.size(), 4u);
  ExpectRow(rows[0], "http://h/m", "CACHE001/m", "text/html");
  ExpectRow(rows[1], "http://h/n", "CACHE001/n", "image/gif");
  ExpectRow(rows[2], "http://h/l", "CACHE001/l",
            ("text/html; " + std::string(200, 'p')).substr(0, 150));
  ExpectRow(rows[3], "http://h/near", "CACHE001/near", "image/png");
}

TEST(ParseExplorer4IndexTest, UrlsAndNamesOf256CharactersOrMoreAreDropped) {
  std::string url255 = "http://h/" + std::string(246, 'u');
  std::string name255(255, 'n');
  Ie4Cache cache;
  cache.entries = {Page(url255, "a", 0, "text/html"), Page(url255 + "u", "b", 0, "text/html"),
                   Page("http://h/c", name255, 0, "image/gif"),
                   Page("http://h/d", name255 + "n", 0, "image/gif"),
                   Page("http://h/" + std::string(500, 'v'), "e", 0, "text/html")};
  std::vector<CacheEntry> rows = Parse(testing::BuildIe4Index(cache).bytes);
  ASSERT_EQ(rows.size(), 2u);
  ExpectRow(rows[0], url255, "CACHE001/a", "text/html");
  ExpectRow(rows[1], "http://h/c", "CACHE001/" + name255, "image/gif");
}

TEST(ParseExplorer4IndexTest, TextsEndAtTheEndOfTheRecord) {
  // The name fills bytes 116 to 315 of the record, the header starts at 317 and its
  // Content-Type value at 441; the value runs on in the file past byte 511 of the record.
  Ie4Entry entry = Page("http://h/a", std::string(200, 'n'), 0, "");
  entry.headerText = std::string(110, 'x') + "Content-Type: " + std::string(100, 'T');
  Ie4Cache cache;
  cache.entries = {entry};
  testing::Ie4Index index = testing::BuildIe4Index(cache);
  std::vector<CacheEntry> rows = Parse(index.bytes);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].contentType, std::string(512 - 441, 'T'));

  // A URL or a name without a NUL in the record is too long, and is not read beyond it.
  const std::size_t record = index.recordOffsets[0];
  std::string noNul = index.bytes;
  noNul.replace(record + 104, 1000, std::string(1000, 'u'));
  EXPECT_TRUE(Parse(noNul).empty());
  noNul = index.bytes;
  noNul.replace(record + 116, 1000, std::string(1000, 'n'));
  EXPECT_TRUE(Parse(noNul).empty());
}

TEST(ParseExplorer4IndexTest, ReadsOnlyRecordsOnBlockBoundariesWith512BytesInTheFile) {
  Ie4Cache cache;
  cache.entries = {Page("http://h/a", "a", 0, "text/html")};
  testing::Ie4Index index = testing::BuildIe4Index(cache);
  const std::size_t record = index.recordOffsets[0];
  EXPECT_EQ(Parse(index.bytes.substr(0, record + 512)).size(), 1u);
  EXPECT_TRUE(Parse(index.bytes.substr(0, record + 511)).empty());

  // The same record 64 bytes off a block boundary is passed over.
  std::string shifted = index.bytes;
  shifted.replace(record + 64, 512, index.bytes.substr(record, 512));
  shifted.replace(record, 64, std::string(64, '\0'));
  EXPECT_TRUE(Parse(shifted).empty());

  // A block that begins with other bytes ("URL" followed by no blank) is passed over.
  std::string other = index.bytes;
  other[record + 3] = '\0';
  EXPECT_TRUE(Parse(other).empty());
}

TEST(ParseExplorer4IndexTest, TruncatedIndexGivesRowsOnlyForWholeRecords) {
  testing::Ie4Index index = testing::BuildIe4Index(FourDirectories(Ie4Version::V47));
  std::vector<CacheEntry> full = Parse(index.bytes);
  std::vector<std::size_t> sizes;
  for (std::size_t size = 0; size <= index.bytes.size(); size += 61) sizes.push_back(size);
  for (std::size_t offset : index.recordOffsets) {
    sizes.push_back(offset + 511);
    sizes.push_back(offset + 512);
  }
  for (std::size_t size : sizes) {
    std::vector<CacheEntry> rows = Parse(std::string_view(index.bytes).substr(0, size));
    std::size_t whole = 0;
    for (std::size_t offset : index.recordOffsets) whole += offset + 512 <= size ? 1 : 0;
    ASSERT_EQ(rows.size(), whole) << "size " << size;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      ExpectRow(rows[i], full[i].url, full[i].cacheFile, full[i].contentType);
    }
  }
}

TEST(ParseExplorer4IndexTest, EmptyZeroAndRandomFilesAreReadWithoutFault) {
  EXPECT_TRUE(Parse("").empty());
  EXPECT_TRUE(Parse(std::string(65536, '\0')).empty());

  std::mt19937 random(20240601);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 8192, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Plant record tags and Content-Type lines so that records are taken too.
    for (std::size_t p = 0; p + 4 <= bytes.size(); p += 128) {
      if (random() % 2 == 0) bytes.replace(p, 4, "URL ");
      if (p + 200 <= bytes.size() && random() % 2 == 0)
        bytes.replace(p + 140, 14, "Content-Type: ");
    }
    std::string dump;
    for (const CacheEntry& row : Parse(bytes, &dump)) {
      EXPECT_LT(row.url.size(), 256u);
      EXPECT_NE(bytes.find(row.url), std::string::npos);
      EXPECT_FALSE(row.contentType.empty());
      EXPECT_LE(row.contentType.size(), 150u);
    }
  }
}

class ReadExplorer4CacheTest : public testing::TempDirTest {
 protected:
  JobContext Context(bool execLog) const {
    JobContext ctx;
    ctx.startDir = Path("start");
    ctx.execLog = execLog;
    MakeDir("start");
    return ctx;
  }
  testing::ScriptedFrontend frontend;
  CacheEntryTable table;
};

TEST_F(ReadExplorer4CacheTest, WritesTheStartLineAndTheDumpOnlyWhileTheLogIsOn) {
  Ie4Cache cache;
  cache.subdirectories = {"AAAA0001", "BBBB0002"};
  cache.entries = {Page("http://h/a", "a[1].htm", 1, "text/html"), Page("http://h/b", "b", 0, "")};
  std::string index = testing::WriteIe4Cache(Path("cache"), cache);
  ReadExplorer4Cache(Context(false), frontend, false, index, table);
  EXPECT_EQ(table.count(), 1);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");
  EXPECT_EQ(ReadFile("start/fat.txt"), "<missing>");

  ReadExplorer4Cache(Context(true), frontend, true, index, table);
  EXPECT_EQ(table.count(), 2);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"),
            platform::ToCp932("iexplore 4.0  Cache ファイル名　読み出し開始\r\n"));
  // Fields: blocks (2) at offset 4, the URL offset at 52, the subdirectory at 60; a record
  // without a Content-Type is dumped as well.
  auto fields = [](char sub) {
    return std::string("2 0 0 0 0 0 0 0 0 0 0 0 104 0 ") + sub + " 0 0 0 0 0 0 0 0 0 0 ";
  };
  EXPECT_EQ(ReadFile("start/fat.txt"), fields('1') + "http://h/a a[1].htm text/html\r\n " +
                                           fields('0') + "http://h/b b \r\n ");
  EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(ReadExplorer4CacheTest, UnreadableIndexIsReportedAsInUse) {
  JobContext ctx = Context(true);
  ReadExplorer4Cache(ctx, frontend, true, Path("nosuch/index.dat"), table);
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(frontend.messages(), std::vector<std::string>{"キャッシュファイルが使用中です"});
  EXPECT_NE(ReadFile("start/lumbralog.txt"), "<missing>");
}

TEST_F(ReadExplorer4CacheTest, ReadsNothingWhenTheDumpCannotBeCreated) {
  Ie4Cache cache;
  cache.entries = {Page("http://h/a", "a", 0, "text/html")};
  std::string index = testing::WriteIe4Cache(Path("cache"), cache);
  JobContext ctx;
  ctx.startDir = Path("nosuch");
  ctx.execLog = true;
  ReadExplorer4Cache(ctx, frontend, true, index, table);
  EXPECT_EQ(table.count(), 0);
  EXPECT_TRUE(frontend.messages().empty());
}

}  // namespace
}  // namespace lumbra
