#include "rebuild/tree_walk.h"

#include "core/ascii.h"
#include "core/exec_log.h"
#include "core/log_tree.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "rebuild/page_io.h"

namespace lumbra {

bool VisitEntry(RebuildTarget& target, std::string_view name, const std::string& path,
                std::string_view treeRoot, platform::AtomicFileWriter& pageWriter) {
  platform::EntryType type = target.paths.TypeOf(path);
  if (type == platform::EntryType::Missing) return false;
  bool isLink = target.paths.KindOf(path) == platform::PathTable::Kind::Link;
  if (type == platform::EntryType::Directory)
    return !isLink && !name.empty() && name.front() != '.';

  ++target.counters.scannedFiles;
  std::string ext = platform::SplitPath(path).ext;
  if (isLink || (!ContainsNoCase(ext, ".htm") && !ContainsNoCase(ext, ".asp"))) return false;
  if (target.counters.convertedPages >= kReconstructionLimit) {
    target.counters.convertedPages = kReconstructionLimitMarker;
    return false;
  }
  std::string title;
  const RewriteContext job{target.ctx, target.paths, target.links};
  if (ReconstructPage(job, target.frontend, treeRoot, path, target.ctx.readRef, title, nullptr,
                      &pageWriter) != PageRewrite::Rewritten) {
    RecordFileFailure(target.ctx, target.counters, kRewriteFailed, path);
  }
  if (title.empty()) title = "No Title";
  AddIndexRecord(target.index, treeRoot, path, title);
  ++target.counters.convertedPages;
  return false;
}

bool WalkLogTree(RebuildTarget& target, const std::string& dir) {
  std::string treeRoot = TreeRootOf(dir);
  // The listing tells the job's table what each entry is, so most entries and the links to
  // them are never asked of the disk again.
  auto names = target.paths.List(dir);
  if (!names) return true;
  // The pages of this directory that come out unchanged share one temporary file. It goes
  // before the walk lists any other directory, so no listing ever sees it.
  platform::AtomicFileWriter pageWriter;
  for (const std::string& name : *names) {
    std::string path = dir + "/" + name;
    // What a killed replacement left behind is no page: it is removed, never counted.
    if (platform::IsReplacementLeftover(name)) {
      if (platform::GetLinkStatus(path).isRegular())
        platform::DeleteFile(path);  // never in the table
      continue;
    }
    if (target.frontend.ReportProgress(path) == 0) return false;
    // A stop inside a subdirectory ends every walk above it too, so a stopped job is never
    // taken for a completed one.
    if (VisitEntry(target, name, path, treeRoot, pageWriter)) {
      pageWriter.Abort();
      if (!WalkLogTree(target, path)) return false;
    }
  }
  return true;
}

bool ReconstructAllLogs(RebuildTarget& target) {
  AppendExecLog(target.ctx, "HTML 検索開始\n");
  for (const std::string& root : target.ctx.logDir) {
    if (!root.empty() && !WalkLogTree(target, root)) return false;
  }
  return true;
}

bool ReconstructOneLog(RebuildTarget& target, int treeNumber) {
  AppendExecLog(target.ctx, "HTML 検索開始\n");
  if (treeNumber < 1 || treeNumber > kLogTreeCount) return true;
  const std::string& root = target.ctx.logDir[static_cast<std::size_t>(treeNumber - 1)];
  return root.empty() || WalkLogTree(target, root);
}

}  // namespace lumbra
