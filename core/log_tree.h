// The path rules of the LogTrees. A LogTree root ends in "log", and a stored document lies at
// its root + "/" + host + URL path, so the first "log/" of a path (any letter case) marks where
// its tree-relative part begins: the host, then the path of its URL. The start checks refuse a
// root that holds "log/" before its end, so in a path of the logs the first marker is always
// the root's own. (In a link's own text "log/" may also end a folder of its site, /blog/: the
// link resolution decides which reading holds.)
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumbra {

inline constexpr std::string_view kLogMarker = "log/";

// Position of the first "log/" in `path` (any case), or npos.
std::size_t FindLogMarker(std::string_view path);
// Position of the '/' of the first "log/", where the tree root ends; npos without one.
std::size_t LogMarkerSlash(std::string_view path);
// The text after the first "log/": the tree-relative part of a path of the logs
// ("host/dir/page.html"); nullopt when the path has no marker.
std::optional<std::string_view> AfterLogMarker(std::string_view path);

// The tree root of a directory of the logs: cut just after the "log" of its first "log/", or
// the whole directory when it holds none.
std::string TreeRootOf(std::string_view dir);

// The host directory of a page directory: up to its first "log/" and on to the end of the
// next component (/save/log/host/dir/ gives /save/log/host). Without "log/", the page
// directory itself without its trailing '/'.
std::string HostDirOf(std::string_view pageDir);

// The tree-relative form of a path, as the web form of an unresolved link uses it: the part
// after treeRoot + "/" when the path lies below treeRoot; otherwise the part after the first
// "log/" (or after a second "log/" within it), or the whole path without "log/".
std::string TreeRelativePart(std::string_view path, std::string_view treeRoot);

// The most bytes a name of a directory or file may have on this file system.
inline constexpr std::size_t kNameMax = 255;

// A URL's path may hold a component longer than a file name can be (a query of today). Such a
// component is stored under a stable short name: its first bytes (ending on a whole UTF-8
// character), "~", the 16 hexadecimal digits of the 64-bit FNV-1a hash of the whole component,
// and its extension (from its last '.', when that is 2 to 16 bytes long), kNameMax bytes in
// all. The mapping of a cache entry and the link resolution both name a path this way, so a
// link to such a document finds its copy. A path with no such component comes back as it is.
std::string ShortNames(std::string_view path);
// Whether a component of `path` is longer than kNameMax bytes.
bool NeedsShortNames(std::string_view path);

// The host of a directory chosen below a LogTree (a path as typed, '\' or '/' separating):
// the component after the first "log/"; nullopt without "log/", empty when nothing follows.
std::optional<std::string> HostOfLogPath(std::string_view typed);

}  // namespace lumbra
