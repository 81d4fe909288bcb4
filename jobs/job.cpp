#include "jobs/job.h"

#include <utility>

#include "core/ascii.h"
#include "core/content_type.h"
#include "core/encoding_label.h"
#include "core/exec_log.h"
#include "rebuild/page_io.h"

namespace lumbra {

void IndexPage(JobTarget& job, std::string_view treeRoot, const std::string& path,
               std::string title, TitleCharset charset, std::string_view contentType) {
  if (title.empty()) {
    title = "No Title";
    charset = {};  // the system's own words, not read in the page's encoding
  } else if (charset.declared.empty()) {
    charset.declared = EncodingForLabel(CharsetOf(contentType));
  }
  AddIndexRecord(job.index, treeRoot, path, std::move(title), charset);
  ++job.counters.convertedPages;
}

void RewriteAndIndex(JobTarget& job, std::string_view treeRoot, const std::string& path,
                     platform::AtomicFileWriter* pageWriter, std::string_view contentType) {
  std::string title;
  TitleCharset charset;
  if (ReconstructPage(job.rewriting(), job.frontend, treeRoot, path, job.ctx.readRef, title,
                      nullptr, pageWriter, &charset) != PageRewrite::Rewritten) {
    RecordFileFailure(job.ctx, job.counters, kRewriteFailed, path);
  }
  IndexPage(job, treeRoot, path, std::move(title), std::move(charset), contentType);
}

bool IsStyleSheetPath(std::string_view path) {
  return path.size() >= 4 && EqualsNoCase(path.substr(path.size() - 4), ".css");
}

void RewriteStyleSheet(JobTarget& job, std::string_view treeRoot, const std::string& path,
                       platform::AtomicFileWriter* pageWriter) {
  if (ReconstructStyleSheet(job.rewriting(), job.frontend, treeRoot, path, pageWriter) !=
      PageRewrite::Rewritten) {
    RecordFileFailure(job.ctx, job.counters, kRewriteFailed, path);
  }
}

}  // namespace lumbra
