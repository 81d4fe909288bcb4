#include "jobs/rebuild_job.h"

#include <string>

#include "core/exec_log.h"
#include "index/index_pages.h"
#include "jobs/tree_walk.h"
#include "platform/language.h"

namespace lumbra {

bool ReconstructAllLogs(JobTarget& job) {
  AppendExecLog(job.ctx, "HTML 検索開始\n");
  for (const std::string& root : job.ctx.logDir) {
    if (!root.empty() && !WalkLogTree(job, root)) return false;
  }
  return true;
}

bool ReconstructOneLog(JobTarget& job, int treeNumber) {
  AppendExecLog(job.ctx, "HTML 検索開始\n");
  if (treeNumber < 1 || treeNumber > kLogTreeCount) return true;
  const std::string& root = job.ctx.logDir[static_cast<std::size_t>(treeNumber - 1)];
  return root.empty() || WalkLogTree(job, root);
}

bool RunRebuildJob(JobTarget& job, std::optional<int> treeNumber) {
  job.frontend.ShowStatus(platform::Tr("作成されたログの参照関係を再構成しています"));
  if (!treeNumber) {
    if (!ReconstructAllLogs(job)) return false;
    job.counters.failedFiles += WriteIndexPages(job.ctx, job.frontend, job.index, "allidx_");
    job.counters.failedFiles += RestyleIndexPages(job.ctx, job.frontend);
    return true;
  }
  if (!ReconstructOneLog(job, *treeNumber)) return false;
  if (*treeNumber >= 1 && *treeNumber <= kLogTreeCount) {
    std::string selector = "allidx_";
    selector += static_cast<char>('a' + *treeNumber - 1);
    job.counters.failedFiles += WriteIndexPages(job.ctx, job.frontend, job.index, selector);
  }
  job.counters.failedFiles += RestyleIndexPages(job.ctx, job.frontend);
  return true;
}

}  // namespace lumbra
