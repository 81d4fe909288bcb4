// The surf job: the pages a crawling program saved for a set of sites are brought into the
// shape of the logs (links rewritten to the local copies) and indexed for surfidx.htm. The
// sites and their fetched URLs come from the surf database lumbra.mdb when it exists in the
// start directory, otherwise the directories to reconstruct from the surf list lumbrasurf.txt.
//
// Both sources may come from another machine. A site's log directory is used only where the
// user keeps collections: below the start directory, a LogTree or a directory of SURF_DIRS,
// judged by its real path. A fetched URL leads to a local path only when
// what follows its seven-character scheme prefix stays below the directory it is appended to
// (relative, no "." or ".." segment, no NUL); a copy is only ever a regular file reached
// without a symbolic link below the site's log directory or a LogTree, so neither the
// rewriting nor the deletion of a vanished page's copy touches anything outside them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/job_context.h"
#include "jobs/job.h"
#include "platform/language.h"
#include "surf/surf_database.h"

namespace lumbra {

inline constexpr std::string_view kSurfUpkeepText =
    platform::TrLater("データベースを最適化しています");
// The execution-log reason of a site skipped for the place of its log directory.
inline constexpr std::string_view kSiteOutsideText =
    "サイトのログ　ディレクトリーが開始ディレクトリー・ログ・SURF_DIRS の外にあります";

// How the surf job's work ended.
struct SurfOutcome {
  // surfidx.htm is to be written: on the database route whenever the database opened (also
  // when no page was converted or the job was stopped), on the surf-list route when at least
  // one listed directory was walked to its end.
  bool read = false;
  bool stopped = false;  // the user stopped it (a progress call answered 0)
};

// One site, from its Param row.
struct SurfSite {
  int id = 0;
  std::string logDir;  // as the row holds it; may end in '/'
  std::string url;     // the site's start URL
  int mirror = 0;      // 1: copies of pages that are no longer there are deleted
};

// Where a site's log directory lies, as the job may use it.
enum class SitePlace {
  Trusted,  // below the start directory, or at or below a LogTree root or a SURF_DIRS entry
  Missing,  // it does not exist: its copies are looked for in the LogTrees only
  Outside,  // anywhere else: the site is skipped
};
struct SiteRoot {
  std::string path;  // the real path ("" for "/"); for a missing directory, SiteLogRoot's
  SitePlace place;
};

// The job's work, through the surf database handles of `database`.
SurfOutcome SurfWork(JobTarget& job, SurfSession& database);

// The job: its work, then surfidx.htm when the work read anything (a stopped job's too).
// False when the work did not complete.
bool RunSurfJob(JobTarget& job, SurfSession& database);

// Handles every enabled site of the database (LogDir set, ID 2 or more, OnOff 1) in ascending
// No order, until the rows run out, a read fails or the user stops the job. A site whose log
// directory lies Outside is skipped: the execution log names it and it counts as failed.
// Every row, and every running query (see SurfDatabase), asks the front end for a stop.
// False when the user stopped it.
bool WalkParamRows(JobTarget& job, SurfSession& database);

// Handles the Lumbra_log rows of one site, whose log directory is `root`, in ascending URL
// order: a page fetched with status 200 or 304 whose path ends in .htm, .html or .asp (any
// case) is rewritten and indexed, a copy of one answered 301, 302, 400 or 404 is deleted
// when the site's Mirror is 1. Returns the number of pages converted, nullopt when the user
// stopped it.
std::optional<int> WalkSiteRows(JobTarget& job, SurfSession& database, const SurfSite& site,
                                const SiteRoot& root);

// The site's start URL up to its last '/', when that stands at position 2 or later; otherwise
// the whole URL.
std::string SiteBase(std::string_view url);

// The site's log directory as a root for its paths: no trailing '/', a relative one taken
// below the start directory.
std::string SiteLogRoot(const JobContext& ctx, std::string_view logDir);

// Where the site's log directory (SiteLogRoot, resolved with realpath) lies. The start
// directory itself does not count, as it holds the system's own files.
SiteRoot CheckSiteRoot(const JobContext& ctx, std::string_view logDir);

// What a fetched URL adds below a log root: the URL without its first seven characters, with
// "default.html" after a final '/'. nullopt when that would not stay below the root.
std::optional<std::string> FetchedPathTail(std::string_view url);

// Finds the copy of a fetched page: `localPath` below `logRoot` when it is one (and
// `searchRoot`), else `tail`
// below LogTree A, B, C, D or E (the first that holds it), which then become localPath and
// logRoot. A copy is a regular file, not reached through a symbolic link below its root, whose
// path fits kSurfTextMax bytes. When none is found, localPath is emptied and false returned.
bool FindLogCopy(const JobContext& ctx, std::string& localPath, std::string_view tail,
                 std::string& logRoot, bool searchRoot = true);

}  // namespace lumbra
