#include "jobs/surf_job.h"

#include <cstdlib>

#include "core/ascii.h"
#include "core/exec_log.h"
#include "core/log_tree.h"
#include "index/index_pages.h"
#include "jobs/tree_walk.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/paths.h"
#include "surf/surf_list.h"

namespace lumbra {
namespace {

constexpr std::size_t kSchemePrefix = 7;  // "http://"

bool IsUsableCopy(int status) { return status == 200 || status == 304; }
bool IsGone(int status) { return status == 301 || status == 302 || status == 400 || status == 404; }

// Whether `path` below `root` holds a copy: a regular file, reached without a link.
bool IsCopy(const std::string& root, const std::string& path) {
  return path.size() <= kSurfTextMax && path.find('\0') == std::string::npos &&
         platform::GetLinkStatus(path).isRegular() && !platform::CrossesSymbolicLink(root, path);
}

// Whether a fetched page's local path names a page by its extension.
bool IsPagePath(std::string_view path) {
  for (std::string_view ext : {".htm", ".html", ".asp"}) {
    if (path.size() >= ext.size() && EqualsNoCase(path.substr(path.size() - ext.size()), ext)) {
      return true;
    }
  }
  return false;
}

// Whether `path` is `dir` or lies below it; both are real paths.
bool IsAtOrBelow(std::string_view dir, std::string_view path) {
  if (!path.starts_with(dir)) return false;
  return path.size() == dir.size() || dir.back() == '/' || path[dir.size()] == '/';
}

// The real path of `path` (links and dot segments resolved), nullopt when it names nothing.
std::optional<std::string> RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return std::nullopt;
  std::string resolved(real);
  std::free(real);
  return resolved;
}

// Whether the user stopped a query of the database while it ran.
bool QueryStopped(const SurfSession& database) {
  return database.surfDatabase && database.surfDatabase->stopAsked();
}

// One Lumbra_log row of a site; false when the user stopped the job. `asked` tells whether it
// asked the front end for a stop.
bool HandleRow(JobTarget& job, const SurfSite& site, const SiteRoot& root,
               const std::string& siteBase, int status, std::string_view url, int& pages,
               bool& asked) {
  const std::optional<std::string> tail = FetchedPathTail(url);
  if (!tail) return true;
  // A site whose directory is missing has its copies looked for in the LogTrees only.
  const bool ownRoot = root.place == SitePlace::Trusted;
  std::string logRoot = root.path;
  std::string localPath = root.path + "/" + *tail;
  if (localPath.size() > kSurfTextMax) return true;
  const JobContext& ctx = job.ctx;

  if (IsUsableCopy(status)) {
    if (!IsPagePath(localPath)) return true;
    if (!ctx.readDom && localPath.find(siteBase) == std::string::npos) return true;
    if (!FindLogCopy(ctx, localPath, *tail, logRoot, ownRoot)) return true;
    asked = true;
    if (job.frontend.ReportProgress(localPath) == 0) return false;
    RewriteAndIndex(job, logRoot, localPath);
    ++pages;
  } else if (site.mirror == 1 && IsGone(status)) {
    // The page is no longer there: its copy goes, whatever kind of file it is.
    if (FindLogCopy(ctx, localPath, *tail, logRoot, ownRoot) && platform::DeleteFile(localPath)) {
      job.paths.Remember(localPath, platform::PathTable::Kind::Missing);
    }
  }
  return true;
}

// The surf-list route.
SurfOutcome RunSurfList(JobTarget& job) {
  SurfOutcome outcome;
  platform::ReadableFile file;
  if (file.Open(job.ctx.StartFile(kSurfListFile), platform::FollowLinks::Yes) !=
      platform::OpenError::None) {
    return outcome;
  }
  SurfListReader list;
  char buffer[4096];
  long got = 0;
  while ((got = file.Read(buffer, sizeof buffer)) > 0) {
    list.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
  list.Finish();
  file.Close();

  for (const std::string& path : list.paths()) {
    const std::optional<std::string> dir = SurfListDirectory(path, job.ctx.startDir);
    // Below its tree root the walk goes through real directories only, as every walk does.
    if (!dir || platform::CrossesSymbolicLink(TreeRootOf(*dir), *dir)) continue;
    if (WalkLogTree(job, *dir)) {
      outcome.read = true;
    } else {
      outcome.stopped = true;
    }
  }
  return outcome;
}

}  // namespace

std::string SiteBase(std::string_view url) {
  const std::size_t slash = url.rfind('/');
  if (slash == std::string_view::npos || slash < 2) return std::string(url);
  return std::string(url.substr(0, slash));
}

std::string SiteLogRoot(const JobContext& ctx, std::string_view logDir) {
  std::string root(logDir);
  if (!root.empty() && root.back() == '/') root.pop_back();
  // As for the paths of the settings: the index links need an absolute path, and one with a
  // drive letter names a drive this system does not have.
  if (!logDir.empty() && logDir.front() != '/' && !platform::HasDriveLetter(logDir)) {
    root = ctx.StartFile(root);
  }
  return root;
}

namespace {

// Whether the real path `real` lies where a site's log directory may: strictly below the start
// directory (which itself holds the system's own files), or at or below a LogTree root or a
// directory of SURF_DIRS.
bool IsTrustedPlace(const JobContext& ctx, const std::string& real) {
  if (const std::optional<std::string> start = RealPath(ctx.startDir);
      start && real != *start && IsAtOrBelow(*start, real)) {
    return true;
  }
  for (const std::string& dir : ctx.logDir) {
    if (dir.empty()) continue;
    if (const std::optional<std::string> tree = RealPath(dir); tree && IsAtOrBelow(*tree, real)) {
      return true;
    }
  }
  for (const std::string& dir : ctx.surfDirs) {
    if (const std::optional<std::string> surf = RealPath(dir); surf && IsAtOrBelow(*surf, real)) {
      return true;
    }
  }
  return false;
}

}  // namespace

SiteRoot CheckSiteRoot(const JobContext& ctx, std::string_view logDir) {
  const std::string root = SiteLogRoot(ctx, logDir);
  // "/" loses its only '/' as a root.
  const std::optional<std::string> real = RealPath(root.empty() ? "/" : root);
  if (!real) return {root, SitePlace::Missing};
  const SitePlace place = IsTrustedPlace(ctx, *real) ? SitePlace::Trusted : SitePlace::Outside;
  // As a root, "/" is the empty text its paths are appended to.
  return {*real == "/" ? std::string() : *real, place};
}

std::optional<std::string> FetchedPathTail(std::string_view url) {
  if (url.size() <= kSchemePrefix) return std::nullopt;
  std::string tail(url.substr(kSchemePrefix));
  if (!platform::NameStaysBelow(tail)) return std::nullopt;
  if (tail.back() == '/') tail += "default.html";
  return tail;
}

bool FindLogCopy(const JobContext& ctx, std::string& localPath, std::string_view tail,
                 std::string& logRoot, bool searchRoot) {
  if (searchRoot && IsCopy(logRoot, localPath)) return true;
  for (const std::string& tree : ctx.logDir) {
    if (tree.empty()) continue;
    std::string candidate = tree + "/" + std::string(tail);
    if (IsCopy(tree, candidate)) {
      localPath = std::move(candidate);
      logRoot = tree;
      return true;
    }
  }
  localPath.clear();
  return false;
}

std::optional<int> WalkSiteRows(JobTarget& job, SurfSession& database, const SurfSite& site,
                                const SiteRoot& root) {
  if (OpenSurfRows(database, database.siteRows, SiteRowsQuery(site.id), job.ctx, job.frontend) ==
      0) {
    if (QueryStopped(database)) return std::nullopt;
    return 0;
  }
  const std::string siteBase = SiteBase(site.url);
  SurfRowSet& rows = *database.siteRows;
  int pages = 0;
  bool stopped = false;
  while (!rows.AtEnd()) {
    const int status = rows.Integer("ReadStatus");
    const std::string url = rows.Text("URL");
    if (rows.failed()) break;
    ++job.counters.scannedFiles;
    // Every row asks for a stop, a page to rewrite before its rewriting, any other after.
    bool asked = false;
    if (!HandleRow(job, site, root, siteBase, status, url, pages, asked) ||
        (!asked && job.frontend.ReportProgress(url) == 0)) {
      stopped = true;
      break;
    }
    rows.Next();
  }
  stopped = stopped || QueryStopped(database);
  if (rows.failed() && !stopped) LogSurfReadError(job.ctx, rows);
  database.siteRows.reset();
  if (stopped) return std::nullopt;
  return pages;
}

bool WalkParamRows(JobTarget& job, SurfSession& database) {
  if (OpenSurfRows(database, database.paramRows, kParamQuery, job.ctx, job.frontend) == 0) {
    return !QueryStopped(database);
  }
  bool stopped = false;
  SurfRowSet& rows = *database.paramRows;
  while (!rows.AtEnd()) {
    SurfSite site;
    site.logDir = rows.Text("LogDir");
    site.url = rows.Text("URL");
    site.id = rows.Integer("ID");
    const int onOff = rows.Integer("OnOff");
    site.mirror = rows.Integer("Mirror");
    if (rows.failed()) break;
    // Every site asks for a stop, handled or not: a view may give rows without end.
    if (job.frontend.ReportProgress(site.logDir) == 0) {
      stopped = true;
      break;
    }
    if (!site.logDir.empty() && site.id >= 2 && onOff == 1) {
      const SiteRoot root = CheckSiteRoot(job.ctx, site.logDir);
      if (root.place == SitePlace::Outside) {
        // A database from elsewhere must not reach the user's other files.
        RecordFileFailure(job.ctx, job.counters, kSiteOutsideText,
                          site.logDir + " (" + site.url + ")");
      } else if (!WalkSiteRows(job, database, site, root).has_value()) {
        stopped = true;
        break;
      }
    }
    rows.Next();
  }
  stopped = stopped || QueryStopped(database);
  if (rows.failed() && !stopped) LogSurfReadError(job.ctx, rows);
  database.paramRows.reset();
  return !stopped;
}

SurfOutcome SurfWork(JobTarget& job, SurfSession& database) {
  // An upkeep killed between its renames left no lumbra.mdb: it is made good before the
  // database is looked for.
  RecoverSurfUpkeep(job.ctx);
  if (!platform::GetStatus(job.ctx.StartFile(kSurfDatabaseFile)).exists()) return RunSurfList(job);
  job.frontend.ReportProgress(platform::Tr(kSurfUpkeepText));
  CompactSurfDatabase(job.ctx);
  if (OpenSurfDatabase(database, job.ctx, job.frontend) == 0) return {};
  const bool completed = WalkParamRows(job, database);
  CloseSurfDatabase(database);
  return {.read = true, .stopped = !completed};
}

bool RunSurfJob(JobTarget& job, SurfSession& database) {
  job.frontend.ShowStatus(platform::Tr("作成されたログの参照関係を再構成しています"));
  const SurfOutcome outcome = SurfWork(job, database);
  if (!outcome.read) return false;
  // The surf index is written even for a stopped job, which still counts as stopped.
  job.counters.failedFiles += WriteIndexPages(job.ctx, job.frontend, job.index, "surfidx");
  return !outcome.stopped;
}

}  // namespace lumbra
