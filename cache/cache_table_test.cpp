#include "cache/cache_table.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumbra {
namespace {

CacheEntry Entry(int n) {
  return CacheEntry{"d/f" + std::to_string(n), "http://h/" + std::to_string(n), "text/html", 7};
}

TEST(CacheEntryTableTest, ARepeatedRowIsKeptOnceInItsPlace) {
  CacheEntryTable table;
  for (int n : {1, 2, 1, 3, 2}) table.Append(Entry(n));
  CacheEntry other = Entry(1);
  other.contentType = "image/gif";  // the same URL and file of another type is another row
  table.Append(other);
  table.RemoveRepeatedRows();
  ASSERT_EQ(GetCacheEntryCount(table), 4);
  std::vector<std::string> urls;
  for (int i = 0; i < 4; ++i) urls.push_back(table.row(i).url + " " + table.row(i).contentType);
  EXPECT_EQ(urls, (std::vector<std::string>{"http://h/1 text/html", "http://h/2 text/html",
                                            "http://h/3 text/html", "http://h/1 image/gif"}));
}

TEST(CacheEntryTableTest, GetAndSetIgnoreIndexesOutsideTheValidRows) {
  CacheEntryTable table;
  table.Append(Entry(0));
  CacheEntry out{"keep", "keep", "keep", 42};
  EXPECT_FALSE(GetCacheEntry(table, -1, out));
  EXPECT_FALSE(GetCacheEntry(table, 1, out));
  EXPECT_EQ(out.url, "keep");
  EXPECT_EQ(out.status, 42);

  SetCacheEntryStatus(table, 1, 1);
  SetCacheEntryStatus(table, -1, 1);
  EXPECT_EQ(GetCacheEntryCount(table), 1);
  SetCacheEntryStatus(table, 0, 1);
  ASSERT_TRUE(GetCacheEntry(table, 0, out));
  EXPECT_EQ(out.cacheFile, "d/f0");
  EXPECT_EQ(out.contentType, "text/html");
  EXPECT_EQ(out.status, 1);
}

}  // namespace
}  // namespace lumbra
