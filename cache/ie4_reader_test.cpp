#include "cache/ie4_reader.h"

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "testing/cache_support.h"
#include "testing/ie4_fixture.h"

namespace lumbra {
namespace {

using testing::Ie4Cache;
using testing::Ie4Entry;
using testing::Ie4Version;
using testing::Row;
constexpr auto Page = testing::Ie4Record;

std::vector<Row> Parse(std::string_view bytes) {
  CacheEntryTable table;
  ParseExplorer4Index(bytes, table, nullptr);
  return testing::RowsOf(table);
}

std::vector<std::string> CacheFiles(std::string_view bytes) {
  std::vector<std::string> files;
  for (const Row& row : Parse(bytes)) files.push_back(row[1]);
  return files;
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
    EXPECT_EQ(
        Parse(index.bytes),
        (std::vector<Row>{
            {"http://www.example.co.jp/", "AAAA0001/index[1].htm", "text/html"},
            {"http://host:8080/cgi/search?q=a*b", "BBBB0002/search[1]", "text/html"},
            {"http://host/img/logo.gif", "CCCC0003/logo[1].gif", "image/gif"},
            {"http://host/photo", "DDDD0004/photo[1]", "image/jpeg"},
            {"http://host/page.html", "DDDD0004/page[1].html", "text/html; charset=Shift_JIS"}}));
  }
}

TEST(ParseExplorer4IndexTest, OtherSignatureReadsTheTableFrom1024AndANegativeCountNoNames) {
  testing::Ie4Index index = testing::BuildIe4Index(FourDirectories(Ie4Version::V47));
  const std::vector<std::string> bare = {"index[1].htm", "search[1]", "logo[1].gif", "photo[1]",
                                         "page[1].html"};
  std::string negative = index.bytes;
  negative[72] = static_cast<char>(0x84);
  EXPECT_EQ(CacheFiles(negative), bare);
  // Version 5.2 has its own layout; a signature that differs from it in the NUL is another.
  index.bytes.replace(0, 28, "Client UrlCache MMF Ver 5.20");
  index.bytes[1024] = 1;
  index.bytes.replace(1024 + 8, 8, "OTHERDIR");
  std::vector<std::string> other = bare;
  other[0] = "OTHERDIR/index[1].htm";
  EXPECT_EQ(CacheFiles(index.bytes), other);
}

TEST(ParseExplorer4IndexTest, SubdirectoryIndexThatNamesNoSlotGivesTheBareName) {
  Ie4Cache cache;
  cache.subdirectories = {"AAAA0001", "BBBB0002"};
  for (int i = 0; i < 25; ++i) cache.subdirectories.push_back("DIR" + std::to_string(10000 + i));
  cache.entries = {Page("http://h/a", "a", 2, "text/html"),       // DIR10000
                   Page("http://h/b", "b", 26, "text/html"),      // DIR10024, the last name
                   Page("http://h/c", "c", 27, "text/html"),      // beyond the 27 names
                   Page("http://h/d", "d", -1, "text/html"),      // negative
                   Page("http://h/e", "e", 0x101, "text/html")};  // low byte 1
  EXPECT_EQ(CacheFiles(testing::BuildIe4Index(cache).bytes),
            (std::vector<std::string>{"DIR10000/a", "DIR10024/b", "c", "d", "BBBB0002/e"}));
}

// Any case and a missing blank after the colon are tested on the 3.0 reader (one search).
TEST(ParseExplorer4IndexTest, ContentTypeIsTakenWithinReachOrTheRecordIsDropped) {
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
  cache.entries = {none, far, longType, near, empty, bare};
  EXPECT_EQ(Parse(testing::BuildIe4Index(cache).bytes),
            (std::vector<Row>{{"http://h/l", "CACHE001/l",
                               ("text/html; " + std::string(200, 'p')).substr(0, 150)},
                              {"http://h/near", "CACHE001/near", "image/png"}}));
}

TEST(ParseExplorer4IndexTest, UrlsAndNamesAreTakenWholeWithinTheirRecord) {
  std::string url255 = "http://h/" + std::string(246, 'u');
  std::string name255(255, 'n');
  Ie4Cache cache;
  cache.entries = {Page(url255, "a", 0, "text/html"), Page(url255 + "u", "b", 0, "text/html"),
                   Page("http://h/c", name255, 0, "image/gif"),
                   Page("http://h/d", name255 + "n", 0, "image/gif"),
                   Page("http://h/" + std::string(500, 'v'), "e", 0, "text/html")};
  EXPECT_EQ(Parse(testing::BuildIe4Index(cache).bytes),
            (std::vector<Row>{{url255, "CACHE001/a", "text/html"},
                              {url255 + "u", "CACHE001/b", "text/html"},
                              {"http://h/c", "CACHE001/" + name255, "image/gif"},
                              {"http://h/d", "CACHE001/" + name255 + "n", "image/gif"}}));
}

TEST(ParseExplorer4IndexTest, TextsEndAtTheEndOfTheRecord) {
  // The name fills bytes 116 to 315 of the record, the header starts at 317 and its
  // Content-Type value at 441; the value runs on in the file past byte 511 of the record.
  Ie4Entry entry = Page("http://h/a", std::string(200, 'n'), 0, "");
  entry.headerText = std::string(110, 'x') + "Content-Type: " + std::string(100, 'T');
  Ie4Cache cache;
  cache.entries = {entry};
  testing::Ie4Index index = testing::BuildIe4Index(cache);
  EXPECT_EQ(Parse(index.bytes), (std::vector<Row>{{"http://h/a", "CACHE001/" + entry.fileName,
                                                   std::string(512 - 441, 'T')}}));

  // A URL or a name without a NUL in the record is too long, and is not read beyond it.
  const std::size_t record = index.recordOffsets[0];
  std::string noNul = index.bytes;
  noNul.replace(record + 104, 1000, std::string(1000, 'u'));
  EXPECT_TRUE(Parse(noNul).empty());
  noNul = index.bytes;
  noNul.replace(record + 116, 1000, std::string(1000, 'n'));
  EXPECT_TRUE(Parse(noNul).empty());
}

TEST(ParseExplorer4IndexTest, ReadsOnlyRecordsThatBeginABlockWithUrlAndABlank) {
  Ie4Cache cache;
  cache.entries = {Page("http://h/a", "a", 0, "text/html")};
  testing::Ie4Index index = testing::BuildIe4Index(cache);
  const std::size_t record = index.recordOffsets[0];
  ASSERT_EQ(Parse(index.bytes).size(), 1u);
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
  std::vector<Row> full = Parse(index.bytes);
  std::vector<std::size_t> sizes;
  for (std::size_t size = 0; size <= index.bytes.size(); size += 61) sizes.push_back(size);
  for (std::size_t offset : index.recordOffsets) {
    sizes.push_back(offset + 511);
    sizes.push_back(offset + 512);
  }
  for (std::size_t size : sizes) {
    std::size_t whole = 0;
    for (std::size_t offset : index.recordOffsets) whole += offset + 512 <= size ? 1 : 0;
    EXPECT_EQ(Parse(std::string_view(index.bytes).substr(0, size)),
              std::vector<Row>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(whole)))
        << "size " << size;
  }
}

using ReadExplorer4CacheTest = testing::ReaderFileTest;

TEST_F(ReadExplorer4CacheTest, WritesTheStartLineAndTheDumpOnlyWhileTheLogIsOnAndCanCreateIt) {
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

  // A dump that cannot be created: nothing is read.
  JobContext nowhere = Context(true);
  nowhere.startDir = Path("nosuch");
  table.Reset();
  ReadExplorer4Cache(nowhere, frontend, true, index, table);
  EXPECT_EQ(table.count(), 0);
  EXPECT_TRUE(frontend.messages().empty());
}

}  // namespace
}  // namespace lumbra
