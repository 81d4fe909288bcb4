#include "cache/ie2_reader.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "testing/cache_support.h"
#include "testing/ie2_fixture.h"

namespace lumbra {
namespace {

using testing::Ie2Cache;
using testing::Ie2Entry;
using testing::Row;

std::vector<Row> Parse(std::string_view bytes, std::string* dump = nullptr) {
  CacheEntryTable table;
  ParseExplorer2Index(bytes, table, dump);
  return testing::RowsOf(table);
}

TEST(ParseExplorer2IndexTest, TakesUrlTypeAndFileOfEveryFLineAndCutsTheType) {
  const Ie2Entry longOne{.url = "http://h/" + std::string(300, 'u'),
                         .fileName = std::string(300, 'n'),
                         .contentType = "text/html; " + std::string(200, 't'),
                         .rest = "more,fields,"};
  Ie2Cache cache;
  cache.entries = {
      {.rawLine = "IE cache list"},
      {.url = "http://www.example.co.jp/", .fileName = "CACHE1/A0001.HTM"},
      {.rawLine = ""},
      {.rawLine = "f,http://h/lower,0,0,0,0,0,0,0,text/html,l,"},
      {.rawLine = " F,http://h/blank,0,0,0,0,0,0,0,text/html,b,"},
      {.url = "http://h/logo.gif?a=1", .fileName = "A0002.GIF", .contentType = "image/gif"},
      longOne};
  const std::vector<Row> expected = {
      {"http://www.example.co.jp/", "CACHE1/A0001.HTM", "text/html"},
      {"http://h/logo.gif?a=1", "A0002.GIF", "image/gif"},
      {longOne.url, longOne.fileName, longOne.contentType.substr(0, 150)}};
  for (const char* lineEnd : {"\r\n", "\n"}) {
    cache.lineEnd = lineEnd;
    std::string dump;
    EXPECT_EQ(Parse(testing::BuildIe2Index(cache), &dump), expected);
    EXPECT_EQ(dump,
              "http://www.example.co.jp/ text/html CACHE1/A0001.HTM\n"
              "http://h/logo.gif?a=1 image/gif A0002.GIF\n" +
                  expected[2][0] + " " + expected[2][2] + " " + expected[2][1] + "\n");
  }
}

// One line and the row it gives (url, cacheFile, contentType), or none.
struct CursorCase {
  std::string line;
  std::optional<Row> row;
};

void PrintTo(const CursorCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.line); }

class Explorer2FieldCursorTest : public ::testing::TestWithParam<CursorCase> {};

TEST_P(Explorer2FieldCursorTest, EmptyFieldsTakeTheNextCommaAndShiftTheRest) {
  const CursorCase& c = GetParam();
  std::vector<Row> expected;
  if (c.row) expected.push_back(*c.row);
  EXPECT_EQ(Parse(c.line + "\r\n"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Explorer2FieldCursorTest,
    ::testing::Values(CursorCase{"F,U,3,4,5,6,7,8,9,T,N,", Row{"U", "N", "T"}},
                      CursorCase{"File,U,3,4,5,6,7,8,9,T,N,12,13", Row{"U", "N", "T"}},
                      CursorCase{"F,U,,4,5,6,7,8,9,T,N,",
                                 Row{"U", "N", "T"}},  // field 3 may be empty
                      CursorCase{"F,,3,4,5,6,7,8,9,T,N,X,", Row{",3", "X", "N"}},
                      CursorCase{"F,,3,4,5,6,7,8,9,T,N,", std::nullopt},
                      CursorCase{"F,U,3,,5,6,7,8,9,T,N,X,", Row{"U", "X", "N"}},
                      CursorCase{"F,U,3,4,5,6,7,8,,T,N,X,", Row{"U", "X", "N"}},
                      CursorCase{"F,U,3,4,5,6,7,8,9,,N,X,", Row{"U", "X", ",N"}},
                      CursorCase{"F,U,3,4,5,6,7,8,9,T,,X,", Row{"U", ",X", "T"}},
                      // The line ends before a field's closing comma: dropped, and never read on
                      // into the next line or past a NUL.
                      CursorCase{"F,U,3,4,5,6,7,8,9,T,N", std::nullopt},
                      CursorCase{"F,U,3,4,5,6,7,8,9,T,N\r\n,X,", std::nullopt},
                      CursorCase{"F,U,3,4,5,6,7,8,9,T,", std::nullopt},
                      CursorCase{std::string("F,U,3,4,5,6,7,8,9,T,N\0,", 23), std::nullopt},
                      CursorCase{"F,U,3", std::nullopt}, CursorCase{"F,", std::nullopt},
                      CursorCase{"F", std::nullopt}));

TEST(ParseExplorer2IndexTest, ReadsEveryLineCutAt4999Characters) {
  // A line of 4,999 + n characters arrives as two lines: its first 4,999 characters and the
  // rest, which is read as a record when it begins with 'F'. A line of exactly 4,999
  // characters leaves its line end as a line of its own.
  const std::string pieceRecord =
      testing::Ie2Line({.url = "http://h/piece", .fileName = "piece.htm"});
  Ie2Cache cache;
  cache.entries = {{.rawLine = std::string(4999, 'x') + pieceRecord},
                   {.rawLine = std::string(4999, 'y')}};
  for (int line = 5; line < 5000; ++line) cache.entries.push_back({.rawLine = "x"});
  cache.entries.push_back({.url = "http://h/5000", .fileName = "5000.htm"});
  cache.entries.push_back({.url = "http://h/5001", .fileName = "5001.htm"});
  EXPECT_EQ(Parse(testing::BuildIe2Index(cache)),
            (std::vector<Row>{{"http://h/piece", "piece.htm", "text/html"},
                              {"http://h/5000", "5000.htm", "text/html"},
                              {"http://h/5001", "5001.htm", "text/html"}}));
}

using ReadExplorer2CacheTest = testing::ReaderFileTest;

TEST_F(ReadExplorer2CacheTest, WritesTheStartLineAndTheDumpOnlyWhileTheLogIsOn) {
  // An unreadable list is passed over without a word, not even the start line.
  ReadExplorer2Cache(Context(true), frontend, true, Path("nosuch/iexplore.cif"), table);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");
  Ie2Cache cache;
  cache.entries = {{.rawLine = "header"},
                   {.url = "http://h/a.htm", .fileName = "A0001.HTM"},
                   {.url = "http://h/b", .fileName = "A0002.JPG", .contentType = "image/jpeg"}};
  const std::string index = testing::WriteIe2Cache(Path("cache"), cache);
  ReadExplorer2Cache(Context(false), frontend, false, index, table);
  EXPECT_EQ(table.count(), 2);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");
  EXPECT_EQ(ReadFile("start/fat.txt"), "<missing>");

  ReadExplorer2Cache(Context(true), frontend, true, index, table);
  EXPECT_EQ(table.count(), 4);
  const std::string startLine =
      platform::ToCp932("iexplore 2.0  Cache ファイル名　読み出し開始\r\n");
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), startLine);
  EXPECT_EQ(ReadFile("start/fat.txt"),
            "http://h/a.htm text/html A0001.HTM\r\nhttp://h/b image/jpeg A0002.JPG\r\n");

  // A dump that cannot be created: the start line, and nothing read.
  platform::DeleteFile(Path("start/fat.txt"));
  MakeDir("start/fat.txt");
  ReadExplorer2Cache(Context(true), frontend, true, index, table);
  EXPECT_EQ(table.count(), 4);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), startLine + startLine);
  EXPECT_TRUE(frontend.messages().empty());
}

}  // namespace
}  // namespace lumbra
