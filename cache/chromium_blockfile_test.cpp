// The Chromium blockfile layout on a copy of a cache that Chromium 156 wrote from our test
// site (realdata/browser-caches): its rows, its documents against the bytes the server sent,
// and copies damaged in one place each.
#include "cache/chromium_blockfile.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cache/cache_index.h"
#include "cache/cache_layout.h"
#include "platform/codepage.h"
#include "testing/cache_support.h"

namespace lumbra {
namespace {

constexpr std::string_view kRealCache = "browser-caches/chromium-blockfile";
constexpr std::string_view kMain = "http://127.0.0.1-47811/";

// The documents of the site, as their rows name them (url, content type).
std::set<std::pair<std::string, std::string>> SiteRows() {
  std::set<std::pair<std::string, std::string>> rows;
  for (const testing::ServedDocument& d : testing::TodaysSiteDocuments()) {
    rows.insert({d.url, d.contentType});
  }
  return rows;
}

std::string ReadWhole(DocumentSource& document) {
  std::string bytes;
  char buffer[4096];
  for (long got; (got = document.Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, got);
  return bytes;
}

std::uint32_t HexAt(std::string_view text, std::size_t at) {
  return static_cast<std::uint32_t>(std::stoul(std::string(text.substr(at, 8)), nullptr, 16));
}

class ChromiumBlockfileTest : public testing::ReaderFileTest {
 protected:
  // A fresh copy of the real cache in "cache", and no log yet.
  void SetUp() override {
    platform::RemoveTree(Path("cache"));
    platform::RemoveTree(Path("outside"));
    platform::RemoveTree(Path("start"));
    for (const char* name : {"index", "data_0", "data_1", "data_2", "data_3", "f_000001"}) {
      std::optional<std::string> bytes =
          platform::ReadFile(testing::RealDataPath(std::string(kRealCache) + "/" + name));
      ASSERT_TRUE(bytes) << name;
      pristine_[name] = *bytes;
      WriteFile(std::string("cache/") + name, *bytes);
    }
  }

  std::string Dir() const { return Path("cache"); }

  // Reads the copy as a job does: the layout the probe finds, ReadCacheIndex, the log on.
  std::set<std::pair<std::string, std::string>> ReadRows() {
    layout_ = layouts_.Find(Dir());
    EXPECT_TRUE(layout_ != nullptr && layout_->name() == "Chromium blockfile");
    EXPECT_TRUE(ReadCacheIndex(Context(true), frontend, layout_, table, Dir()));
    std::set<std::pair<std::string, std::string>> rows;
    for (const testing::Row& row : testing::RowsOf(table)) rows.insert({row[0], row[2]});
    return rows;
  }

  bool LogHas(std::string_view text) const {
    return ReadFile("start/lumbralog.txt").find(platform::ToCp932(text)) != std::string::npos;
  }

  // Opens every row's document: each must be the bytes the server sent (gzip decoded).
  void ExpectServedDocuments() {
    testing::ExpectDocumentsAsServed(*layout_->Documents(Dir()), table);
  }

  // The locator of the entry of `url` (as the server saw it), from the pristine files.
  std::string LocatorOf(std::string_view url) const {
    for (const auto& entry : ListBlockfileCache(pristine_).entries) {
      if (entry.response.url == url) return entry.locator;
    }
    ADD_FAILURE() << url;
    return "data_1#00000000#00000000";
  }
  // Where in data_1 the EntryStore of `url` begins.
  std::size_t EntryAt(std::string_view url) const {
    return 8192 + (HexAt(LocatorOf(url), 7) & 0xFFFF) * 256;
  }
  std::uint32_t Word(const std::string& name, std::size_t at) const {
    std::string bytes = ReadFile("cache/" + name);
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  }
  void Patch(const std::string& name, std::size_t at, std::uint32_t value) const {
    std::string bytes = ReadFile("cache/" + name);
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
    WriteFile("cache/" + name, bytes);
  }
  void Cut(const std::string& name, std::size_t size) const {
    WriteFile("cache/" + name, ReadFile("cache/" + name).substr(0, size));
  }

  BlockfileFiles pristine_;
  CacheLayouts layouts_ = CacheLayouts::BuiltIn();
  const CacheLayout* layout_ = nullptr;
};

TEST_F(ChromiumBlockfileTest, ReadsTheDocumentsOfTheRealCacheAsTheServerSentThem) {
  EXPECT_EQ(ReadRows(), SiteRows());
  for (const testing::Row& row : testing::RowsOf(table)) {
    EXPECT_TRUE(row[1].starts_with(Dir() + "/data_1#a001")) << row[1];
  }
  EXPECT_TRUE(LogHas("Chromium blockfile  読んだエントリ 29 件"));
  EXPECT_TRUE(LogHas("転送・エラーなど 200/203 以外の応答 5 件を読みません"));
  EXPECT_TRUE(LogHas("同じ URL の古い複製 1 件を読みません"));
  EXPECT_FALSE(LogHas("読めないエントリ"));
  ExpectServedDocuments();

  // The same walk over the files in memory (what the fuzz target reads) finds the same
  // entries, and reads the 300 KB page out of its external file.
  const BlockfileListing listing = ListBlockfileCache(pristine_);
  EXPECT_TRUE(listing.refusal.written.empty());
  EXPECT_TRUE(listing.passed.empty());
  ASSERT_EQ(listing.entries.size(), 29u);
  StoredResponse response;
  SpooledDocument body;
  std::string why;
  const std::string longPage = "http://127.0.0.1:47811/docs/long.html";
  const std::string locator = LocatorOf(longPage);
  EXPECT_EQ(pristine_.at("data_1").substr(EntryAt(longPage) + 60, 4),
            std::string("\x01\x00\x00\x80", 4));  // stream 1 lies in f_000001
  ASSERT_EQ(ReadBlockfileEntry(pristine_, locator, response, body, why), platform::OpenError::None)
      << why;
  EXPECT_EQ(response.url, longPage);
  EXPECT_EQ(ReadWhole(body), pristine_.at("f_000001"));
  EXPECT_EQ(body.size(), 300135u);
}

struct Damage {
  const char* what;
  std::function<void()> damage;
  std::vector<std::string> lost;  // rows no longer read; "*" for all
  const char* logged;
};

TEST_F(ChromiumBlockfileTest, RefusesAndLogsWhatADamagedCopyNoLongerHoldsWhole) {
  const std::string longPage = "http://127.0.0.1:47811/docs/long.html";
  const std::string photo = "http://127.0.0.1:47811/img/photo.jpg";
  auto slotOf = [this](const std::string& url) {
    return 368 + 4 * (HexAt(LocatorOf(url), 16) & 0x7FFFF);
  };
  const std::vector<Damage> cases = {
      {"an index address beyond the blocks of data_1",
       [&] { Patch("index", slotOf(longPage), 0xA001FFFF); },
       {"docs/long.html"},
       "番地が data_1 の範囲外のため読みません"},
      {"an index address into a block file that is not there",
       [&] { Patch("index", slotOf(photo), 0xA0050000); },
       {"img/photo.jpg"},
       "data_5 がないため読みません"},
      {"a chain led back into itself",
       [&] {
         const std::size_t at = EntryAt("http://127.0.0.1:47811/about.html");
         Patch("data_1", at + 4, HexAt(LocatorOf("http://127.0.0.1:47811/about.html"), 7));
         Patch("data_1", at + 92, 0);  // no hash of its own kept
       },
       {},
       "バケットの連鎖が同じエントリに戻るため、その先を読みません"},
      {"data_1 cut inside the body of port 47812's index.html",
       [&] { Cut("data_1", 8192 + 0x77 * 256 + 10); },
       {"http://127.0.0.1-47812/index.html"},
       "data_1 が途中で切れているため読みません"},
      {"an external file cut short",
       [&] { Cut("f_000001", 1000); },
       {"docs/long.html"},
       "本体が途中で切れているため読みません"},
      {"a stream address into a file that is gone",
       [&] { platform::DeleteFile(Path("cache/f_000001")); },
       {"docs/long.html"},
       "f_000001 がないため読みません"},
      {"an entry a crash left dirty",
       [&] {
         const std::size_t gallery = EntryAt("http://127.0.0.1:47811/gallery.html");
         const std::size_t node = Word("data_1", gallery + 8) & 0xFFFF;
         Patch("data_0", 8192 + node * 36 + 28, 7);  // dirty: the id of a run that died
         Patch("data_0", 8192 + node * 36 + 32, 0);
       },
       {"gallery.html"},
       "異常終了で書きかけのまま残ったエントリのため読みません"},
      {"a body shorter than its Content-Length",
       [&] {
         const std::size_t at = EntryAt("http://127.0.0.1:47811/packed.html");
         Patch("data_1", at + 44, 259);
         Patch("data_1", at + 92, 0);
       },
       {"packed.html"},
       "Content-Length (260) と保存された本体の長さ (259) が違うため読みません"},
      {"data_1 a link to a copy outside the cache",
       [&] {
         WriteFile("outside/data_1", ReadFile("cache/data_1"));
         platform::DeleteFile(Path("cache/data_1"));
         MakeLink(Path("outside/data_1"), "cache/data_1");
       },
       {"*"},
       "シンボリックリンクのため読みません (data_1)"},
      {"an index of an unknown version",
       [&] { Patch("index", 4, 0x40000); },
       {"*"},
       "index の版 0x00040000 を知らないため読みません"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    c.damage();
    std::set<std::pair<std::string, std::string>> expected;
    if (c.lost != std::vector<std::string>{"*"}) {
      for (const auto& row : SiteRows()) {
        const bool lost = std::any_of(c.lost.begin(), c.lost.end(), [&](const std::string& l) {
          return row.first == l || row.first == std::string(kMain) + l;
        });
        if (!lost) expected.insert(row);
      }
    }
    EXPECT_EQ(ReadRows(), expected);
    EXPECT_TRUE(LogHas(c.logged)) << ReadFile("start/lumbralog.txt");
    ExpectServedDocuments();
  }
}

TEST_F(ChromiumBlockfileTest, RefusesAnEntryThatChangedOrWentAfterTheListing) {
  ReadRows();
  std::unique_ptr<CachedDocuments> documents = layout_->Documents(Dir());
  auto open = [&](const std::string& url, std::string& why) {
    for (int i = 0; i < table.count(); ++i) {
      if (table.row(i).url != std::string(kMain) + url) continue;
      std::unique_ptr<DocumentSource> document;
      const platform::OpenError opened = documents->Open(table.row(i), document);
      why = documents->RefusalOf(opened);
      return opened;
    }
    ADD_FAILURE() << url;
    return platform::OpenError::None;
  };
  // Another key put in the same place: its hash is not the one listed.
  const std::size_t about = EntryAt("http://127.0.0.1:47811/about.html");
  Patch("data_1", about, Word("data_1", about) ^ 0x80000000u);
  Patch("data_1", about + 92, 0);
  std::string why;
  EXPECT_EQ(open("about.html", why), platform::OpenError::Unreadable);
  EXPECT_EQ(why, "読んでいる間にエントリが変わったため読みません");
  // An entry taken out of its bucket.
  Patch("index", 368 + 4 * (HexAt(LocatorOf("http://127.0.0.1:47811/sjis.html"), 16) & 0x7FFFF), 0);
  EXPECT_EQ(open("sjis.html", why), platform::OpenError::Missing);
  // The others are read as before.
  EXPECT_EQ(open("eucjp.html", why), platform::OpenError::None);
}

}  // namespace
}  // namespace lumbra
