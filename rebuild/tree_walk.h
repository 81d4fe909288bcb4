// Reconstruction over the logs: walks directory trees and rewrites every ".htm" and ".asp"
// page below them, recording each for the index pages. At most kReconstructionLimit pages
// are rewritten in one job; then convertedPages becomes the marker and no page is touched.
//
// The walks descend only into real directories: a symbolic link is never followed into a
// directory, so a link cannot make a walk loop or leave its tree, and a linked page is
// counted but not rewritten (rewriting would replace the link by a file). A temporary file
// that a killed replacement left beside a page (platform::IsReplacementLeftover) is removed
// and neither counted nor indexed. A page that cannot be rewritten is counted in failedFiles.
#pragma once

#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"
#include "index/index_record.h"
#include "platform/fs.h"
#include "platform/path_table.h"
#include "rebuild/link_list.h"

namespace lumbra {

// What a walk works with: the snapshot, the counters, the index table and the progress target.
struct RebuildTarget {
  const JobContext& ctx;
  JobCounters& counters;
  IndexRecordTable& index;
  Frontend& frontend;
  platform::PathTable& paths;
  LinkList* links = nullptr;
};

// Walks every configured LogTree, A to E. False when the user stopped the job.
bool ReconstructAllLogs(RebuildTarget& target);
// Walks LogTree `treeNumber` (1..5 for A..E) when it is configured; any other number does
// nothing. False when the user stopped the job.
bool ReconstructOneLog(RebuildTarget& target, int treeNumber);
// Walks `dir` (no trailing '/') and everything below it. False when the user stopped the
// walk, here or in a directory below; a directory that cannot be listed counts as done.
bool WalkLogTree(RebuildTarget& target, const std::string& dir);
// Handles one entry of a walk: rewrites (with `pageWriter`) and records a page, counts a
// file. True when the entry is a directory to descend into.
bool VisitEntry(RebuildTarget& target, std::string_view name, const std::string& path,
                std::string_view treeRoot, platform::AtomicFileWriter& pageWriter);

}  // namespace lumbra
