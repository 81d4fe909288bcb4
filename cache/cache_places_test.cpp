// The walk from the directory a user names down to the cache, on copies of real caches placed
// as the browsers place them.
#include "cache/cache_places.h"

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class CachePlacesTest : public testing::TempDirTest {
 protected:
  void SetUp() override { user = {Path("home"), Path("home/.cache"), Path("home/.config")}; }
  void CopyCache(std::string_view real, std::string_view to) {
    CopyRealData(std::string("browser-caches/") + std::string(real), to);
  }

  CacheLayouts layouts = CacheLayouts::BuiltIn();
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
      {chromium, chromium, "Chromium Simple Cache", ""},
      {chromium + "/", chromium + "/", "Chromium Simple Cache",
       ""},  // as typed, as the index file is named
      {"home/.cache/chromium/Default/Cache", chromium, "Chromium Simple Cache", ""},
      {"home/.cache/chromium/Default", chromium, "Chromium Simple Cache", ""},
      {"home/.cache/chromium", chromium, "Chromium Simple Cache", ""},
      {"home/.config/chromium/Default", chromium, "Chromium Simple Cache",
       ""},  // the profile's own directory
      {firefox, firefox, "Firefox cache2", ""},
      {firefox + "/entries", firefox, "Firefox cache2", ""},  // inside the cache
      {"home/.cache/mozilla/firefox", firefox, "Firefox cache2", ""},
      {"home/.mozilla/firefox/ab12.default-esr", firefox, "Firefox cache2", ""},
      {"own-profile", "own-profile/cache2", "Firefox cache2", ""},
      {"brave/Profile 1", "brave/Profile 1/Cache/Cache_Data", "Chromium blockfile", ""},
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
       "探したもの: fat.db, cache1/mm256.dat, index.dat, iexplore.cif, index.db, index, entries\r"
       "探した場所: 指定のディレクトリーとその下の Cache_Data、"},
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
