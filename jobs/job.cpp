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
  ReconstructPageThen(job.rewriting(), job.frontend, treeRoot, path, job.ctx.readRef, pageWriter,
                      [&job, root = std::string(treeRoot), path, type = std::string(contentType)](
                          PageRewrite result, std::string title, TitleCharset charset) {
                        if (result != PageRewrite::Rewritten) {
                          RecordFileFailure(job.ctx, job.counters, kRewriteFailed, path);
                        }
                        IndexPage(job, root, path, std::move(title), std::move(charset), type);
                      });
}

bool IsStyleSheetPath(std::string_view path) {
  return path.size() >= 4 && EqualsNoCase(path.substr(path.size() - 4), ".css");
}

void RewriteStyleSheet(JobTarget& job, std::string_view treeRoot, const std::string& path,
                       platform::AtomicFileWriter* pageWriter) {
  ReconstructStyleSheetThen(job.rewriting(), job.frontend, treeRoot, path, pageWriter,
                            [&job, path](PageRewrite result, std::string, TitleCharset) {
                              if (result != PageRewrite::Rewritten) {
                                RecordFileFailure(job.ctx, job.counters, kRewriteFailed, path);
                              }
                            });
}

}  // namespace lumbra
