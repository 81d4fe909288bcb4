#include "jobs/job.h"

#include <utility>

#include "core/ascii.h"
#include "core/exec_log.h"
#include "rebuild/page_io.h"

namespace lumbra {

void IndexPage(JobTarget& job, std::string_view treeRoot, const std::string& path,
               std::string title) {
  if (title.empty()) title = "No Title";
  AddIndexRecord(job.index, treeRoot, path, std::move(title));
  ++job.counters.convertedPages;
}

void RewriteAndIndex(JobTarget& job, std::string_view treeRoot, const std::string& path,
                     platform::AtomicFileWriter* pageWriter) {
  std::string title;
  if (ReconstructPage(job.rewriting(), job.frontend, treeRoot, path, job.ctx.readRef, title,
                      nullptr, pageWriter) != PageRewrite::Rewritten) {
    RecordFileFailure(job.ctx, job.counters, kRewriteFailed, path);
  }
  IndexPage(job, treeRoot, path, std::move(title));
}

bool IsStyleSheetPath(std::string_view path) {
  return path.size() >= 4 && EqualsNoCase(path.substr(path.size() - 4), ".css");
}

void RewriteStyleSheet(JobTarget& job, std::string_view treeRoot, const std::string& path,
                       platform::AtomicFileWriter* pageWriter) {
  if (job.counters.convertedPages >= kReconstructionLimit) return;
  if (ReconstructStyleSheet(job.rewriting(), job.frontend, treeRoot, path, pageWriter) !=
      PageRewrite::Rewritten) {
    RecordFileFailure(job.ctx, job.counters, kRewriteFailed, path);
  }
}

bool RewriteLimitReached(JobCounters& counters) {
  if (counters.convertedPages < kReconstructionLimit) return false;
  counters.convertedPages = kReconstructionLimitMarker;
  return true;
}

}  // namespace lumbra
