// What every job works with, and the step every job ends a page with. A job is started by the
// driver once the start checks have passed; it does its work on the snapshot, counts into the
// counters, records the pages it rewrote for the index pages, and writes its own index pages.
// Each job keeps its own path table, made fresh for it, so that it asks the disk about a path
// once and not once for every link that names it.
#pragma once

#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"
#include "core/title_charset.h"
#include "index/index_record.h"
#include "platform/fs.h"
#include "platform/path_table.h"
#include "rebuild/link_list.h"
#include "rebuild/page_rewriter.h"

namespace lumbra {

struct JobTarget {
  const JobContext& ctx;
  JobCounters& counters;
  IndexRecordTable& index;
  Frontend& frontend;
  platform::PathTable& paths;  // the job's own
  LinkList* links = nullptr;   // the unreferenced-links job's link list; null in every other job
  LinkAnswers* answers = nullptr;  // the answers its links were given, kept for the next pages
  // Where the pages of its walks are replaced while it goes on; none: each page at once.
  PageReplacements* later = nullptr;

  // What the rewriting of this job's pages works with.
  RewriteContext rewriting() const { return {ctx, paths, links, answers, later}; }
};

// Records a page that the job stored or rewrote for the index pages, with its title ("No
// Title" when it has none) read by `charset`, and counts it in convertedPages. A page that
// declares no encoding itself is read in the charset of `contentType`, its cache entry's
// content type, when it names one.
void IndexPage(JobTarget& job, std::string_view treeRoot, const std::string& path,
               std::string title, TitleCharset charset = {}, std::string_view contentType = {});

// Rewrites the page `path` of the LogTree `treeRoot` where it lies (with `pageWriter`, see
// ReconstructPage), counts it in failedFiles when it could not be rewritten, and indexes it
// either way (`contentType` as for IndexPage). With `pageWriter`, in a job with
// PageReplacements, the counting and indexing wait for the page's replacement: the walk
// settles them before it ends.
void RewriteAndIndex(JobTarget& job, std::string_view treeRoot, const std::string& path,
                     platform::AtomicFileWriter* pageWriter = nullptr,
                     std::string_view contentType = {});

// Whether `path` names a style sheet by its extension (".css", any case).
bool IsStyleSheetPath(std::string_view path);

// Rewrites the style sheet `path` of the LogTree `treeRoot` where it lies (with `pageWriter`,
// see ReconstructPage), and counts it in failedFiles when it could not be rewritten. A style
// sheet is not a page: it is neither indexed nor counted in convertedPages.
void RewriteStyleSheet(JobTarget& job, std::string_view treeRoot, const std::string& path,
                       platform::AtomicFileWriter* pageWriter = nullptr);

}  // namespace lumbra
