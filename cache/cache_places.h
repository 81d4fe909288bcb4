// Where a browser's cache lies. A user names the cache directory itself, or a directory
// above it (the profile, the browser's directory above its profiles), or even the profile's
// own directory, which today's browsers keep apart from its cache; LocateCache walks down the
// sub-paths where the browsers put their caches and takes the first directory a layout of the
// table marks. FindBrowserCaches lists the caches of this user's browsers in the places they
// keep them on Linux. A directory is a cache only when a layout marks it: this module knows
// where to look, the layouts know what a cache is.
//
// Nothing found below the directory named is trusted: sub-paths are entered through real
// directories only (a link below the named directory is never followed), and a file looked
// at to recognise a cache that no layout reads is opened as a regular file and read for a
// few bytes at most.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cache/cache_layout.h"

namespace lumbra {

// The directories of the user whose browsers are looked for.
struct UserDirs {
  std::string home;        // $HOME
  std::string cacheHome;   // $XDG_CACHE_HOME when absolute, else home + "/.cache"
  std::string configHome;  // $XDG_CONFIG_HOME when absolute, else home + "/.config"

  static UserDirs ForThisProcess();
};

// A cache directory and the layout that marks it.
struct FoundCache {
  std::string profile;  // the name of its profile's directory, when it was found below one
  std::string dir;
  const CacheLayout* layout = nullptr;
};

// What LocateCache found for the directory named.
struct CacheLocation {
  // The cache: the first directory a layout marks. Empty dir when none.
  FoundCache cache;
  // Several profiles below the directory named hold a cache and none is "Default": each of
  // them, in name order (cache stays empty; the user names one).
  std::vector<FoundCache> profiles;
  // A cache no layout reads but that is recognised (a browser's other format): what it is,
  // and where. Empty when none was recognised.
  std::string unreadKind;
  std::string unreadDir;
  // Where the walk looked besides the sub-paths of the directory named: the cache place of
  // the profile named (its cache directory under the user's cache directory). Empty if none.
  std::string cachePlace;

  bool found() const { return !cache.dir.empty(); }
};

// Walks from `named` (an absolute directory, as typed: a trailing '/' is kept in the result
// only when the directory itself is the cache) down the known sub-paths: the directory itself,
// Cache_Data, Cache/Cache_Data, Cache and cache2 below it, the same below Default/, then below
// each subdirectory (a profile; one found is taken, several are listed), then the directory
// above (a directory inside a cache, as Firefox's entries/). A profile's own directory under
// the user's configuration (~/.config/chromium/Default, ~/.mozilla/firefox/NAME, and their
// snap and flatpak places) leads to its cache place, which is walked the same way. When no
// layout marks any of them, the directories visited are checked for caches of a format no
// layout reads.
CacheLocation LocateCache(const CacheLayouts& layouts, const std::string& named,
                          const UserDirs& user);

// The message for a directory in which LocateCache found no cache: the system's own two
// lines, then what was looked for; or, when a cache of another format was recognised or
// several profiles hold one, that instead.
std::string NoCacheMessage(const CacheLayouts& layouts, const CacheLocation& location);

// A cache of one of this user's browsers.
struct BrowserCache {
  std::string browser;  // "Chromium", "Firefox (snap)", ...
  FoundCache cache;
};

// The caches of this user's browsers, in the places the browsers keep them on Linux (the
// user's cache directory, and the snap and flatpak places): Firefox and Firefox ESR
// (mozilla/firefox/PROFILE/cache2, and every profile of profiles.ini whose own directory
// holds cache2), Chromium, Google Chrome, Brave, Microsoft Edge and Vivaldi
// (BROWSER/PROFILE/Cache/Cache_Data, or Cache of older versions). Only directories a layout
// marks are listed, each once, browsers in the order above and profiles by name.
std::vector<BrowserCache> FindBrowserCaches(const CacheLayouts& layouts, const UserDirs& user);

// The bytes of the regular files below `dir`; a symbolic link is neither followed nor
// counted.
std::uint64_t CacheFileBytes(const std::string& dir);

}  // namespace lumbra
