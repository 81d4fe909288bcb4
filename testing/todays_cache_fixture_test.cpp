#include "testing/todays_cache_fixture.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "cache/cache_index.h"
#include "testing/cache_support.h"

namespace lumbra {
namespace {

class TodaysCacheFixtureTest : public testing::ReaderFileTest {};

// The job benchmark times the readers on these caches: each must be taken for its layout and
// every entry read, checked and decoded as an entry the browser wrote.
TEST_F(TodaysCacheFixtureTest, WritesCachesTheReadersTakeWhole) {
  struct Case {
    testing::TodaysEntry entry;
    std::string document;  // as decoded
  };
  std::vector<Case> cases;
  auto add = [&cases](std::string url, std::string type, std::string document, bool gzip) {
    testing::TodaysEntry entry{.url = std::move(url), .contentType = std::move(type)};
    entry.body = gzip ? testing::Gzip(document) : document;
    entry.gzip = gzip;
    cases.push_back({std::move(entry), std::move(document)});
  };
  add("http://host0.example/d/p0.html", "text/html; charset=utf-8",
      "<html><a href=\"p1.html\">next</a><img src=\"img/i4.gif\"></html>", true);
  add("http://host0.example:8080/d/img/i4.gif", "image/gif", "GIF89a" + std::string(200, 'g'),
      false);
  add("https://host1.example/search?q=moss", "text/html", "<p>found</p>", true);
  // Stored beyond one chunk of a Firefox entry: two chunk hashes.
  std::string large;
  for (int i = 0; large.size() < 300 * 1024; ++i) large += "<p>line " + std::to_string(i) + "\n";
  add("http://host1.example/long.html", "text/html", large, false);
  add("http://host1.example/empty.txt", "text/plain", "", false);

  const std::string chromiumDir = Path("chromium");
  testing::ChromiumSimpleWriter chromium(chromiumDir);
  testing::FirefoxCache2Writer firefox(Path("firefox/cache2"));
  for (const Case& c : cases) {
    ASSERT_TRUE(chromium.Add(c.entry));
    ASSERT_TRUE(firefox.Add(c.entry));
  }
  ASSERT_TRUE(chromium.Finish());

  std::vector<std::pair<std::string, std::string>> expected;
  for (const Case& c : cases) expected.emplace_back(c.entry.contentType, c.document);
  std::sort(expected.begin(), expected.end());
  const CacheLayouts layouts = CacheLayouts::BuiltIn();
  const JobContext ctx = Context(false);
  for (const auto& [dir, name] : {std::pair{chromiumDir, "Chromium Simple Cache"},
                                  std::pair{Path("firefox/cache2"), "Firefox cache2"}}) {
    const CacheLayout* layout = layouts.Find(dir);
    ASSERT_NE(layout, nullptr) << dir;
    EXPECT_EQ(layout->name(), name);
    ASSERT_TRUE(ReadCacheIndex(ctx, frontend, layout, table, dir));
    ASSERT_EQ(table.count(), static_cast<int>(cases.size())) << name;
    // Each row's type and document, in any order: the rows are in the order of the files.
    std::vector<std::pair<std::string, std::string>> read;
    const auto documents = layout->Documents(dir);
    for (int i = 0; i < table.count(); ++i) {
      std::string refusal;
      read.emplace_back(table.row(i).contentType,
                        testing::DocumentBytes(*documents, table.row(i), refusal) + refusal);
    }
    std::sort(read.begin(), read.end());
    EXPECT_EQ(read, expected) << name;
  }
}

}  // namespace
}  // namespace lumbra
