// The walk of a directory tree of the logs that rewrites every ".htm" and ".asp" page below
// it and records each for the index pages, and rewrites every ".css" style sheet (counted as
// a file, not recorded): the rebuild jobs walk whole LogTrees, the
// unreferenced-links job its root, the add job (READ_DOM) the host directories it stored
// into, and the surf job the directories of its surf list.
//
// The walks descend only into real directories: a symbolic link is never followed into a
// directory, so a link cannot make a walk loop or leave its tree, and a linked page is
// counted but not rewritten (rewriting would replace the link by a file). A temporary file
// that a killed replacement left beside a page (platform::IsReplacementLeftover) is neither
// counted nor indexed, and removed where the job's locks cover it (below the start directory,
// a LogTree root or the index directory). A directory's lock file (platform::kJobLockName) is
// neither counted nor indexed. A page that cannot be rewritten is counted in failedFiles.
#pragma once

#include <string>
#include <string_view>

#include "jobs/job.h"
#include "platform/fs.h"

namespace lumbra {

// Walks `dir` (no trailing '/') and everything below it. False when the user stopped the
// walk, here or in a directory below; a directory that cannot be listed counts as done.
bool WalkLogTree(JobTarget& job, const std::string& dir);

// Handles one entry of a walk: rewrites (with `pageWriter`) and records a page, counts a
// file. True when the entry is a directory to descend into.
bool VisitEntry(JobTarget& job, std::string_view name, const std::string& path,
                std::string_view treeRoot, platform::AtomicFileWriter& pageWriter);

}  // namespace lumbra
