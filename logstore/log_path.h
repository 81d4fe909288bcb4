// Where a cache entry goes in the LogTrees: its tree root + "/" + host + URL path, in the
// first tree that already holds its host, else in the last tree configured.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/job_context.h"
#include "platform/path_table.h"

namespace lumbra {

// Where a cache entry goes in the logs.
struct LogPath {
  std::string localPath;  // full path of the file in the chosen tree; empty: skip the entry
  std::string treeRoot;   // the chosen tree's root
  std::string hostDir;    // treeRoot + "/" + host
  // Set when the URL has a supported scheme but would lead outside its tree: the entry is
  // refused for that reason, not merely passed over.
  bool leadsOutside = false;
};

// Maps a normalised cache URL to its place in the LogTrees of `ctx`; `paths` (the job's)
// answers which trees hold the host already. The host ends at the first '/' after the scheme;
// a component longer than a file name can be gets its short name (ShortNames). Returns false (and
// an empty localPath) when the URL has no supported scheme, no tree is configured, or the URL would
// lead outside its tree: a path segment "." or "..", an empty host, a NUL, or a rest that does not
// begin with '/' (leadsOutside set). In an http or https URL a '\\' is a '/', as browsers read
// it, before that rule applies. treeRoot and hostDir are written only on success.
bool MapEntryToLogPath(const JobContext& ctx, platform::PathTable& paths, std::string_view url,
                       LogPath& out);

}  // namespace lumbra
