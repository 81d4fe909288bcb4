#include "cache/netscape_reader.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "testing/cache_support.h"
#include "testing/netscape_fixture.h"

namespace lumbra {
namespace {

using testing::NetscapeEntry;
using testing::NetscapeFile;
using testing::NetscapeRecord;
using testing::Row;

struct Parsed {
  int pageSize = 0;
  std::vector<Row> rows;
  std::vector<std::string> messages;
  std::string dump;
};

Parsed Parse(std::string_view bytes, int pageSize) {
  // A buffer of exactly the file's size, so that a read past its end is a sanitizer report.
  std::vector<char> exact(bytes.begin(), bytes.end());
  Parsed parsed;
  CacheEntryTable table;
  parsed.pageSize = ParseNetscapeIndex(
      std::string_view(exact.data(), exact.size()), pageSize, table, &parsed.dump,
      [&parsed](std::string_view text) { parsed.messages.emplace_back(text); });
  parsed.rows = testing::RowsOf(table);
  return parsed;
}

std::vector<Row> Sorted(std::vector<Row> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

Row RowOf(const NetscapeEntry& e) { return {e.url, e.fileName, e.contentType}; }

TEST(ParseNetscapeIndexTest, DatabaseFilesOfBothPageSizesGiveEveryStoredEntry) {
  const char* types[] = {"text/html", "image/gif", "image/jpeg", "text/html; charset=EUC-JP"};
  for (int pageSize : {4096, 16384}) {
    SCOPED_TRACE(pageSize);
    // 300 entries fill several pages and overflow pages of both sizes; every third is deleted
    // again, and the browser's own "INT" records are passed over.
    testing::NetscapeCache cache;
    cache.pageSize = pageSize;
    cache.deleteEvery = 3;
    std::vector<Row> expected;
    for (int i = 0; i < 300; ++i) {
      std::string n = std::to_string(i);
      NetscapeEntry e = NetscapeFile("http://host" + std::to_string(i % 7) + ".jp/d/p" + n,
                                     "cache" + std::to_string(i % 4) + "/M" + n, types[i % 4]);
      e.n7Zero = i % 2 == 0;
      e.keyRest = std::string(static_cast<std::size_t>(i % 5), 'k');
      e.dataRest = std::string(static_cast<std::size_t>(i % 3), 'd');
      if (cache.entries.size() % 3 != 0) expected.push_back(RowOf(e));
      cache.entries.push_back(e);
      if (i % 60 == 1) cache.entries.push_back(testing::IntEntry("_SETTING" + n));
    }
    std::string bytes = testing::BuildNetscapeIndex(cache);
    Parsed parsed = Parse(bytes, pageSize);
    EXPECT_EQ(parsed.pageSize, pageSize);
    EXPECT_EQ(Sorted(parsed.rows), Sorted(expected));
    EXPECT_TRUE(parsed.messages.empty());
  }
}

TEST(ParseNetscapeIndexTest, PairLargerThanAPageIsNotReadFromItsOverflowPages) {
  testing::NetscapeCache cache;
  NetscapeEntry big = NetscapeFile("http://h/big", "M-big", "text/html");
  big.dataRest = std::string(5000, 'x');
  cache.entries = {NetscapeFile("http://h/a", "M-a", "text/html"), big,
                   NetscapeFile("http://h/b", "M-b", "image/gif")};
  Parsed parsed = Parse(testing::BuildNetscapeIndex(cache), 4096);
  EXPECT_EQ(Sorted(parsed.rows), Sorted({RowOf(cache.entries[0]), RowOf(cache.entries[2])}));
  // Its key lies on the first overflow page with the marker 3 for a data offset, so its data
  // record is read from that page's offset table; the pages that hold the rest of its data
  // begin with marker pairs as well, whose "keys" are bytes of the data.
  EXPECT_EQ(parsed.messages, (std::vector<std::string>{"fat read Ns047:データが長すぎます",
                                                       "fat read Ns006:名前が長すぎます",
                                                       "fat read Ns006:名前が長すぎます"}));
}

TEST(ParseNetscapeIndexTest, LengthsUpToTheirLimitsAreReadAndTheTypeCut) {
  NetscapeEntry longest = NetscapeFile("http://h/" + std::string(kCacheUrlMax - 9, 'u'),
                                       std::string(511, 'n'), "text/" + std::string(506, 't'));
  longest.keyRest = std::string(1024, 'k');
  longest.dataRest = std::string(1024, 'd');
  NetscapeEntry noNul = NetscapeFile("http://h/nonul", "nonul", "image/gif");
  noNul.textNuls = false;
  NetscapeEntry empty = NetscapeFile("", "", "");
  empty.textNuls = false;
  NetscapeEntry inner = NetscapeFile(std::string("http://h/e\0tail", 15), std::string("e\0x", 3),
                                     std::string("text/html\0; x", 13));
  testing::NetscapeCache cache;
  cache.pageSize = 16384;
  cache.entries = {longest, noNul, empty, inner};
  Parsed parsed = Parse(testing::BuildNetscapeIndex(cache), 16384);
  EXPECT_EQ(Sorted(parsed.rows),
            Sorted({{longest.url, longest.fileName, longest.contentType.substr(0, 150)},
                    RowOf(noNul),
                    {"", "", ""},
                    {"http://h/e", "e", "text/html"}}));
  EXPECT_TRUE(parsed.messages.empty());
}

// The entry every hand-laid file holds.
NetscapeRecord GoodRecord() {
  NetscapeEntry e = NetscapeFile("http://h/a", "a", "text/html");
  e.n7Zero = true;
  e.keyRest = "KR";
  e.dataRest = "DR";
  return testing::EncodeNetscapeRecord(e);
}

TEST(ParseNetscapeIndexTest, OffsetTablesOutsideTheirLimitsArePassedOver) {
  struct Case {
    std::int16_t n, keyOffset, dataOffset;
    std::size_t rows;
    std::vector<std::string> messages;
  };
  const NetscapeRecord record = GoodRecord();
  const std::int16_t key = 6;
  const std::int16_t data = static_cast<std::int16_t>(6 + record.key.size());
  const Case cases[] = {
      {2, key, data, 1, {}},
      {3, key, data, 1, {}},  // n / 2 pairs
      {0, key, data, 0, {}},
      {1, key, data, 0, {}},
      {-2, key, data, 0, {}},
      {1001, key, data, 0, {}},
      {1000, key, data, 0, {"fat read error Ns003:FAT 読みとりエラー"}},  // 500 pairs wanted
      {2, 0, data, 0, {}},
      {2, key, 0, 0, {}},
      {2, 16385, data, 0, {}},
      {2, key, 16385, 0, {}},
      {2, key, 16384, 0, {"fat read Ns020:no No"}},  // taken, but beyond the end of the file
      {2, -32768, data, 0, {}},                      // before the start of the file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.n << " " << c.keyOffset << " " << c.dataOffset);
    std::string bytes = testing::LayNetscapeIndex(record.key, record.data, false);
    for (auto [at, value] : {std::pair{0, c.n}, {2, c.keyOffset}, {4, c.dataOffset}}) {
      bytes[testing::kLaidPage + at] = static_cast<char>(value & 0xff);
      bytes[testing::kLaidPage + at + 1] = static_cast<char>((value >> 8) & 0xff);
    }
    Parsed parsed = Parse(bytes, 4096);
    EXPECT_EQ(parsed.rows.size(), c.rows);
    EXPECT_EQ(parsed.messages, c.messages);
  }
}

// One damage to the hand-laid file and the message it must give. Cut ends the damaged item
// (laid last in the file) one byte before the end of the field; Set and Add change a number;
// File makes a file of `value` zero bytes with the entry count 4 at 4,096 where it fits.
struct Damage {
  enum Kind { Cut, Set, Add, File } kind;
  const char* field;
  std::int32_t value;
  const char* message;
};

std::ostream& operator<<(std::ostream& out, const Damage& d) {
  return out << d.field << " " << d.value << ": " << d.message;
}

class DamagedIndexTest : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedIndexTest, GivesItsMessageAndNoRow) {
  const Damage& d = GetParam();
  std::string bytes;
  if (d.kind == Damage::File) {
    bytes.assign(static_cast<std::size_t>(d.value), '\0');
    if (bytes.size() >= testing::kLaidPage + 2) bytes[testing::kLaidPage] = 4;
  } else {
    NetscapeRecord record = GoodRecord();
    bool inKey = std::any_of(record.keyFields.begin(), record.keyFields.end(),
                             [&](const auto& f) { return f.first == d.field; });
    if (d.kind == Damage::Cut) record.CutInside(d.field);
    if (d.kind == Damage::Set) record.SetInt(d.field, d.value);
    if (d.kind == Damage::Add) record.AddInt(d.field, d.value);
    bytes = testing::LayNetscapeIndex(record.key, record.data, inKey);
  }
  Parsed parsed = Parse(bytes, 4096);
  EXPECT_TRUE(parsed.rows.empty());
  EXPECT_EQ(parsed.messages, std::vector<std::string>{d.message});
}

INSTANTIATE_TEST_SUITE_P(
    EveryMessage, DamagedIndexTest,
    ::testing::Values(
        Damage{Damage::File, "probe", 4097, "fat read Ns001:バージョンチェック"},
        Damage{Damage::File, "entry count", 8193, "fat read error Ns002:ブロック データ数エラー"},
        Damage{Damage::File, "offset table", 4105, "fat read error Ns003:FAT 読みとりエラー"},
        Damage{Damage::Cut, "key size", 0, "fat read Ns004:no No"},
        Damage{Damage::Cut, "url length", 0, "fat read Ns005:no Len"},
        Damage{Damage::Set, "url length", kCacheUrlMax + 2, "fat read Ns006:名前が長すぎます"},
        Damage{Damage::Set, "url length", -1, "fat read Ns006:名前が長すぎます"},
        Damage{Damage::Cut, "url", 0, "fat read Ns007:no pname"},
        Damage{Damage::Cut, "key int", 0, "fat read Ns008:no Len"},
        Damage{Damage::Add, "key size", 1023, "fat read Ns009:データが長すぎます"},  // rest 1,025
        Damage{Damage::Add, "key size", -3, "fat read Ns009:データが長すぎます"},    // rest -1
        Damage{Damage::Cut, "key rest", 0, "fat read Ns010:no Data"},
        Damage{Damage::Cut, "record size", 0, "fat read Ns020:no No"},
        Damage{Damage::Cut, "N1", 0, "fat read Ns021:no N1"},
        Damage{Damage::Cut, "time1", 0, "fat read Ns022:no time1"},
        Damage{Damage::Cut, "time2", 0, "fat read Ns023:no time2"},
        Damage{Damage::Cut, "N4", 0, "fat read Ns024:no N4"},
        Damage{Damage::Cut, "mem", 0, "fat read Ns025:no mem"},
        Damage{Damage::Cut, "N5", 0, "fat read Ns026:no N5"},
        Damage{Damage::Cut, "c", 0, "fat read Ns027:no c"},
        Damage{Damage::Cut, "name length", 0, "fat read Ns028:no Len"},
        Damage{Damage::Set, "name length", 513, "fat read Ns029:名前が長すぎます"},
        Damage{Damage::Set, "name length", -1, "fat read Ns029:名前が長すぎます"},
        Damage{Damage::Cut, "name", 0, "fat read Ns030:名前が読めません"},
        Damage{Damage::Cut, "mid N1", 0, "fat read Ns031:no N1"},
        Damage{Damage::Cut, "mid N2", 0, "fat read Ns032:no N2"},
        Damage{Damage::Cut, "mid N3", 0, "fat read Ns033:no N3"},
        Damage{Damage::Cut, "mid N4", 0, "fat read Ns034:no N4"},
        Damage{Damage::Cut, "mid N5", 0, "fat read Ns035:no N5"},
        Damage{Damage::Cut, "mid N6", 0, "fat read Ns036:no N6"},
        Damage{Damage::Cut, "mid N7", 0, "fat read Ns037:no N7"},
        Damage{Damage::Cut, "N8", 0, "fat read Ns038:no N8"},
        Damage{Damage::Cut, "c2", 0, "fat read Ns040:no c"},
        Damage{Damage::Cut, "type length", 0, "fat read Ns041:no Len"},
        Damage{Damage::Set, "type length", 513, "fat read Ns042:タイプが長すぎます"},
        Damage{Damage::Set, "type length", -1, "fat read Ns042:タイプが長すぎます"},
        Damage{Damage::Cut, "type", 0, "fat read Ns043:タイプ読みとりエラーn"},
        Damage{Damage::Cut, "last N1", 0, "fat read Ns044:no N1"},
        Damage{Damage::Cut, "last N2", 0, "fat read Ns045:no N2"},
        Damage{Damage::Cut, "N3", 0, "fat read Ns046:no N3"},
        Damage{Damage::Add, "record size", 1023, "fat read Ns047:データが長すぎます"},
        Damage{Damage::Add, "record size", -3, "fat read Ns047:データが長すぎます"},
        Damage{Damage::Cut, "data rest", 0, "fat read Ns048:no Data"}));

using ReadNetscapeCacheTest = testing::ReaderFileTest;

TEST_F(ReadNetscapeCacheTest, WritesTheLogAndTheDumpLineByLineWhileTheLogIsOn) {
  const NetscapeEntry good{.url = "http://www.example.co.jp/",
                           .fileName = "cache1/M0001",
                           .time1 = 1001,
                           .time2 = -1002,
                           .mem = 3000,
                           .n5 = 7,
                           .n3 = 42};
  // A name of 512 bytes and its NUL is too long: the line of its entry stays unfinished.
  const NetscapeEntry dropped{.url = "http://h/y",
                              .fileName = std::string(512, 'n'),
                              .contentType = "image/gif",
                              .time1 = 5,
                              .writeFile = false};
  testing::NetscapeCache cache;
  cache.entries = {dropped, good, testing::IntEntry("_CACHESIZE")};
  const std::string index = testing::WriteNetscapeCache(Path("cache"), cache);

  EXPECT_EQ(ReadNetscapeCache(Context(false), frontend, false, index, 16384, table), 4096);
  EXPECT_EQ(testing::RowsOf(table), std::vector<Row>{RowOf(good)});
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");
  EXPECT_EQ(ReadFile("start/fat.txt"), "<missing>");

  // fat.txt is replaced by each call; the database puts the dropped entry first.
  for (int call = 0; call < 2; ++call) {
    table.Reset();
    EXPECT_EQ(ReadNetscapeCache(Context(true), frontend, true, index, 16384, table), 4096);
  }
  EXPECT_EQ(table.count(), 1);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"),
            platform::ToCp932("Netscape Cache ファイル名　読み出し開始\r\n"
                              "    fat read Ns029:名前が長すぎます\r\n"
                              "Netscape Cache ファイル名　読み出し開始\r\n"
                              "    fat read Ns029:名前が長すぎます\r\n"));
  auto padded = [](std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text + " ";
  };
  EXPECT_EQ(ReadFile("start/fat.txt"),
            "     0 " + padded("http://h/y", 200) + "         5          0          0 0 " +
                "     0 " + padded("http://www.example.co.jp/", 200) +
                "      1001      -1002       3000 7 " + padded("cache1/M0001", 20) +
                padded("text/html", 20) + "        42 \r\n");
  EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(ReadNetscapeCacheTest, ReadsNothingWhenTheIndexTheProbeOrTheDumpFails) {
  JobContext ctx = Context(true);
  EXPECT_EQ(ReadNetscapeCache(ctx, frontend, true, Path("nosuch/fat.db"), 16384, table), 0);
  EXPECT_EQ(frontend.messages(), std::vector<std::string>{"キャッシュファイルが使用中です"});
  EXPECT_EQ(ReadFile("start/lumbralog.txt"), "<missing>");

  // Too short for the probe: reported after the start line; the last fat.txt stays.
  WriteFile("start/fat.txt", "old");
  EXPECT_EQ(ReadNetscapeCache(ctx, frontend, true, WriteFile("short.db", std::string(4097, 'x')),
                              16384, table),
            0);
  EXPECT_EQ(ReadFile("start/lumbralog.txt"),
            platform::ToCp932("Netscape Cache ファイル名　読み出し開始\r\n"
                              "    fat read Ns001:バージョンチェック\r\n"));
  EXPECT_EQ(ReadFile("start/fat.txt"), "old");

  NetscapeRecord record = GoodRecord();
  const std::string index =
      WriteFile("laid.db", testing::LayNetscapeIndex(record.key, record.data, false));
  ctx.startDir = Path("nosuch");
  EXPECT_EQ(ReadNetscapeCache(ctx, frontend, true, index, 16384, table), 0);
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(frontend.messages(),
            (std::vector<std::string>{"キャッシュファイルが使用中です",
                                      "ERROR : デバッグ用記録ファイルが作成できません"}));
}

}  // namespace
}  // namespace lumbra
