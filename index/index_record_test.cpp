#include "index/index_record.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace lumbra {
namespace {

// The exchange sort of the index pages, literally on the paths: for each position, swap with
// every later position whose path compares smaller (strcmp, unsigned bytes).
std::vector<int> ReferenceExchangeSort(const IndexRecordTable& table) {
  std::vector<int> order(table.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    for (std::size_t j = i + 1; j < order.size(); ++j) {
      if (std::strcmp(table[order[i]].path.c_str(), table[order[j]].path.c_str()) > 0) {
        std::swap(order[i], order[j]);
      }
    }
  }
  return order;
}

IndexRecordTable TableOf(const std::vector<std::pair<std::string, std::string>>& rows) {
  IndexRecordTable table;
  for (const auto& [path, title] : rows) AddIndexRecord(table, "", path, title);
  return table;
}

TEST(AddIndexRecordTest, CutsPathAndTitleAndConvertsTheTitle) {
  IndexRecordTable table;
  const std::string longPath = "/s/log/host/" + std::string(kIndexPathMax, 'p');
  AddIndexRecord(table, "/s/log", longPath, std::string(120, 't'));
  AddIndexRecord(table, "/s/log", "/s/log/h/e.html", "\xA4\xA2\xA4\xA4\xA4\xA6");
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].path, longPath.substr(0, kIndexPathMax));
  EXPECT_EQ(table[0].title, std::string(kIndexTitleMax, 't'));
  EXPECT_EQ(table[1].title, "\x82\xA0\x82\xA2\x82\xA4");  // EUC-JP "あいう" as Shift-JIS
}

TEST(AddIndexRecordTest, TitleIsCutBeforeItIsConverted) {
  // 50 EUC pairs are 100 bytes: the cut leaves 49 pairs and a lone lead byte, kept as it is.
  std::string euc;
  for (int k = 0; k < 50; ++k) euc += "\xA4\xA2";
  IndexRecordTable table;
  AddIndexRecord(table, "", "/s/log/h/p.html", euc);
  std::string want;
  for (int k = 0; k < 49; ++k) want += "\x82\xA0";
  EXPECT_EQ(table[0].title, want + "\xA4");
}

TEST(AddIndexRecordTest, TextAfterANulByteIsNotKept) {
  IndexRecordTable table;
  AddIndexRecord(table, "", std::string("/s/log/h/p.html\0junk", 20), std::string("Ti\0tle", 6));
  EXPECT_EQ(table[0].path, "/s/log/h/p.html");
  EXPECT_EQ(table[0].title, "Ti");
}

TEST(SortIndexRecordsTest, SameOrderAsTheExchangeSortOnRandomTables) {
  std::mt19937 random(11);
  for (int round = 0; round < 60; ++round) {
    // Few distinct paths make many duplicates; some rounds have none at all. The byte 0xC0
    // after the number orders by unsigned bytes against a longer number. The directories
    // begin with one another, and one path has no directory at all.
    static const char* const kDirectories[] = {"/l/log/h/",     "/l/log/h-x/", "/l/log/h/sub/",
                                               "/l/log/h\xC0/", "/",           ""};
    const int distinct = round % 3 == 0 ? 100000 : 2 + round;
    const int count = static_cast<int>(random() % 400);
    IndexRecordTable table;
    for (int k = 0; k < count; ++k) {
      const unsigned pick = random() % distinct;
      AddIndexRecord(table, "", kDirectories[pick % 6] + std::to_string(pick) + "\xC0" + "x",
                     std::to_string(k));
    }
    ASSERT_EQ(SortIndexRecords(table), ReferenceExchangeSort(table)) << "round " << round;
  }
}

TEST(SortIndexRecordsTest, AboveTwentyThousandRowsThoseOfOnePathKeepTheirRecordedOrder) {
  // Two rows of one path, then 19,999 smaller paths: the exchange sort would put the second
  // row first (it does in a table of 2 + an odd number of smaller paths).
  IndexRecordTable table;
  AddIndexRecord(table, "", "/l/log/h/b", "first");
  AddIndexRecord(table, "", "/l/log/h/b", "second");
  for (int k = 0; k < 19999; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "a%05d", k);
    AddIndexRecord(table, "", std::string("/l/log/h/") + name, "");
  }
  const std::vector<int> order = SortIndexRecords(table);
  ASSERT_EQ(order.size(), 20001u);
  EXPECT_EQ(order[0], 2);
  EXPECT_EQ(order[19999], 0);
  EXPECT_EQ(order[20000], 1);
}

TEST(NextIndexRecordTest, YieldsRowsInOrderThatContainTheFilter) {
  IndexRecordTable table =
      TableOf({{"/x/alog/h/1", ""}, {"/x/blog/h/2", ""}, {"/x/ALOG/h/3", ""}, {"/x/alog/h/4", ""}});
  const std::vector<int> order{3, 2, 1, 0};
  NextIndexRecord records(table);
  records.SetOrder(order);
  EXPECT_EQ(records.Next("/x/alog"), 3);
  EXPECT_EQ(records.Next("/x/alog"), 0);  // the filter is case-sensitive: row 2 is not listed
  EXPECT_EQ(records.Next("/x/alog"), -1);
  EXPECT_EQ(records.Next("/x/alog"), -1);
  records.Reset();
  EXPECT_EQ(records.Next("log/"), 3);
  EXPECT_EQ(records.Next("log/"), 1);
  EXPECT_EQ(records.Next("log/"), 0);
  records.Reset();
  EXPECT_EQ(records.Next("LOG/"), 2);
}

}  // namespace
}  // namespace lumbra
