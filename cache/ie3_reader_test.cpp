#include "cache/ie3_reader.h"

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "testing/cache_support.h"
#include "testing/ie3_fixture.h"

namespace lumbra {
namespace {

using testing::Ie3Entry;
using testing::Row;

std::vector<Row> Parse(std::string_view bytes, std::size_t recordSize) {
  CacheEntryTable table;
  ParseExplorer3Segment(bytes, recordSize, "cache1/", table, nullptr);
  return testing::RowsOf(table);
}

Ie3Entry Entry(std::string url, std::string name, std::string type = "text/html") {
  return {.url = std::move(url), .fileName = std::move(name), .contentType = std::move(type)};
}

Ie3Entry WithHeader(std::string url, std::string header) {
  return {.url = std::move(url), .fileName = "f", .headerText = std::move(header)};
}

TEST(ParseExplorer3SegmentTest, ReadsHttpAndFtpRecordsOfEachSize) {
  const std::vector<Ie3Entry> entries = {
      Entry("http://www.example.co.jp/", "INDEX~1.HTM"), Entry("gopher://h/menu", "menu"),
      Entry("ftp://ftp.example.com/pub/a.gif", "A~1.GIF", "image/gif"),
      Entry("HTTP://h/upper", "upper"),
      Entry("http://h/p.cgi?q=1", "P~1", "text/html; charset=x-sjis")};
  const std::vector<Row> expected = {
      {"http://www.example.co.jp/", "cache1/INDEX~1.HTM", "text/html"},
      {"ftp://ftp.example.com/pub/a.gif", "cache1/A~1.GIF", "image/gif"},
      {"http://h/p.cgi?q=1", "cache1/P~1", "text/html; charset=x-sjis"}};
  for (std::size_t recordSize : {256, 2048, 4096}) {
    SCOPED_TRACE(recordSize);
    EXPECT_EQ(Parse(testing::BuildIe3Index(entries, recordSize).bytes, recordSize), expected);
  }
  EXPECT_TRUE(Parse(testing::BuildIe3Index(entries, 256).bytes, 0).empty());
}

TEST(ParseExplorer3SegmentTest, RecordsStartWhereHttpFirstBeginsFrom256) {
  const struct {
    std::size_t recordSize, firstRecord;
    int records;
    const char* versionLine = "MM Cache 3.0";
  } cases[] = {{2048, 300, 3},                       // records at 300, 2,348 and 4,396
               {4096, 1000, 2},                      // position 232 of the window at 768
               {2048, 256, 2, "http://header 3.0"},  // the header is not searched
               // A single record whose "http" lies in a last window shorter than 288.
               {256, 256, 1},
               {256, 784, 1},
               {256, 256, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.recordSize << " at " << c.firstRecord);
    std::vector<Ie3Entry> entries;
    std::vector<Row> expected;
    for (int i = 0; i < c.records; ++i) {
      const std::string n = std::to_string(i);
      entries.push_back(Entry("http://h/" + n, n));
      expected.push_back({"http://h/" + n, "cache1/" + n, "text/html"});
    }
    testing::Ie3Index index =
        testing::BuildIe3Index(entries, c.recordSize, c.versionLine, c.firstRecord);
    EXPECT_EQ(Parse(index.bytes, c.recordSize), expected);
  }
}

TEST(ParseExplorer3SegmentTest, RecordsCutAtTheFileEndAreNotRead) {
  const std::vector<Ie3Entry> entries = {Entry("http://h/a", "a"), Entry("http://h/b", "b")};
  const testing::Ie3Index index = testing::BuildIe3Index(entries, 2048);
  const std::size_t last = index.recordOffsets[1];
  EXPECT_EQ(Parse(index.bytes.substr(0, last + 2048), 2048).size(), 2u);
  EXPECT_EQ(Parse(index.bytes.substr(0, last + 2047), 2048).size(), 1u);
  EXPECT_EQ(Parse(index.bytes.substr(0, last), 2048).size(), 1u);
  EXPECT_TRUE(Parse(index.bytes.substr(0, last - 1), 2048).empty());
}

TEST(ParseExplorer3SegmentTest, TextsEndAtTheirRecordAndTypelessRecordsAreDropped) {
  const std::string url255 = "http://h/" + std::string(246, 'u');
  const std::string name255(255, 'n');
  const std::vector<Ie3Entry> entries = {
      Entry(url255, "a"),
      Entry(url255 + "u", "b"),
      Entry("http://h/c", name255, "image/gif"),
      Entry("http://h/d", name255 + "n"),
      Entry("http://h/" + std::string(3000, 'v'), "e"),  // no NUL in the record
      WithHeader("http://h/nearest", std::string(253, 'x') + "\r\ncontent-TYPE:image/png\r\n"),
      WithHeader("http://h/far", std::string(254, 'x') + "\r\nContent-Type: text/html\r\n"),
      Entry("http://h/none", "none", "")};
  EXPECT_EQ(Parse(testing::BuildIe3Index(entries, 2048).bytes, 2048),
            (std::vector<Row>{{url255, "cache1/a", "text/html"},
                              {url255 + "u", "cache1/b", "text/html"},
                              {"http://h/c", "cache1/" + name255, "image/gif"},
                              {"http://h/d", "cache1/" + name255 + "n", "text/html"},
                              {"http://h/nearest", "cache1/f", "image/png"}}));

  // The header starts at 15 and the value at 15 + 202 + 14: it runs to the end of the
  // 256-byte record, and the next record's bytes are no part of it.
  const std::vector<Ie3Entry> small = {
      WithHeader("http://h/end",
                 std::string(200, 'x') + "\r\nContent-Type: " + std::string(100, 'T')),
      Entry("http://h/next", "next")};
  EXPECT_EQ(Parse(testing::BuildIe3Index(small, 256).bytes, 256),
            (std::vector<Row>{{"http://h/end", "cache1/f", std::string(256 - 231, 'T')},
                              {"http://h/next", "cache1/next", "text/html"}}));
}

class ReadExplorer3CacheTest : public testing::ReaderFileTest {
 protected:
  bool Read(bool log) { return ReadExplorer3Cache(Context(log), frontend, log, cacheDir, table); }
  const std::string cacheDir = MakeDir("cache");
};

TEST_F(ReadExplorer3CacheTest, ReadsSubdirectories1To19EachFileBySizeAndDumpsOnlyWithTheLog) {
  testing::WriteIe3Cache(
      cacheDir, {{.url = "http://h/3-4096",
                  .fileName = "a.gif",
                  .subdirectory = 3,
                  .recordSize = 4096,
                  .contentType = "image/gif"},
                 {.url = "http://h/3-256", .fileName = "b.htm", .subdirectory = 3},
                 {.url = "http://h/1-2048", .fileName = "c.htm", .recordSize = 2048},
                 {.url = "http://h/1-256", .fileName = "t", .contentType = ""},  // dumped only
                 {.url = "http://h/19-256", .fileName = "d.htm", .subdirectory = 19},
                 {.url = "http://h/20-256", .fileName = "e.htm", .subdirectory = 20}});
  const std::vector<Row> rows = {{"http://h/1-2048", "cache1/c.htm", "text/html"},
                                 {"http://h/3-256", "cache3/b.htm", "text/html"},
                                 {"http://h/3-4096", "cache3/a.gif", "image/gif"},
                                 {"http://h/19-256", "cache19/d.htm", "text/html"}};
  EXPECT_TRUE(Read(false));
  EXPECT_EQ(testing::RowsOf(table), rows);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");
  EXPECT_EQ(ReadFile("start/fat.txt"), "<missing>");

  table.Reset();
  EXPECT_TRUE(Read(true));
  EXPECT_EQ(testing::RowsOf(table), rows);
  const std::string startLine =
      platform::ToCp932("iexplore 3.0  Cache ファイル名　読み出し開始\r\n");
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), startLine);
  EXPECT_EQ(ReadFile("start/fat.txt"),
            "http://h/1-256 t \r\n http://h/1-2048 c.htm text/html\r\n "
            "http://h/3-256 b.htm text/html\r\n http://h/3-4096 a.gif image/gif\r\n "
            "http://h/19-256 d.htm text/html\r\n ");

  // A dump that cannot be created: nothing is read, not even the start line is written, and
  // the read counts as done.
  platform::DeleteFile(Path("start/fat.txt"));
  MakeDir("start/fat.txt");
  table.Reset();
  EXPECT_TRUE(Read(true));
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), startLine);
  EXPECT_TRUE(frontend.messages().empty());
}

// An index file that turned into a FIFO or a link is no cache to read from: the read stops
// with the reason, and the job ends as when no copy can be made.
TEST_F(ReadExplorer3CacheTest, AnIndexThatIsAFifoOrALinkStopsTheRead) {
  testing::WriteIe3Cache(cacheDir,
                         {{.url = "http://h/a", .fileName = "a.htm", .recordSize = 2048}});
  MakeFifo("cache/cache1/mm256.dat");
  EXPECT_FALSE(Read(false));
  EXPECT_EQ(frontend.messages(),
            std::vector<std::string>{"キャッシュファイルは通常のファイルでないため読みません\r"
                                     "CACHE_DIR: " +
                                     Path("cache/cache1/mm256.dat")});
  platform::DeleteFile(Path("cache/cache1/mm256.dat"));
  MakeLink(Path("cache/cache1/mm2048.dat"), "cache/cache1/mm256.dat");
  table.Reset();
  EXPECT_FALSE(Read(false));
  EXPECT_EQ(frontend.messages().back(),
            "キャッシュファイルはシンボリックリンクのため読みません\rCACHE_DIR: " +
                Path("cache/cache1/mm256.dat"));
}

// A cache<d> that is a link to a directory elsewhere is not read through: its index there is
// never copied, and the layout does not read its version line there either.
TEST_F(ReadExplorer3CacheTest, ASubdirectoryThatIsALinkIsNotReadThrough) {
  testing::WriteIe3Cache(Path("outside"), {{.url = "http://h/a", .fileName = "a.htm"}});
  MakeLink(Path("outside/cache1"), "cache/cache1");
  EXPECT_FALSE(Read(false));
  EXPECT_EQ(frontend.messages(),
            std::vector<std::string>{
                "キャッシュのサブディレクトリはシンボリックリンクのため読みません\rCACHE_DIR: " +
                Path("cache/cache1")});
  EXPECT_EQ(table.count(), 0);
  const CacheLayouts layouts = CacheLayouts::BuiltIn();
  const CacheLayout* layout = layouts.Find(cacheDir);
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(layout->name(), "Explorer 3");
}

TEST_F(ReadExplorer3CacheTest, StopsWhereACopyCannotBeMade) {
  testing::WriteIe3Cache(cacheDir, {{.url = "http://h/a", .fileName = "a.htm"},
                                    {.url = "http://h/b", .fileName = "b.htm", .subdirectory = 2}});
  testing::ScopedTmpDir scoped(Path("nosuch"));
  EXPECT_FALSE(Read(false));
  EXPECT_EQ(table.count(), 0);
  ASSERT_EQ(frontend.messages().size(), 1u);
  EXPECT_TRUE(
      frontend.messages()[0].starts_with("キャッシュデータを一時ディレクトリにコピーできません"));
}

}  // namespace
}  // namespace lumbra
