#include "cache/cache_places.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/fs.h"
#include "platform/language.h"

namespace lumbra {
namespace {

// Where a cache lies below the directory named: the directory itself; Chromium's below its
// Cache directory or its profile (Cache of versions before Cache_Data); Firefox's below its
// profile.
constexpr std::string_view kBelowNamed[] = {"", "Cache_Data", "Cache/Cache_Data", "Cache",
                                            "cache2"};
// Where a cache lies below a profile.
constexpr std::string_view kBelowProfile[] = {"Cache/Cache_Data", "Cache", "cache2"};
constexpr std::string_view kDefaultProfile = "Default";

// Chromium and the browsers built on it keep one directory under the user's cache directory,
// one profile directory in it, and the cache below the profile.
struct Browser {
  std::string_view name;
  std::string_view dir;  // below the cache directory of the user
};
constexpr Browser kChromiumFamily[] = {
    {"Chromium", "chromium"},
    {"Google Chrome", "google-chrome"},
    {"Google Chrome Beta", "google-chrome-beta"},
    {"Google Chrome Dev", "google-chrome-unstable"},
    {"Brave", "BraveSoftware/Brave-Browser"},
    {"Microsoft Edge", "microsoft-edge"},
    {"Microsoft Edge Beta", "microsoft-edge-beta"},
    {"Microsoft Edge Dev", "microsoft-edge-dev"},
    {"Vivaldi", "vivaldi"},
};
constexpr std::string_view kChromiumCaches[] = {"Cache/Cache_Data", "Cache"};
constexpr std::string_view kFirefoxCaches[] = {"cache2"};

// The browsers packaged as snaps and flatpaks keep their files in a home of their own.
constexpr std::string_view kSnaps[] = {"firefox", "chromium"};
constexpr std::string_view kFlatpaks[] = {"org.mozilla.firefox", "org.chromium.Chromium",
                                          "com.google.Chrome",   "com.brave.Browser",
                                          "com.microsoft.Edge",  "com.vivaldi.Vivaldi"};

// The directories one packaging of the browsers works in: the configuration (where Chromium
// keeps its profiles), the cache, and Firefox's profiles (~/.mozilla).
struct AppHome {
  std::string_view label;  // after the browser's name
  std::string config, cache, mozilla;
};

std::vector<AppHome> AppHomes(const UserDirs& user) {
  std::vector<AppHome> homes;
  homes.push_back(
      {"", user.configHome, user.cacheHome, user.home.empty() ? "" : user.home + "/.mozilla"});
  if (user.home.empty()) return homes;
  for (std::string_view snap : kSnaps) {
    std::string common = user.home + "/snap/" + std::string(snap) + "/common";
    homes.push_back({" (snap)", common, common + "/.cache", common + "/.mozilla"});
  }
  for (std::string_view id : kFlatpaks) {
    std::string app = user.home + "/.var/app/" + std::string(id);
    homes.push_back({" (flatpak)", app + "/config", app + "/cache", app + "/.mozilla"});
  }
  return homes;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Join(const std::string& base, std::string_view sub) {
  if (sub.empty()) return base;
  std::string joined = WithoutTrailingSlashes(base);
  if (joined != "/") joined += '/';
  joined += sub;
  return joined;
}

std::string LastComponent(const std::string& path) {
  std::string trimmed = WithoutTrailingSlashes(path);
  std::size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Whether `base` + "/" + `sub` is a directory reached from `base` (itself a directory, a link
// or not) through real directories only.
bool IsDirectoryBelow(const std::string& base, std::string_view sub) {
  if (!platform::GetStatus(base).isDirectory()) return false;
  std::string path = WithoutTrailingSlashes(base);
  std::size_t start = 0;
  while (start < sub.size()) {
    std::size_t end = std::min(sub.find('/', start), sub.size());
    path = Join(path, sub.substr(start, end - start));
    if (!platform::GetLinkStatus(path).isDirectory()) return false;
    start = end + 1;
  }
  return true;
}

// The subdirectories of `dir` that are real directories, by name in byte order.
std::vector<std::string> Subdirectories(const std::string& dir) {
  std::vector<std::string> names;
  for (const std::string& name :
       platform::ListDirectory(dir).value_or(std::vector<std::string>{})) {
    if (name != "." && name != ".." && IsDirectoryBelow(dir, name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The first `count` bytes of a regular file below a cache directory, never through a
// link; shorter when the file is.
std::string FirstBytes(const std::string& path, std::size_t count) {
  platform::ReadableFile file;
  if (file.Open(path, platform::FollowLinks::No) != platform::OpenError::None) return {};
  std::string bytes(count, '\0');
  long got = file.Read(bytes.data(), count);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

bool IsFile(const std::string& path) { return platform::GetLinkStatus(path).isRegular(); }

// Caches of formats no layout reads, recognised by a file name and at most a few bytes.
struct ForeignCache {
  std::string_view kind;
  bool (*holds)(const std::string& dir);
};
constexpr ForeignCache kForeignCaches[] = {
    // Chromium's experimental backend: SQLite files, its index a short text.
    {platform::TrLater("Chromium の SQL 形式のキャッシュ（index に SQLCacheTruncate、sqldb0）"),
     [](const std::string& dir) {
       return FirstBytes(dir + "/index", 64).find("SQLCacheTruncate") != std::string::npos ||
              IsFile(dir + "/sqldb0");
     }},
    // Safari (and the other programs of its system) keep an SQLite database Cache.db, the
    // larger bodies in fsCachedData/.
    {platform::TrLater("Safari のキャッシュ（Cache.db、fsCachedData）"),
     [](const std::string& dir) {
       return FirstBytes(dir + "/Cache.db", 16) == std::string_view("SQLite format 3\0", 16);
     }},
    {platform::TrLater("Firefox 31 までの形式のキャッシュ（_CACHE_MAP_）"),
     [](const std::string& dir) { return IsFile(dir + "/_CACHE_MAP_"); }},
    {platform::TrLater("Internet Explorer 10・11 のキャッシュ（WebCacheV01.dat）"),
     [](const std::string& dir) {
       return IsFile(dir + "/WebCacheV01.dat") || IsFile(dir + "/WebCacheV24.dat");
     }},
    {platform::TrLater("Opera 12 までのキャッシュ（dcache4.url）"),
     [](const std::string& dir) { return IsFile(dir + "/dcache4.url"); }},
};

// One walk from a directory down the known sub-paths.
class Walk {
 public:
  Walk(const CacheLayouts& layouts, CacheLocation& location)
      : layouts_(layouts), location_(location) {}

  // The first cache below `base` at `sub`, when a layout marks it; the directory is
  // remembered for the foreign formats either way.
  bool Try(const std::string& base, std::string_view sub, const std::string& profile) {
    if (!IsDirectoryBelow(base, sub)) return false;
    std::string dir = Join(base, sub);
    visited_.push_back(dir);
    const CacheLayout* layout = layouts_.Marked(dir);
    if (layout == nullptr) return false;
    location_.cache = {profile, dir, layout};
    return true;
  }

  // The directory itself and its sub-paths, Default's, then each profile's. True when the
  // walk is over: a cache found, or several profiles holding one.
  bool Down(const std::string& named) {
    for (std::string_view sub : kBelowNamed) {
      if (Try(named, sub, {})) return true;
    }
    const std::string defaultProfile(kDefaultProfile);
    for (std::string_view sub : kBelowProfile) {
      if (Try(named, defaultProfile + "/" + std::string(sub), defaultProfile)) return true;
    }
    std::vector<FoundCache> found;
    for (const std::string& profile : Subdirectories(named)) {
      if (profile == kDefaultProfile) continue;
      for (std::string_view sub : kBelowProfile) {
        if (Try(named, profile + "/" + std::string(sub), profile)) {
          found.push_back(location_.cache);
          break;
        }
      }
    }
    location_.cache = {};
    if (found.size() == 1) location_.cache = found.front();
    if (found.size() > 1) location_.profiles = found;
    return !found.empty();
  }

  // The directory above: the directory named lies inside a cache.
  bool Up(const std::string& named) {
    std::string trimmed = WithoutTrailingSlashes(named);
    std::size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos || trimmed == "/") return false;
    std::string parent = slash == 0 ? "/" : trimmed.substr(0, slash);
    return Try(parent, "", {});
  }

  void RecogniseForeign() {
    for (const std::string& dir : visited_) {
      for (const ForeignCache& foreign : kForeignCaches) {
        if (foreign.holds(dir)) {
          location_.unreadKind = foreign.kind;
          location_.unreadDir = dir;
          return;
        }
      }
    }
  }

 private:
  const CacheLayouts& layouts_;
  CacheLocation& location_;
  std::vector<std::string> visited_;  // every directory looked at, in order
};

// The cache place of a profile's own directory: browsers keep a profile's settings under the
// configuration directory (Chromium) or ~/.mozilla (Firefox), and its cache under the same
// path in the user's cache directory. Empty when `dir` lies in no profile directory.
std::string CachePlaceOf(const std::string& dir, const UserDirs& user) {
  const std::string path = WithoutTrailingSlashes(dir);
  for (const AppHome& home : AppHomes(user)) {
    const std::pair<std::string, std::string> roots[] = {{home.config, home.cache},
                                                         {home.mozilla, home.cache + "/mozilla"}};
    for (const auto& [config, cache] : roots) {
      if (config.size() < 2 || cache.size() < 2) continue;
      if (!path.starts_with(config + "/")) continue;
      std::string place = cache + path.substr(config.size());
      if (platform::GetStatus(place).isDirectory()) return place;
    }
  }
  return {};
}

// The profile directories that profiles.ini of a Firefox profile root names ("Path=" of the
// [Profile...] sections, relative to the root when "IsRelative=1").
std::vector<std::string> FirefoxProfilesOf(const std::string& root) {
  platform::ReadableFile file;
  if (file.Open(root + "/profiles.ini", platform::FollowLinks::Yes) != platform::OpenError::None) {
    return {};
  }
  constexpr std::size_t kMaxIni = 1 << 20;  // a few hundred profiles; more is no profiles.ini
  std::string text(kMaxIni, '\0');
  long got = file.Read(text.data(), text.size());
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);

  std::vector<std::string> profiles;
  bool inProfile = false, relative = false;
  std::string path;
  auto take = [&] {
    if (inProfile && !path.empty()) profiles.push_back(relative ? root + "/" + path : path);
    path.clear();
    relative = false;
  };
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line(text.data() + start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with('[')) {
      take();
      inProfile = line.starts_with("[Profile");
    } else if (line.starts_with("Path=")) {
      path = line.substr(5);
    } else if (line.starts_with("IsRelative=")) {
      relative = line.substr(11) == "1";
    }
    start = end + 1;
  }
  take();
  return profiles;
}

void AddOnce(std::vector<BrowserCache>& caches, std::string browser, FoundCache cache) {
  for (const BrowserCache& known : caches) {
    if (known.cache.dir == cache.dir) return;
  }
  caches.push_back({std::move(browser), std::move(cache)});
}

// The caches of the profiles in one browser directory.
void AddProfiles(const CacheLayouts& layouts, const std::string& browserDir,
                 std::span<const std::string_view> below, const std::string& browser,
                 std::vector<BrowserCache>& caches) {
  for (const std::string& profile : Subdirectories(browserDir)) {
    for (std::string_view sub : below) {
      std::string dir = Join(browserDir, profile + "/" + std::string(sub));
      if (!IsDirectoryBelow(browserDir, profile + "/" + std::string(sub))) continue;
      if (const CacheLayout* layout = layouts.Marked(dir)) {
        AddOnce(caches, browser, {profile, dir, layout});
        break;
      }
    }
  }
}

void AddDirectory(std::uint64_t& bytes, const std::string& dir, int depth) {
  if (depth > 16) return;  // no cache nests deeper; links are never followed, so no loop
  for (const std::string& name :
       platform::ListDirectory(dir).value_or(std::vector<std::string>{})) {
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    platform::FileStatus status = platform::GetLinkStatus(path);
    if (status.isRegular()) bytes += status.size;
    if (status.isDirectory()) AddDirectory(bytes, path, depth + 1);
  }
}

}  // namespace

UserDirs UserDirs::ForThisProcess() {
  auto absolute = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? WithoutTrailingSlashes(value) : std::string();
  };
  UserDirs user;
  user.home = absolute("HOME");
  user.cacheHome = absolute("XDG_CACHE_HOME");
  user.configHome = absolute("XDG_CONFIG_HOME");
  if (user.cacheHome.empty() && !user.home.empty()) user.cacheHome = user.home + "/.cache";
  if (user.configHome.empty() && !user.home.empty()) user.configHome = user.home + "/.config";
  return user;
}

CacheLocation LocateCache(const CacheLayouts& layouts, const std::string& named,
                          const UserDirs& user) {
  CacheLocation location;
  Walk walk(layouts, location);
  if (walk.Down(named) || walk.Up(named)) return location;
  location.cachePlace = CachePlaceOf(named, user);
  if (!location.cachePlace.empty() && walk.Down(location.cachePlace)) return location;
  walk.RecogniseForeign();
  return location;
}

std::string NoCacheMessage(const CacheLayouts& layouts, const CacheLocation& location) {
  if (!location.profiles.empty()) {
    std::string text = platform::Tr(
        "キャッシュ　データが複数のプロファイルにあります\rパス設定でどれか一つを指定してください");
    for (const FoundCache& cache : location.profiles)
      text += "\r" + cache.profile + "　" + cache.dir;
    return text;
  }
  if (!location.unreadKind.empty()) {
    return platform::Tr("キャッシュ　データの形式を読めません") + "\r" +
           platform::Tr(location.unreadKind) + "\r" + location.unreadDir;
  }
  std::string markers;
  std::vector<std::string_view> seen;
  for (const auto& layout : layouts.all()) {
    std::string_view marker = layout->marker();
    if (marker.starts_with('/')) marker.remove_prefix(1);
    if (std::find(seen.begin(), seen.end(), marker) != seen.end()) continue;
    seen.push_back(marker);
    markers += (markers.empty() ? "" : ", ") + std::string(marker);
  }
  std::string text = platform::Fill(
      platform::Tr("キャッシュ　データが存在しません\rパス設定を確認してください\r"
                   "探したもの: %1\r"
                   "探した場所: 指定のディレクトリーとその下の Cache_Data、Cache/Cache_Data、"
                   "Cache、cache2（Default/ と各プロファイルの下も）、一つ上のディレクトリー"),
      {markers});
  if (!location.cachePlace.empty())
    text += "\r" + platform::Tr("プロファイルのキャッシュの場所: ") + location.cachePlace;
  return text;
}

std::vector<BrowserCache> FindBrowserCaches(const CacheLayouts& layouts, const UserDirs& user) {
  std::vector<BrowserCache> caches;
  const std::vector<AppHome> homes = AppHomes(user);
  for (const AppHome& home : homes) {
    const std::string browser = "Firefox" + std::string(home.label);
    if (!home.cache.empty()) {
      AddProfiles(layouts, home.cache + "/mozilla/firefox", kFirefoxCaches, browser, caches);
    }
    // A profile made elsewhere (firefox -P, -profile DIR) keeps its cache in its own directory.
    if (home.mozilla.empty()) continue;
    for (const std::string& profile : FirefoxProfilesOf(home.mozilla + "/firefox")) {
      if (!IsDirectoryBelow(profile, "cache2")) continue;
      const std::string dir = Join(profile, "cache2");
      if (const CacheLayout* layout = layouts.Marked(dir)) {
        AddOnce(caches, browser, {LastComponent(profile), dir, layout});
      }
    }
  }
  for (const Browser& family : kChromiumFamily) {
    for (const AppHome& home : homes) {
      if (home.cache.empty()) continue;
      AddProfiles(layouts, home.cache + "/" + std::string(family.dir), kChromiumCaches,
                  std::string(family.name) + std::string(home.label), caches);
    }
  }
  return caches;
}

std::uint64_t CacheFileBytes(const std::string& dir) {
  std::uint64_t bytes = 0;
  AddDirectory(bytes, WithoutTrailingSlashes(dir), 0);
  return bytes;
}

}  // namespace lumbra
