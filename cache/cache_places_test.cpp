// The walk from the directory a user names down to the cache, on copies of real caches placed
// as the browsers place them.
#include "cache/cache_places.h"

#include <filesystem>

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

namespace fs = std::filesystem;

// Stands in for a layout of the browsers' caches: marks a directory whose marker begins with
// the layout's magic bytes (a marker directory: that exists).
class MarkedBy : public CacheLayout {
 public:
  MarkedBy(std::string_view name, std::string_view marker, std::string magic = {})
      : name_(name), marker_(marker), magic_(std::move(magic)) {}
  std::string_view name() const override { return name_; }
  std::string_view marker() const override { return marker_; }
  bool Marks(const std::string& dir) const override {
    if (magic_.empty()) return platform::GetStatus(dir + marker_).exists();
    return platform::ReadFile(dir + marker_).value_or("").starts_with(magic_);
  }
  bool ReadEntries(const JobContext&, Frontend&, const std::string&,
                   CacheEntryTable&) const override {
    return true;
  }

 private:
  std::string name_, marker_, magic_;
};

class CachePlacesTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    layouts.Add(std::make_unique<MarkedBy>("Simple", "/index", "\x30\x5c\x72\xa7\x1b\x6d\xfb\xfc"));
    layouts.Add(std::make_unique<MarkedBy>("Blockfile", "/index", "\xc3\xca\x03\xc1"));
    layouts.Add(std::make_unique<MarkedBy>("cache2", "/entries"));
    user = {Path("home"), Path("home/.cache"), Path("home/.config")};
  }
  // A copy of a real cache (read-only there) at `to`, writable so that the test can remove it.
  void CopyCache(std::string_view real, std::string_view to) {
    fs::create_directories(fs::path(Path(to)).parent_path());
    fs::copy(testing::RealDataPath(std::string("browser-caches/") + std::string(real)), Path(to),
             fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(Path(to))) {
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    fs::permissions(Path(to), fs::perms::owner_write, fs::perm_options::add);
  }

  CacheLayouts layouts;
  UserDirs user;
};

TEST_F(CachePlacesTest, TheWalkFindsTheCacheBelowWhatTheUserNamedAndSaysWhatItFoundOtherwise) {
  const std::string chromium = "home/.cache/chromium/Default/Cache/Cache_Data";
  const std::string firefox = "home/.cache/mozilla/firefox/ab12.default-esr/cache2";
  CopyCache("chromium-simple", chromium);
  MakeDir("home/.config/chromium/Default");
  CopyCache("firefox/cache2", firefox);
  MakeDir("home/.mozilla/firefox/ab12.default-esr");
  CopyCache("chromium-blockfile", "brave/Profile 1/Cache/Cache_Data");
  CopyCache("chromium-simple", "brave/Profile 2/Cache/Cache_Data");
  CopyCache("firefox/cache2", "own-profile/cache2");
  WriteFile("sql/Default/Cache/Cache_Data/index", "SQLCacheTruncate3");
  WriteFile("sql/Default/Cache/Cache_Data/sqldb0", "SQLite format 3");
  WriteFile("old-firefox/Cache/_CACHE_MAP_", std::string(276, '\0'));
  WriteFile("safari/Cache.db", std::string("SQLite format 3\0", 16) + "....");
  MakeLink(Path("home/.cache/chromium/Default"), "linked/Default");  // never followed
  MakeDir("nothing/here");

  struct Case {
    std::string named;
    std::string cache;  // the cache found; empty when none
    std::string layout;
    std::string message;  // what NoCacheMessage says begins so, without one
  } cases[] = {
      {chromium, chromium, "Simple", ""},
      {chromium + "/", chromium + "/", "Simple", ""},  // as typed, as the index file is named
      {"home/.cache/chromium/Default/Cache", chromium, "Simple", ""},
      {"home/.cache/chromium/Default", chromium, "Simple", ""},
      {"home/.cache/chromium", chromium, "Simple", ""},
      {"home/.config/chromium/Default", chromium, "Simple", ""},  // the profile's own directory
      {firefox, firefox, "cache2", ""},
      {firefox + "/entries", firefox, "cache2", ""},  // inside the cache
      {"home/.cache/mozilla/firefox", firefox, "cache2", ""},
      {"home/.mozilla/firefox/ab12.default-esr", firefox, "cache2", ""},
      {"own-profile", "own-profile/cache2", "cache2", ""},
      {"brave/Profile 1", "brave/Profile 1/Cache/Cache_Data", "Blockfile", ""},
      {"brave", "", "",
       "キャッシュ　データが複数のプロファイルにあります\rパス設定でどれか一つを指定してください\r"
       "Profile 1　" +
           Path("brave/Profile 1/Cache/Cache_Data") + "\rProfile 2　" +
           Path("brave/Profile 2/Cache/Cache_Data")},
      {"sql", "", "",
       "キャッシュ　データの形式を読めません\rChromium の SQL 形式のキャッシュ（index に "
       "SQLCacheTruncate、sqldb0）\r" +
           Path("sql/Default/Cache/Cache_Data")},
      {"old-firefox", "", "",
       "キャッシュ　データの形式を読めません\rFirefox 31 までの形式のキャッシュ（_CACHE_MAP_）\r" +
           Path("old-firefox/Cache")},
      {"safari", "", "", "キャッシュ　データの形式を読めません\rSafari"},
      {"linked", "", "", "キャッシュ　データが存在しません\rパス設定を確認してください\r"},
      {"nothing", "", "",
       "キャッシュ　データが存在しません\rパス設定を確認してください\r"
       "探したもの: index, entries\r探した場所: 指定のディレクトリーとその下の Cache_Data、"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    CacheLocation location = LocateCache(layouts, Path(c.named), user);
    if (c.cache.empty()) {
      EXPECT_FALSE(location.found()) << location.cache.dir;
      EXPECT_TRUE(NoCacheMessage(layouts, location).starts_with(c.message))
          << NoCacheMessage(layouts, location);
    } else {
      EXPECT_EQ(location.cache.dir, Path(c.cache));
      ASSERT_NE(location.cache.layout, nullptr);
      EXPECT_EQ(location.cache.layout->name(), c.layout);
    }
  }
}

}  // namespace
}  // namespace lumbra
