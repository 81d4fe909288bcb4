#include "cache/chromium_simple.h"

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "cache/cache_index.h"
#include "core/exec_log.h"
#include "platform/codepage.h"
#include "testing/cache_support.h"

namespace lumbra {
namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;  // url, contentType

// The real cache Chromium 156 wrote from the test site; its entry of about.html is the one
// damaged below.
const std::string kRealCache = "browser-caches/chromium-simple";
constexpr std::string_view kVictim = "13bc3ebc0212559b_0";
constexpr std::string_view kOtherEntry = "0ddb9b3ee33459e0_0";  // new-place.html

// The rows of those documents, sorted; without the one of `without` when it is given.
Rows ExpectedRows(std::string_view without = {}) {
  Rows rows;
  for (const testing::ServedDocument& d : testing::TodaysSiteDocuments()) {
    if (d.url != without) rows.emplace_back(d.url, d.contentType);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::uint32_t GetLe32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

void SetLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Where the parts of a real entry file lie (flags 3 on its last record: the key's SHA-256 is
// there).
struct Parts {
  std::size_t keyLength, bodyStart, bodyEnd, headStart, lastRecord;
};
Parts PartsOf(const std::string& bytes) {
  Parts p{};
  p.keyLength = GetLe32(bytes, 12);
  p.bodyStart = 24 + p.keyLength;
  p.lastRecord = bytes.size() - 24;
  p.headStart = p.lastRecord - 32 - GetLe32(bytes, p.lastRecord + 16);
  p.bodyEnd = p.headStart - 24;
  return p;
}

class ChromiumSimpleTest : public testing::TempDirTest {
 protected:
  // A writable copy of the real cache, as "NAME/cache".
  std::string CopyCache(const std::string& name) {
    const std::string source = testing::RealDataPath(kRealCache);
    for (const std::string& file : FilesBelow(source)) {
      WriteFile(name + "/cache/" + file, ReadFile(source + "/" + file));
    }
    return Path(name + "/cache");
  }

  JobContext Context(const std::string& name) {
    JobContext ctx;
    ctx.startDir = MakeDir(name + "/start");
    ctx.execLog = true;
    return ctx;
  }

  // The execution log (kept in CP932) as UTF-8.
  std::string LogOf(const JobContext& ctx) {
    return platform::Cp932ToUtf8(ReadFile(ctx.StartFile(kExecLogName)));
  }

  // The rows the table gets from the layout found for `dir`, sorted.
  Rows ReadRows(const JobContext& ctx, const std::string& dir, CacheEntryTable& table) {
    const CacheLayout* layout = layouts_.Find(dir);
    EXPECT_NE(layout, nullptr);
    if (layout == nullptr || !ReadCacheIndex(ctx, frontend_, layout, table, dir)) return {};
    Rows rows;
    for (int i = 0; i < table.count(); ++i) {
      rows.emplace_back(table.row(i).url, table.row(i).contentType);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  CacheLayouts layouts_ = CacheLayouts::BuiltIn();
  testing::ScriptedFrontend frontend_;
};

TEST_F(ChromiumSimpleTest, ReadsTheDocumentsOfTheRealCacheAsTheyWereServed) {
  const std::string dir = CopyCache("real");
  const JobContext ctx = Context("real");
  CacheEntryTable table;
  EXPECT_EQ(ReadRows(ctx, dir, table), ExpectedRows());
  const std::string log = LogOf(ctx);
  EXPECT_NE(log.find("Chromium Simple Cache  読んだエントリ 29 件"), std::string::npos) << log;
  EXPECT_NE(log.find("200/203 以外の応答 5 件を読みません"), std::string::npos) << log;
  EXPECT_NE(log.find("同じ URL の古い複製 1 件を読みません"), std::string::npos) << log;
  EXPECT_EQ(log.find("読めないエントリ"), std::string::npos) << log;

  // packed.html and style.css are stored gzip-encoded: their documents are the decoded bytes.
  testing::ExpectDocumentsAsServed(*layouts_.Find(dir)->Documents(dir), table);
}

TEST_F(ChromiumSimpleTest, ReadsEntriesBesideSideFilesAndPassesOverDoomedFiles) {
  const std::string dir = CopyCache("side");
  std::string doomed = ReadFile(dir + "/" + std::string(kVictim));
  doomed[0] ^= 1;
  WriteFile("side/cache/todelete_13bc3ebc0212559b_0_1", doomed);
  WriteFile("side/cache/13bc3ebc0212559b_1", "");
  // Without its index the cache is still known by its entry files.
  platform::DeleteFile(dir + "/index");
  const JobContext ctx = Context("side");
  CacheEntryTable table;
  EXPECT_EQ(ReadRows(ctx, dir, table), ExpectedRows());
  const std::string log = LogOf(ctx);
  EXPECT_NE(log.find("別ファイル _1 のストリームは読みません（_0 は読みます） 13bc3ebc0212559b_0"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("todelete"), std::string::npos) << log;
}

TEST_F(ChromiumSimpleTest, TakesNoOtherChromiumCacheForItsOwn) {
  const std::string blockfile = testing::RealDataPath("browser-caches/chromium-blockfile");
  ASSERT_TRUE(platform::GetStatus(blockfile + "/index").isRegular());
  WriteFile("sql/index", "SQLCacheTruncate3");
  for (const std::string& dir : {blockfile, Path("sql")}) {
    for (const CacheLayout* layout : {layouts_.Find(dir), layouts_.Marked(dir)}) {
      EXPECT_TRUE(layout == nullptr || layout->name() != "Chromium Simple Cache") << dir;
    }
  }
}

// A damage done to the entry file of about.html, and the words of its refusal.
struct Damage {
  std::string name;
  // Changes `bytes` (then written to `path`), or replaces the file itself.
  std::function<void(const std::string& path, std::string& bytes)> apply;
  std::string reason;
};

TEST_F(ChromiumSimpleTest, RefusesDamagedEntriesWhetherFoundSoOrChangedAfterTheListing) {
  const std::string outside = WriteFile(
      "outside/entry", ReadFile(testing::RealDataPath(kRealCache + "/" + std::string(kVictim))));
  const std::vector<Damage> damages = {
      {"file cut", [](auto&, std::string& b) { b.resize(b.size() - 30); }, "末尾の記録がない"},
      {"body cut, no CRC kept",
       [](auto&, std::string& b) {
         SetLe32(b, PartsOf(b).bodyEnd + 8, 0);
         b.erase(PartsOf(b).bodyStart, 10);
       },
       "Content-Length と合わない"},
      {"body byte changed", [](auto&, std::string& b) { b[PartsOf(b).bodyStart + 5] ^= 1; },
       "本文の CRC32"},
      {"head CRC flipped", [](auto&, std::string& b) { b[PartsOf(b).lastRecord + 12] ^= 1; },
       "応答ヘッダの CRC32"},
      {"transfer stopped",
       [](auto&, std::string& b) {
         SetLe32(b, PartsOf(b).lastRecord + 8, 2);  // no CRC kept for the head
         SetLe32(b, PartsOf(b).headStart + 4, GetLe32(b, PartsOf(b).headStart + 4) | 1u << 12);
       },
       "転送が途中で止まり"},
      {"bad magic", [](auto&, std::string& b) { b[0] ^= 1; }, "先頭が Simple Cache"},
      {"version 6", [](auto&, std::string& b) { SetLe32(b, 8, 6); }, "知らない版 (6)"},
      {"key one byte longer", [](auto&, std::string& b) { SetLe32(b, 12, GetLe32(b, 12) + 1); },
       "キーのハッシュ値"},
      {"key beyond the file",
       [](auto&, std::string& b) { SetLe32(b, 12, static_cast<std::uint32_t>(b.size())); },
       "キーの長さがファイルに収まらない"},
      {"stream size beyond the file",
       [](auto&, std::string& b) {
         SetLe32(b, b.size() - 8, static_cast<std::uint32_t>(b.size()));
       },
       "応答ヘッダの長さがファイルに収まらない"},
      {"another entry's file",
       [](const std::string& path, std::string& b) {
         b = *platform::ReadFile(path.substr(0, path.rfind('/') + 1) + std::string(kOtherEntry));
       },
       "ファイル名がキーと合わない"},
      {"a symbolic link out",
       [&outside](const std::string& path, std::string& b) {
         b.clear();
         platform::DeleteFile(path);
         ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);
       },
       "シンボリックリンク"},
      {"a FIFO",
       [](const std::string& path, std::string& b) {
         b.clear();
         platform::DeleteFile(path);
         ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
       },
       "通常のファイルでない"},
  };
  const Rows withoutVictim = ExpectedRows("http://127.0.0.1-47811/about.html");
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    auto spoil = [&](const std::string& dir) {
      const std::string path = dir + "/" + std::string(kVictim);
      std::string bytes = ReadFile(path);
      damage.apply(path, bytes);
      if (!bytes.empty()) {
        ASSERT_TRUE(testing::WriteBytes(path, bytes));
      }
    };
    const std::string name = "d" + std::to_string(&damage - damages.data());

    // Found damaged when the cache is read: the entry is refused with its reason.
    const std::string before = CopyCache(name + "/before");
    spoil(before);
    const JobContext ctx = Context(name + "/before");
    CacheEntryTable table;
    EXPECT_EQ(ReadRows(ctx, before, table), withoutVictim);
    EXPECT_NE(LogOf(ctx).find(damage.reason), std::string::npos) << LogOf(ctx);
    EXPECT_NE(LogOf(ctx).find("読めないエントリ 1 件"), std::string::npos) << LogOf(ctx);

    // Changed after the cache was read (the browser still runs): its document is refused.
    const std::string after = CopyCache(name + "/after");
    CacheEntryTable read;
    ASSERT_EQ(ReadRows(Context(name + "/after"), after, read).size(), withoutVictim.size() + 1);
    spoil(after);
    std::unique_ptr<CachedDocuments> documents = layouts_.Find(after)->Documents(after);
    int victims = 0;
    for (int i = 0; i < read.count(); ++i) {
      if (!read.row(i).cacheFile.ends_with(kVictim)) continue;
      ++victims;
      std::unique_ptr<DocumentSource> document;
      const platform::OpenError opened = documents->Open(read.row(i), document);
      EXPECT_NE(opened, platform::OpenError::None);
      EXPECT_NE(documents->RefusalOf(opened).find(damage.reason), std::string::npos)
          << documents->RefusalOf(opened);
    }
    EXPECT_EQ(victims, 1);
  }
}

}  // namespace
}  // namespace lumbra
