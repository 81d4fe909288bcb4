#include "cache/firefox_cache2.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/cache_index.h"
#include "testing/cache_support.h"
#include "testing/iconv.h"

namespace lumbra {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLogo = "1569790B3C3CB3333EEF26F5DFD8FD08B165A83E";  // img/logo.png
constexpr std::string_view kLogoUrl = "http://127.0.0.1-47811/img/logo.png";
constexpr std::string_view kPackedPage = "27C13BE49D10BB2D0C85AE6174290F580A84FDD6";
// badge.png of localhost as stored under the top-level site localhost, a second later than
// the copy under 127.0.0.1.
constexpr std::string_view kNewerBadge = "EA5A32252688CFF5EDD73AA7D93014057A5C733E";

std::uint32_t Big32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

void PutBig32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

// Rewrites the file `entries/<name>` of `cacheDir` with `edit`.
void EditEntry(const std::string& cacheDir, std::string_view name,
               const std::function<void(std::string&)>& edit) {
  const std::string path = cacheDir + "/entries/" + std::string(name);
  std::string bytes = platform::ReadFile(path).value_or("");
  edit(bytes);
  ASSERT_TRUE(testing::WriteBytes(path, bytes));
}

// Where the metadata of an unencrypted entry begins.
std::size_t MetadataAt(const std::string& bytes) { return Big32(bytes, bytes.size() - 4); }

class FirefoxCacheTest : public testing::ReaderFileTest {
 protected:
  // A writable copy of the real cache `from` (its cache2, and its prefs.js beside it when
  // `prefs`) at `to` below root(); the copy's cache directory.
  std::string CopyCache(std::string_view from, const std::string& to, bool prefs = true) {
    const std::string source = testing::RealDataPath("browser-caches/" + std::string(from));
    const std::string cacheDir = Path(to) + "/cache2";
    fs::create_directories(Path(to));
    fs::copy(source + "/cache2", cacheDir, fs::copy_options::recursive);
    if (prefs && fs::exists(source + "/prefs.js")) fs::copy(source + "/prefs.js", Path(to));
    fs::permissions(Path(to), fs::perms::owner_all, fs::perm_options::add);
    for (const auto& file : fs::recursive_directory_iterator(Path(to))) {
      fs::permissions(file.path(), fs::perms::owner_all, fs::perm_options::add);
    }
    return cacheDir;
  }

  // Reads `cacheDir` through the built-in layouts as an add job does, the log on.
  const CacheLayout* Read(const std::string& cacheDir) {
    ctx = Context(true);
    platform::DeleteFile(ctx.StartFile("lumbralog.txt"));
    const CacheLayout* layout = layouts.Find(cacheDir);
    EXPECT_NE(layout, nullptr);
    if (layout == nullptr) return nullptr;
    EXPECT_EQ(layout->name(), "Firefox cache2");
    EXPECT_TRUE(ReadCacheIndex(ctx, frontend, layout, table, cacheDir));
    return layout;
  }

  // The execution log, in UTF-8.
  std::string Log() const {
    return testing::Iconv("CP932", "UTF-8", ReadFile("start/lumbralog.txt"));
  }

  const CacheEntry* RowOf(std::string_view entryName) const {
    for (int i = 0; i < table.count(); ++i) {
      if (table.row(i).cacheFile.ends_with("/" + std::string(entryName))) return &table.row(i);
    }
    return nullptr;
  }

  CacheLayouts layouts = CacheLayouts::BuiltIn();
  JobContext ctx;
};

TEST_F(FirefoxCacheTest, RealCachesGiveTheServedDocumentsOncePerUrl) {
  std::vector<std::array<std::string, 2>> expected;
  for (const testing::ServedDocument& s : testing::TodaysSiteDocuments())
    expected.push_back({s.url, s.contentType});
  std::sort(expected.begin(), expected.end());

  for (std::string_view name : {"firefox", "firefox-full", "firefox-encrypted"}) {
    SCOPED_TRACE(name);
    const std::string cacheDir = CopyCache(name, std::string(name));
    const std::vector<std::string> before = FilesBelow(cacheDir);
    const CacheLayout* layout = Read(cacheDir);
    ASSERT_NE(layout, nullptr);

    std::vector<std::array<std::string, 2>> rows;
    for (const testing::Row& row : testing::RowsOf(table)) rows.push_back({row[0], row[2]});
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, expected);
    ASSERT_NE(RowOf(kNewerBadge), nullptr);

    const std::string log = Log();
    EXPECT_NE(log.find("読んだエントリ 27 件"), std::string::npos) << log;
    EXPECT_NE(log.find("200/203 以外の応答 3 件を読みません"), std::string::npos) << log;
    EXPECT_NE(log.find("同じ URL の古い複製 1 件を読みません"), std::string::npos) << log;
    EXPECT_EQ(log.find("読めないエントリ"), std::string::npos) << log;
    EXPECT_EQ(log.find("暗号化の鍵を読みました: " + Path(std::string(name)) + "/prefs.js") !=
                  std::string::npos,
              name == "firefox-encrypted")
        << log;

    // Byte for byte what was served: gzip-stored ones decoded, script.js without the
    // bytecode stored after it (firefox-full, firefox-encrypted).
    testing::ExpectDocumentsAsServed(*layout->Documents(cacheDir), table);
    EXPECT_EQ(FilesBelow(cacheDir), before);
  }
}

TEST_F(FirefoxCacheTest, ScriptWithBytecodeEndsWhereTheBytecodeBegins) {
  const std::string file = testing::RealDataPath(
      "browser-caches/firefox-full/cache2/entries/7C89ABD6B79D24E065E7F31B391D5290961250D0");
  FirefoxEntry entry;
  std::string body;
  std::string why;
  ASSERT_EQ(ParseFirefoxEntry(platform::ReadFile(file).value_or(""), nullptr, entry, &body, why),
            FirefoxEntryCheck::Good)
      << why;
  EXPECT_EQ(entry.dataSize, 2306u);
  EXPECT_EQ(entry.bodySize, 455u);
  EXPECT_EQ(body, testing::ServedBytes("main/script.js"));
}

TEST_F(FirefoxCacheTest, EncryptedCacheWithoutItsKeyIsPassedOverInOneLine) {
  const std::string cacheDir = CopyCache("firefox-encrypted", "alone", false);
  Read(cacheDir);
  EXPECT_EQ(table.count(), 0);
  const std::string log = Log();
  const std::string line =
      "暗号化されたエントリ 27 件を読みません: 鍵のある prefs.js が見つかりません（" +
      Path("alone/prefs.js") + ", " + Path("prefs.js") + "）";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find("暗号化"), log.find(line)) << log;
  EXPECT_EQ(log.find("暗号化", log.find(line) + 1), std::string::npos) << log;
}

TEST_F(FirefoxCacheTest, KeyIsFoundInTheProfileOfACacheUnderDotCache) {
  // The browser on Linux: ~/.cache/mozilla/firefox/<profile>/cache2 and
  // ~/.mozilla/firefox/<profile>/prefs.js.
  const std::string cacheDir =
      CopyCache("firefox-encrypted", "home/.cache/mozilla/firefox/p.esr", false);
  const std::string prefs = WriteFile(
      "home/.mozilla/firefox/p.esr/prefs.js",
      platform::ReadFile(testing::RealDataPath("browser-caches/firefox-encrypted/prefs.js"))
          .value_or(""));
  Read(cacheDir);
  EXPECT_EQ(table.count(), static_cast<int>(testing::TodaysSiteDocuments().size()));
  EXPECT_NE(Log().find("暗号化の鍵を読みました: " + prefs), std::string::npos) << Log();
}

TEST_F(FirefoxCacheTest, EntryOfTheOlderFormEndsInTheBareOffset) {
  const std::string cacheDir = CopyCache("firefox-full", "older");
  EditEntry(cacheDir, kLogo, [](std::string& b) { b.erase(b.size() - 8, 4); });
  const CacheLayout* layout = Read(cacheDir);
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(table.count(), static_cast<int>(testing::TodaysSiteDocuments().size()));
  const CacheEntry* row = RowOf(kLogo);
  ASSERT_NE(row, nullptr);
  std::string refusal;
  EXPECT_EQ(testing::DocumentBytes(*layout->Documents(cacheDir), *row, refusal),
            testing::ServedBytes("main/img/logo.png"))
      << refusal;
}

// Damaged copies of the real caches: the entry is refused with its reason, the others are
// read, and nothing outside the cache is read in its place.
struct Damage {
  std::string what;
  std::string cache;
  std::function<void(const std::string& cacheDir, const std::string& caseDir)> apply;
  bool listed;         // refused when the entries are read; otherwise when its document is
  std::string reason;  // in the log, or the refusal of its document
  int rows;
  std::string_view entry = kLogo;  // the entry damaged
  std::string_view url = kLogoUrl;
};

TEST_F(FirefoxCacheTest, DamagedEntriesAreRefused) {
  const int all = static_cast<int>(testing::TodaysSiteDocuments().size());
  const std::vector<Damage> damages = {
      {"cut file", "firefox-full",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kLogo, [](std::string& b) { b.resize(b.size() / 2); });
       },
       true, "エントリの終わりが壊れているか途中で切れているため読みません", all - 1},
      {"trailer offset beyond the file", "firefox-full",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kLogo, [](std::string& b) { PutBig32(b, b.size() - 4, b.size()); });
       },
       true, "メタデータの位置がファイルの外を指しているため読みません", all - 1},
      {"metadata hash wrong", "firefox-full",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kLogo, [](std::string& b) { b[MetadataAt(b) + 100] ^= 1; });
       },
       true, "メタデータのハッシュが合わないため読みません", all - 1},
      {"key length beyond the metadata", "firefox-full",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kLogo,
                   [](std::string& b) { PutBig32(b, MetadataAt(b) + 6 + 24, 1u << 30); });
       },
       true, "キーの長さがメタデータの外に及ぶため読みません", all - 1},
      {"Content-Length beyond the stored body", "firefox-full",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kLogo, [](std::string& b) {
           const std::size_t at = b.find("Content-Length: 278\r\n");
           ASSERT_NE(at, std::string::npos);
           b[at + 18] = '9';
           const std::size_t meta = MetadataAt(b);
           PutBig32(
               b, meta,
               FirefoxCacheHash(std::string_view(b).substr(meta + 4, b.size() - 8 - meta - 4)));
         });
       },
       true,
       "本文が途中までしか保存されていないため読みません（Content-Length 279 バイト、保存 278 "
       "バイト）",
       all - 1},
      {"file name not the SHA-1 of its key", "firefox-full",
       [](const std::string& dir, const std::string&) {
         fs::rename(dir + "/entries/" + std::string(kLogo),
                    dir + "/entries/" + std::string(40, '0'));
       },
       true, "ファイル名がキーの SHA-1 でないため読みません entries/" + std::string(40, '0'),
       all - 1},
      {"symbolic link to an entry outside", "firefox-full",
       [](const std::string& dir, const std::string& caseDir) {
         const std::string entry = dir + "/entries/" + std::string(kLogo);
         fs::rename(entry, caseDir + "/outside");
         fs::create_symlink(caseDir + "/outside", entry);
       },
       true, "シンボリックリンクのため読みません entries/" + std::string(kLogo), all - 1},
      {"chunk hash wrong", "firefox-full",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kLogo, [](std::string& b) { b[10] ^= 1; });
       },
       false, "本文のハッシュが合わないため読みません（壊れているか書き換えられています）", all},
      // A page's body is read with the entries, but it is refused only when it is opened, as
      // any other body is.
      {"chunk hash wrong in a page", "firefox-full",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kPackedPage, [](std::string& b) { b[10] ^= 1; });
       },
       false, "本文のハッシュが合わないため読みません（壊れているか書き換えられています）", all,
       kPackedPage, "http://127.0.0.1-47811/packed.html"},
      {"encrypted chunk changed", "firefox-encrypted",
       [](const std::string& dir, const std::string&) {
         EditEntry(dir, kLogo, [](std::string& b) { b[10] ^= 1; });
       },
       false, "本文を復号できないため読みません（壊れているか書き換えられています）", all},
      {"a wrong key in prefs.js", "firefox-encrypted",
       [](const std::string&, const std::string& caseDir) {
         ASSERT_TRUE(testing::WriteBytes(caseDir + "/prefs.js",
                                         "user_pref(\"browser.cache.disk.encryption.key\", "
                                         "\"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\");\n"));
       },
       true, "暗号化されたエントリ 27 件を読みません: 鍵が合いません: ", 0},
  };
  for (std::size_t i = 0; i < damages.size(); ++i) {
    const Damage& damage = damages[i];
    SCOPED_TRACE(damage.what);
    const std::string caseDir = "case" + std::to_string(i);
    const std::string cacheDir = CopyCache(damage.cache, caseDir);
    damage.apply(cacheDir, Path(caseDir));
    const CacheLayout* layout = Read(cacheDir);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(table.count(), damage.rows);
    const std::string log = Log();
    if (damage.listed) {
      EXPECT_NE(log.find(damage.reason), std::string::npos) << log;
      EXPECT_EQ(RowOf(damage.entry), nullptr);
      continue;
    }
    const CacheEntry* row = RowOf(damage.entry);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->url, damage.url);
    EXPECT_FALSE(row->readWhole);
    std::string refusal;
    EXPECT_EQ(testing::DocumentBytes(*layout->Documents(cacheDir), *row, refusal), "");
    EXPECT_EQ(refusal, damage.reason);
  }
}

}  // namespace
}  // namespace lumbra
