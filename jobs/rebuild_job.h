// The rebuild jobs: every page of every LogTree, or of one, rewritten where it lies and
// listed in that log's index page (allidx_a.htm .. allidx_e.htm).
#pragma once

#include <optional>

#include "jobs/job.h"

namespace lumbra {

// Walks every configured LogTree, A to E. False when the user stopped the job.
bool ReconstructAllLogs(JobTarget& job);
// Walks LogTree `treeNumber` (1..5 for A..E) when it is configured; any other number does
// nothing. False when the user stopped the job.
bool ReconstructOneLog(JobTarget& job, int treeNumber);

// The job: the walk of all LogTrees (`treeNumber` empty) or of one, then the index pages of
// the logs walked. False when the user stopped it (no index page is written then).
bool RunRebuildJob(JobTarget& job, std::optional<int> treeNumber);

}  // namespace lumbra
