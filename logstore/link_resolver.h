// URLs and links to paths in the LogTrees. A stored document lies at its tree root + "/" +
// host + URL path; the text "log/" in a path marks the end of the tree root, except where a
// link's own folder of that name is meant (see MarkerReading).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/job_context.h"

namespace lumbra {

// The kinds of link that ResolveLink is given (the attribute kinds of the page rewriting).
enum class LinkKind : int {
  Href = 1,
  Hsef = 2,
  Src = 3,
  Srd = 4,
  Background = 5,
  Action = 10,
  ScriptString = 99,
};

// The host of a cache URL ends at the first '/' at positions 1..kHostKeySearchEnd of the
// URL's rest (for the host lookup) and 1..kHostDirSearchEnd (for hostDir).
inline constexpr std::size_t kHostKeySearchEnd = 249;
inline constexpr std::size_t kHostDirSearchEnd = 199;
// A candidate path is cleaned from this position on, so that a drive prefix such as d:/ stays.
inline constexpr std::size_t kCleanFrom = 3;
// ResolveDotSegments leaves longer paths as they are.
inline constexpr std::size_t kResolveDotSegmentsMax = 999;

// Where a cache entry goes in the logs.
struct LogPath {
  std::string localPath;  // full path of the file in the chosen tree; empty: skip the entry
  std::string treeRoot;   // the chosen tree's root
  std::string hostDir;    // treeRoot + "/" + host
};

// Maps a normalised cache URL to its place in the LogTrees of `ctx`. Returns false (and an
// empty localPath) when the URL has no supported scheme, no tree is configured, or the URL
// would lead outside its tree: a path segment "." or "..", an empty host, a NUL, or a rest
// that does not begin with '/'. treeRoot and hostDir are written only on success.
bool MapEntryToLogPath(const JobContext& ctx, std::string_view url, LogPath& out);

// Resolves one link of the page `pagePath` in place: a "file:///" URL of an existing local
// copy (result 1), or its web form or the link unchanged (result 0). `pageDir` ends in '/'.
// A link beginning with '/' or '.' is looked up below hostDir or pageDir first; only when
// nothing is found there is its MarkerReading looked up, and taken when it resolves or its
// host directory exists in the tree. Otherwise the web form keeps the page's host.
// `counterFlag` is written only for LinkKind::Src links that were not found.
int ResolveLink(const JobContext& ctx, std::string_view treeRoot, std::string& link,
                std::string_view pagePath, std::string_view hostDir, std::string_view pageDir,
                LinkKind kind, bool* counterFlag);

// A link or base that holds "log/" may hold a path of a tree (/old/log/host/x.html) or name
// a folder of its site (/blog/x.html, /catalog/). Its reading as a tree path: treeRoot + the
// part from the '/' of "log/" on; "" when no host followed by '/' comes after "log/".
std::string MarkerReading(std::string_view treeRoot, std::string_view text);

// The directory a base or codebase names, chosen the way ResolveLink chooses for a link:
// `ordinary` when it is a directory, else `marker` (a MarkerReading, may be "") when it is
// one or its host directory exists in the tree, else `ordinary`. `table` is the job's
// (ctx.paths), which answers for the paths asked before; null: the disk is asked.
std::string ChooseDirectory(std::string_view treeRoot, const std::string& ordinary,
                            const std::string& marker, platform::PathTable* table);

// Whether a name ends in one of the document extensions the system keeps and links to.
bool HasDocumentExtension(std::string_view name);
// Whether a name ends in one of the media extensions never put into the link list.
bool HasMediaExtension(std::string_view name);
// Removes "../" segments and "/./" from a path (at most 999 characters are handled).
std::string ResolveDotSegments(std::string_view path);

}  // namespace lumbra
