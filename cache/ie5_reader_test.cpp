#include "cache/ie5_reader.h"

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cache/byte_span.h"
#include "cache/ie4_reader.h"
#include "platform/codepage.h"
#include "testing/cache_support.h"
#include "testing/ie4_fixture.h"

namespace lumbra {
namespace {

using testing::Ie4Cache;
using testing::Ie4Entry;
using testing::Ie4Version;

using testing::Row;

std::vector<Row> Parse(std::string_view bytes) {
  CacheEntryTable table;
  ParseExplorer5Index(bytes, table, nullptr);
  return testing::RowsOf(table);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A "Record type : URL" block of `msiecfexport -m all`.
struct ExportedUrl {
  std::size_t end = 0;  // "Offset range: start - end (size)"
  std::string location, filename;
  std::string directory;  // the name after the index, "(ENG3X4ZR)"; empty when none is given
};

// Runs msiecfexport (libmsiecf-utils) on `file` and keeps its URL records by their start
// offset (a recovered record repeats one); fails the test when the tool is missing or fails.
std::map<std::size_t, ExportedUrl> ExportUrls(const std::string& file) {
  std::map<std::size_t, ExportedUrl> urls;
  FILE* pipe = ::popen(("msiecfexport -m all '" + file + "'").c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run msiecfexport";
    return urls;
  }
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "msiecfexport failed on " << file << " (apt-get install libmsiecf-utils)";
  EXPECT_NE(out.find("Exporting items."), std::string::npos) << out;

  ExportedUrl* url = nullptr;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
    std::string value = line.substr(colon + 2);
    std::size_t start = 0, end = 0;
    if (key == "Record type") {
      url = value == "URL" ? &urls[SIZE_MAX] : nullptr;
    } else if (url != nullptr && key == "Offset range") {
      EXPECT_EQ(std::sscanf(value.c_str(), "%zu - %zu", &start, &end), 2) << line;
      urls[start] = urls.extract(SIZE_MAX).mapped();
      url = &urls[start];
      url->end = end;
    } else if (url != nullptr && key == "Location") {
      url->location = value;
    } else if (url != nullptr && key == "Filename") {
      url->filename = value;
    } else if (url != nullptr && key == "Cache directory index") {
      std::size_t open = value.find(")(");
      if (open != std::string::npos)
        url->directory = value.substr(open + 2, value.rfind(')') - open - 2);
    }
  }
  return urls;
}

TEST(ParseExplorer5IndexTest, RealIndexFilesAgreeWithMsiecfexport) {
  const std::pair<const char*, bool> files[] = {
      {"plaso-Content.IE5-index.dat", true},
      {"plaso-History.IE5-index.dat", false},  // history files name no cached files
      {"plaso-MSHist012013031020130311-index.dat", false},
      {"plaso-grr-index.dat", false}};
  for (auto [file, hasFiles] : files) {
    SCOPED_TRACE(file);
    std::string path = testing::RealDataPath(std::string("msiecf-index.dat/") + file);
    std::optional<std::string> bytes = platform::ReadFile(path);
    ASSERT_TRUE(bytes.has_value());

    // The URL records that name a file and whose stored header has a Content-Type, in file
    // order, each with its record's bytes.
    std::vector<std::pair<std::string, std::string>> want, got;
    std::vector<std::string> records;
    for (const auto& [start, u] : ExportUrls(path)) {
      ASSERT_TRUE(start < u.end && u.end <= bytes->size()) << u.location;
      std::string record = Lower(bytes->substr(start, u.end - start));
      if (u.filename.empty() || record.find("content-type:") == std::string::npos) continue;
      want.emplace_back(u.location,
                        u.directory.empty() ? u.filename : u.directory + "/" + u.filename);
      records.push_back(record);
    }
    EXPECT_EQ(want.empty(), !hasFiles);
    std::vector<Row> rows = Parse(*bytes);
    for (const Row& r : rows) got.emplace_back(r[0], r[1]);
    ASSERT_EQ(got, want);
    // Each content type is the value of a Content-Type line of its own record.
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_NE(records[i].find("content-type: " + Lower(rows[i][2]) + "\r\n"), std::string::npos)
          << ::testing::PrintToString(rows[i]);
    }
  }
}

constexpr auto Page = testing::Ie4Record;

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  return ReadLeU32(bytes, at).value_or(0);
}

// The fixture's record: "http://h/a" at 104, its name at 116, its header at 125 for 45 bytes
// ("HTTP/1.1 200 OK", "Content-Type: text/html", a blank line, a NUL), two blocks in all.
TEST(ParseExplorer5IndexTest, OffsetsAndLengthsAreCheckedAgainstTheRecordAndTheFile) {
  const Row page{"http://h/a", "AAAA0001/a[1].htm", "text/html"};
  const std::string url255 = "http://h/" + std::string(246, 'u');
  const std::string name255(255, 'n');
  using Change = std::function<void(std::string & bytes, std::size_t rec)>;
  // A text placed inside the file but past the 256 bytes of the record.
  auto outside = [](std::size_t field, std::string text) -> Change {
    return [=](std::string& b, std::size_t rec) {
      Put32(b, rec + field, 300);
      b.replace(rec + 300, text.size(), text);
    };
  };
  struct Case {
    const char* what;
    Ie4Entry entry;
    Change change;
    std::optional<Row> expected;
  };
  const Ie4Entry base = Page("http://h/a", "a[1].htm", 0, "text/html");
  const Change none = [](std::string&, std::size_t) {};
  const Case cases[] = {
      {"as built", base, none, page},
      {"record kind other than URL", base, [](auto& b, auto rec) { b.replace(rec, 4, "LEAK"); },
       std::nullopt},
      {"block count 0", base, [](auto& b, auto rec) { Put32(b, rec + 4, 0); }, std::nullopt},
      {"block count past any file", base, [](auto& b, auto rec) { Put32(b, rec + 4, ~0u); },
       std::nullopt},
      {"record one byte past the end of the file", base,
       [](auto& b, auto rec) { b.resize(rec + 255); }, std::nullopt},
      {"record ending at the end of the file", base, [](auto& b, auto rec) { b.resize(rec + 256); },
       page},
      {"URL offset 0", base, [](auto& b, auto rec) { Put32(b, rec + 52, 0); }, std::nullopt},
      {"URL offset past the record", base, outside(52, "http://x/y"), std::nullopt},
      {"name offset 0", base, [](auto& b, auto rec) { Put32(b, rec + 60, 0); }, std::nullopt},
      {"name offset past the record", base, outside(60, "x[1].htm"), std::nullopt},
      {"header offset 0", base, [](auto& b, auto rec) { Put32(b, rec + 68, 0); }, std::nullopt},
      {"header offset past the record", base, outside(68, "Content-Type: text/plain\r\n"),
       std::nullopt},
      {"header length ending inside the Content-Type value", base,
       [](auto& b, auto rec) { Put32(b, rec + 72, 17 + 14 + 4); }, Row{page[0], page[1], "text"}},
      {"header length past the record, value running on in the file", base,
       [](auto& b, auto rec) {
         Put32(b, rec + 72, ~0u);
         b.replace(rec + 125, 131, std::string(111, 'x') + "Content-Type: TTTTTT");
         b.replace(rec + 256, 8, "XXXXXXXX");
       },
       Row{page[0], page[1], "TTTTTT"}},
      {"name without a NUL before the end of the record", base,
       [](auto& b, auto rec) {
         Put32(b, rec + 60, 251);
         b.replace(rec + 251, 13, "abcdeXXXXXXXX");
       },
       Row{page[0], "AAAA0001/abcde", page[2]}},
      {"subdirectory index that names no slot", base, [](auto& b, auto rec) { b[rec + 56] = 1; },
       Row{page[0], "a[1].htm", page[2]}},
      {"URL and name of 255 characters", Page(url255, name255, 0, "image/gif"), none,
       Row{url255, "AAAA0001/" + name255, "image/gif"}},
      // Today's long URLs are kept; the record's blocks hold them.
      {"URL of 3,000 characters", Page(url255 + std::string(2745, 'u'), "a", 0, "image/gif"), none,
       Row{url255 + std::string(2745, 'u'), "AAAA0001/a", "image/gif"}},
  };
  auto build = [](const Ie4Entry& entry) {
    Ie4Cache cache;
    cache.version = Ie4Version::V52;
    cache.subdirectories = {"AAAA0001"};
    cache.entries = {entry};
    return testing::BuildIe4Index(cache);
  };
  testing::Ie4Index built = build(base);  // the layout the changes count on
  const std::size_t at = built.recordOffsets[0];
  ASSERT_EQ(std::vector<std::uint32_t>({Get32(built.bytes, at + 4), Get32(built.bytes, at + 60),
                                        Get32(built.bytes, at + 68)}),
            std::vector<std::uint32_t>({2, 116, 125}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::Ie4Index index = build(c.entry);
    c.change(index.bytes, index.recordOffsets[0]);
    std::vector<Row> expected;
    if (c.expected) expected.push_back(*c.expected);
    EXPECT_EQ(Parse(index.bytes), expected);
  }
}

using ReadExplorer5CacheTest = testing::ReaderFileTest;

TEST_F(ReadExplorer5CacheTest, TheExplorer4ReaderHandsTheIndexOverAndWritesItsDump) {
  Ie4Cache cache;
  cache.version = Ie4Version::V52;
  cache.subdirectories = {"AAAA0001", "BBBB0002"};
  cache.entries = {Page("http://h/a", "a[1].htm", 1, "text/html"),
                   Page("http://h/b", "b", 0xfe, "image/gif"), Page("http://h/c", "c", 0, "")};
  std::string index = testing::WriteIe4Cache(Path("cache"), cache);
  ReadExplorer4Cache(Context(true), frontend, true, index, table);
  EXPECT_EQ(testing::RowsOf(table),
            (std::vector<Row>{{"http://h/a", "BBBB0002/a[1].htm", "text/html"},
                              {"http://h/b", "b", "image/gif"}}));
  EXPECT_EQ(ReadFile("start/lumbralog.txt"),
            platform::ToCp932("iexplore 4.0  Cache ファイル名　読み出し開始\r\n"));
  // Low bytes of the fields: blocks at 4, URL offset at 52, subdirectory at 56, name offset
  // at 60, header offset and length at 68 and 72; a record without a type has a line too.
  auto fields = [](const char* middle) {
    return std::string("2 0 0 0 0 0 0 0 0 0 0 0 104 ") + middle + " 0 0 0 0 0 0 0 ";
  };
  EXPECT_EQ(ReadFile("start/fat.txt"),
            fields("1 116 0 125 45") + "http://h/a a[1].htm text/html\r\n " +
                fields("-2 116 0 118 45") + "http://h/b b image/gif\r\n " +
                fields("0 116 0 118 20") + "http://h/c c \r\n ");
}

}  // namespace
}  // namespace lumbra
