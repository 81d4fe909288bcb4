// The surf job: the pages a crawling program saved for a set of sites are brought into the
// shape of the logs (links rewritten to the local copies) and indexed for surfidx.htm. The
// sites and their fetched URLs come from the surf database lumbra.mdb when it exists in the
// start directory, otherwise the directories to reconstruct from the surf list lumbrasurf.txt.
//
// Both sources may come from another machine. A fetched URL leads to a local path only when
// what follows its seven-character scheme prefix stays below the directory it is appended to
// (relative, no "." or ".." segment, no NUL); a copy is only ever a regular file reached
// without a symbolic link below the site's log directory or a LogTree, so neither the
// rewriting nor the deletion of a vanished page's copy touches anything outside them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"
#include "index/index_record.h"
#include "platform/path_table.h"
#include "surf/surf_database.h"

namespace lumbra {

inline constexpr std::string_view kSurfUpkeepText = "データベースを最適化しています";

// What the surf job works with.
struct SurfTarget {
  const JobContext& ctx;
  JobCounters& counters;
  IndexRecordTable& index;
  Frontend& frontend;
  SurfSession& database;
  platform::PathTable& paths;
  // Set when the user stopped the job (a progress call answered 0).
  bool stopped = false;
};

// One site, from its Param row.
struct SurfSite {
  int id = 0;
  std::string logDir;  // as the row holds it; may end in '/'
  std::string url;     // the site's start URL
  int mirror = 0;      // 1: copies of pages that are no longer there are deleted
};

// The job. Non-zero when the index page surfidx.htm is to be written: on the database route
// whenever the database opened (also when no page was converted or the job was stopped), on
// the surf-list route when at least one listed directory was walked to its end.
int RunSurfJob(SurfTarget& target);

// Handles every enabled site of the database (LogDir set, ID 2 or more, OnOff 1) in ascending
// No order, until the rows run out, a read fails or the user stops the job.
void WalkParamRows(SurfTarget& target);

// Handles the Lumbra_log rows of one site in ascending URL order: a page fetched with status
// 200 or 304 is rewritten and indexed, a copy of one answered 301, 302, 400 or 404 is deleted
// when the site's Mirror is 1. Returns the number of pages converted, nullopt when the user
// stopped it.
std::optional<int> WalkSiteRows(SurfTarget& target, const SurfSite& site);

// The site's start URL up to its last '/', when that stands at position 2 or later; otherwise
// the whole URL.
std::string SiteBase(std::string_view url);

// The site's log directory as a root for its paths: no trailing '/', a relative one taken
// below the start directory.
std::string SiteLogRoot(const JobContext& ctx, std::string_view logDir);

// What a fetched URL adds below a log root: the URL without its first seven characters, with
// "default.html" after a final '/'. nullopt when that would not stay below the root.
std::optional<std::string> FetchedPathTail(std::string_view url);

// Finds the copy of a fetched page: `localPath` below `logRoot` when it is one, else `tail`
// below LogTree A, B, C, D or E (the first that holds it), which then become localPath and
// logRoot. A copy is a regular file, not reached through a symbolic link below its root, whose
// path fits kSurfTextMax bytes. When none is found, localPath is emptied and false returned.
bool FindLogCopy(const JobContext& ctx, std::string& localPath, std::string_view tail,
                 std::string& logRoot);

}  // namespace lumbra
