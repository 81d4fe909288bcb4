#include "cache/ie2_reader.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "testing/ie2_fixture.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

using testing::Ie2Cache;
using testing::Ie2Entry;

// url, cacheFile, contentType of a row.
using Row = std::array<std::string, 3>;

std::vector<Row> Parse(std::string_view bytes, std::string* dump = nullptr) {
  CacheEntryTable table;
  ParseExplorer2Index(bytes, table, dump);
  std::vector<Row> rows;
  for (int i = 0; i < table.count(); ++i) {
    rows.push_back({table.row(i).url, table.row(i).cacheFile, table.row(i).contentType});
  }
  return rows;
}

Ie2Entry Entry(std::string url, std::string type, std::string file) {
  Ie2Entry entry;
  entry.url = std::move(url);
  entry.contentType = std::move(type);
  entry.fileName = std::move(file);
  return entry;
}

Ie2Entry Raw(std::string line) {
  Ie2Entry entry;
  entry.rawLine = std::move(line);
  return entry;
}

TEST(ParseExplorer2IndexTest, TakesUrlTypeAndFileOfEveryFLineCutToTheirLimits) {
  Ie2Entry longOne = Entry("http://h/" + std::string(300, 'u'),
                           "text/html; " + std::string(200, 't'), std::string(300, 'n'));
  longOne.rest = "more,fields,";
  Ie2Cache cache;
  cache.entries = {Raw("IE cache list"),
                   Entry("http://www.example.co.jp/", "text/html", "CACHE1/A0001.HTM"),
                   Raw(""),
                   Raw("f,http://h/lower,0,0,0,0,0,0,0,text/html,l,"),
                   Raw(" " + testing::Ie2Line(Entry("http://h/blank", "text/html", "b"))),
                   Entry("http://h/logo.gif?a=1", "image/gif", "A0002.GIF"),
                   longOne};
  const std::vector<Row> expected = {
      {"http://www.example.co.jp/", "CACHE1/A0001.HTM", "text/html"},
      {"http://h/logo.gif?a=1", "A0002.GIF", "image/gif"},
      {longOne.url.substr(0, 200), std::string(200, 'n'), longOne.contentType.substr(0, 150)}};
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

TEST(ParseExplorer2IndexTest, LooksAtTheFirst5000LinesAsA5000ByteBufferCutsThem) {
  // A line of 4,999 + n characters arrives as two lines: its first 4,999 characters and the
  // rest, which is read as a record when it begins with 'F'. A line of exactly 4,999
  // characters leaves its line end as a line of its own.
  const std::string pieceRecord =
      testing::Ie2Line(Entry("http://h/piece", "text/html", "piece.htm"));
  Ie2Cache cache;
  cache.entries = {Raw(std::string(4999, 'x') + pieceRecord), Raw(std::string(4999, 'y'))};
  for (int line = 5; line < 5000; ++line) cache.entries.push_back(Raw("x"));
  cache.entries.push_back(Entry("http://h/5000", "text/html", "5000.htm"));
  cache.entries.push_back(Entry("http://h/5001", "text/html", "5001.htm"));
  EXPECT_EQ(Parse(testing::BuildIe2Index(cache)),
            (std::vector<Row>{{"http://h/piece", "piece.htm", "text/html"},
                              {"http://h/5000", "5000.htm", "text/html"}}));
}

class ReadExplorer2CacheTest : public testing::TempDirTest {
 protected:
  JobContext Context(bool execLog) const {
    JobContext ctx;
    ctx.startDir = MakeDir("start");
    ctx.execLog = execLog;
    return ctx;
  }
  std::string SmallCache() const {
    Ie2Cache cache;
    cache.entries = {Raw("header"), Entry("http://h/a.htm", "text/html", "A0001.HTM"),
                     Entry("http://h/b", "image/jpeg", "A0002.JPG")};
    return testing::WriteIe2Cache(Path("cache"), cache);
  }
  testing::ScriptedFrontend frontend;
  CacheEntryTable table;
};

TEST_F(ReadExplorer2CacheTest, WritesTheStartLineAndTheDumpOnlyWhileTheLogIsOn) {
  const std::string index = SmallCache();
  ReadExplorer2Cache(Context(false), frontend, false, index, table);
  EXPECT_EQ(table.count(), 2);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");
  EXPECT_EQ(ReadFile("start/fat.txt"), "<missing>");

  ReadExplorer2Cache(Context(true), frontend, true, index, table);
  EXPECT_EQ(table.count(), 4);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"),
            platform::ToCp932("iexplore 2.0  Cache ファイル名　読み出し開始\r\n"));
  EXPECT_EQ(ReadFile("start/fat.txt"),
            "http://h/a.htm text/html A0001.HTM\r\nhttp://h/b image/jpeg A0002.JPG\r\n");
  EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(ReadExplorer2CacheTest, UnreadableListIsPassedOverWithoutAWord) {
  ReadExplorer2Cache(Context(true), frontend, true, Path("nosuch/iexplore.cif"), table);
  EXPECT_EQ(table.count(), 0);
  EXPECT_TRUE(frontend.messages().empty());
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");
  EXPECT_EQ(ReadFile("start/fat.txt"), "<missing>");
}

TEST_F(ReadExplorer2CacheTest, ReadsNothingWhenTheDumpCannotBeCreated) {
  const std::string index = SmallCache();
  JobContext ctx = Context(true);
  MakeDir("start/fat.txt");
  ReadExplorer2Cache(ctx, frontend, true, index, table);
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"),
            platform::ToCp932("iexplore 2.0  Cache ファイル名　読み出し開始\r\n"));
  EXPECT_TRUE(frontend.messages().empty());
}

}  // namespace
}  // namespace lumbra
