#include "jobs/tree_walk.h"

#include "core/ascii.h"
#include "core/log_tree.h"
#include "core/secure_hosts.h"
#include "platform/job_lock.h"
#include "platform/paths.h"
#include "rebuild/page_io.h"

namespace lumbra {
namespace {

// Whether `dir` is `root` or lies below it.
bool IsWithin(std::string_view dir, std::string_view root) {
  if (root.empty() || !dir.starts_with(root)) return false;
  return dir.size() == root.size() || root == "/" || dir[root.size()] == '/';
}

// Whether the job's locks cover `dir`: the driver locks the start directory, every LogTree
// root and the index directory before a job runs, so below them no other job can be writing
// a temporary file, and one found there is a leftover.
bool UnderJobLocks(const JobContext& ctx, std::string_view dir) {
  if (IsWithin(dir, ctx.startDir) || IsWithin(dir, ctx.indexDir)) return true;
  for (const std::string& root : ctx.logDir) {
    if (IsWithin(dir, root)) return true;
  }
  return false;
}

}  // namespace

bool VisitEntry(JobTarget& job, std::string_view name, const std::string& path,
                std::string_view treeRoot, platform::AtomicFileWriter& pageWriter) {
  platform::EntryType type = job.paths.TypeOf(path);
  if (type == platform::EntryType::Missing) return false;
  bool isLink = job.paths.KindOf(path) == platform::PathTable::Kind::Link;
  if (type == platform::EntryType::Directory) {
    return !isLink && !name.empty() && name.front() != '.';
  }

  ++job.counters.scannedFiles;
  if (isLink) return false;
  if (IsStyleSheetPath(path)) {
    RewriteStyleSheet(job, treeRoot, path, &pageWriter);
    return false;
  }
  std::string ext = platform::SplitPath(path).ext;
  if (!ContainsNoCase(ext, ".htm") && !ContainsNoCase(ext, ".asp")) return false;
  RewriteAndIndex(job, treeRoot, path, &pageWriter);
  return false;
}

namespace {

bool WalkDirectory(JobTarget& job, const std::string& dir) {
  std::string treeRoot = TreeRootOf(dir);
  // The listing tells the job's table what each entry is, so most entries and the links to
  // them are never asked of the disk again.
  auto names = job.paths.List(dir);
  if (!names) return true;
  // The pages of this directory that come out unchanged share one temporary file. It goes
  // before the walk lists any other directory, so no listing ever sees it.
  platform::AtomicFileWriter pageWriter;
  for (const std::string& name : *names) {
    std::string path = dir + "/" + name;
    // What a killed replacement left behind is no page: it is removed, never counted. Outside
    // the job's locks it may be another job's file in the making, and is left alone.
    if (platform::IsReplacementLeftover(name)) {
      if (UnderJobLocks(job.ctx, dir) && platform::GetLinkStatus(path).isRegular())
        platform::DeleteFile(path);  // never in the table
      continue;
    }
    // The lock of a directory a job uses is no document of it.
    if (name == platform::kJobLockName) continue;
    // The tree's list of https hosts is the tree's own, no document of it.
    if (name == kSecureHostsName && dir == treeRoot) continue;
    if (job.frontend.ReportProgress(path) == 0) return false;
    // A stop inside a subdirectory ends every walk above it too, so a stopped job is never
    // taken for a completed one.
    if (VisitEntry(job, name, path, treeRoot, pageWriter)) {
      pageWriter.Abort();
      if (!WalkDirectory(job, path)) return false;
    }
  }
  return true;
}

}  // namespace

bool WalkLogTree(JobTarget& job, const std::string& dir) {
  const bool completed = WalkDirectory(job, dir);
  // What follows the pages still being replaced is done before the job goes on.
  if (job.later != nullptr) job.later->Settle();
  return completed;
}

}  // namespace lumbra
