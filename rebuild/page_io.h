// Reading and writing the pages that are rewritten: a page of the logs is rewritten where it
// lies (ReconstructPage, and a style sheet by ReconstructStyleSheet), a page of the cache is
// stored rewritten (StoreRewrittenPage). The
// page is streamed through the tokenizer and the rewriter: what is held at any time is
// bounded by the read blocks, the tag buffer and the script buffer. Every page is replaced
// safely: a failure leaves it as it was.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include "core/document.h"
#include "core/frontend.h"
#include "core/title_charset.h"
#include "platform/fs.h"
#include "platform/replacement_thread.h"
#include "platform/work_threads.h"
#include "rebuild/page_rewriter.h"

namespace lumbra {

// The execution-log text of a page that could not be rewritten.
inline constexpr std::string_view kRewriteFailed = "再構成失敗";

// How one page's reconstruction ended.
enum class PageRewrite {
  Rewritten,       // the page now holds its rewritten form
  OpenFailed,      // missing, unreadable or read-only page: left as it was
  TempFileFailed,  // the temporary file beside the page could not be made: page unchanged
  WriteFailed,     // writing or replacing failed part-way: page unchanged
};

// Rewrites the page `pagePath` of the LogTree `treeRoot` (ending in "log", no trailing '/').
// `readRef` is READ_REF as the caller gives it. `title` receives the page title (at most
// kTitleMax characters), empty when the page has none or was not rewritten; `charset`, when
// given, what the page says about reading it (see CharsetScan). Failures are
// shown through `frontend`; the page then stays as it was. A read-only page (no owner write
// bit) is never rewritten, and a page that comes out the same is not written again. `pageWriter`,
// when given, writes the new page, and may keep an empty temporary file from one page for the
// next one of the same directory (see AtomicFileWriter::Discard); otherwise a writer of its
// own does.
// What follows a page's reconstruction: its result, and its title and charset as
// ReconstructPage gives them (empty unless it was rewritten).
using AfterPage = std::function<void(PageRewrite result, std::string title, TitleCharset charset)>;

// What the rewriting of a page on a page thread came to: its result, title and charset as
// ReconstructPage gives them, and the messages it has for the job to show.
struct PageOutcome {
  PageRewrite result = PageRewrite::Rewritten;
  std::string title;
  TitleCharset charset;
  std::vector<std::string> messages;
};

// The pages of a job rewritten and replaced while the job goes on, and what follows each. A
// walk's pages, and the pages an add stores from the cache, are each read, rewritten and
// replaced whole on one of a few page threads, several at once. Without page threads they
// are rewritten on the job's thread and replaced on a thread of their own while the job reads
// and rewrites the next. What follows a page runs on the job's thread, in the order of the
// pages, and before the job shows, logs or records anything else: each step that could do so
// settles first, and so does the end of a walk.
class PageReplacements {
 public:
  // With `pageThreads` 0, the pages are rewritten on the job's thread and only replaced on a
  // thread of their own.
  explicit PageReplacements(std::size_t pageThreads = DefaultPageThreads());
  ~PageReplacements() { Settle(); }
  PageReplacements(const PageReplacements&) = delete;
  PageReplacements& operator=(const PageReplacements&) = delete;

  // One page thread for each processor, up to four; none on a machine of one.
  static std::size_t DefaultPageThreads();
  // Whether the pages of `job` are rewritten on page threads: not where the job keeps a list
  // of links, whose order is the pages' own.
  bool RewritesPagesOf(const RewriteContext& job) const {
    return pages_.size() != 0 && job.links == nullptr;
  }

  // Waits for every page under way, and runs what follows each.
  void Settle();
  // Starts the replacement of `path`, to be followed by `then`, and runs what follows the
  // pages whose replacements are done.
  // A failed replacement is shown through `frontend`, or not at all without one.
  void Start(platform::AtomicFileWriter::Handover handover, Frontend* frontend, std::string path,
             std::string title, TitleCharset charset, AfterPage then);
  // The number of page threads.
  std::size_t pageThreads() const { return pages_.size(); }
  // Starts `rewrite` on a page thread, given a context of `job` with that thread's kept
  // answers and the thread's number, to be followed by `then`; the messages it keeps are
  // shown through `frontend` first (none: not shown). Runs what follows the pages that are
  // done.
  using PageWork =
      std::function<void(const RewriteContext& job, std::size_t thread, PageOutcome& outcome)>;
  void StartPage(const RewriteContext& job, Frontend* frontend, PageWork rewrite, AfterPage then);
  // The number a page's work is given on the job's own thread.
  static constexpr std::size_t kJobThread = static_cast<std::size_t>(-1);

 private:
  // Pages under way, at most, on the page threads; what each holds until it is followed is
  // small.
  static constexpr std::size_t kPagesUnderWay = 32;

  struct Pending {
    Frontend* frontend;  // none: a failure is not shown
    std::string path;
    std::string title;
    TitleCharset charset;
    AfterPage then;
    // Of a page on a page thread, where it tells what it came to; none for a replacement.
    std::unique_ptr<PageOutcome> outcome;
  };
  // Runs what follows the oldest page under way once it is done; with `wait` waits for it,
  // and without returns false while it is not done.
  bool FollowOldest(bool wait);
  // Runs what follows a page whose replacement ended with `result`.
  void Follow(Pending& page, const platform::ReplacementThread::Result& result);

  platform::ReplacementThread thread_;
  platform::WorkThreads pages_;
  std::vector<LinkAnswers> answers_;  // each page thread's own
  std::deque<Pending> pending_;
};

PageRewrite ReconstructPage(const RewriteContext& job, Frontend& frontend,
                            std::string_view treeRoot, const std::string& pagePath, bool readRef,
                            std::string& title, RewriteProbe* probe = nullptr,
                            platform::AtomicFileWriter* pageWriter = nullptr,
                            TitleCharset* charset = nullptr);

// ReconstructPage, followed by `then`: at once, or, in a job with PageReplacements
// (RewriteContext::later) and with `pageWriter`, once the page's replacement has been done
// while the job went on. The messages are those of ReconstructPage, shown in the order of the
// pages.
void ReconstructPageThen(const RewriteContext& job, Frontend& frontend, std::string_view treeRoot,
                         const std::string& pagePath, bool readRef,
                         platform::AtomicFileWriter* pageWriter, AfterPage then);

// Rewrites the style sheet `sheetPath` of the LogTree `treeRoot` where it lies: the URLs of its
// url()s and @imports, relative to its own directory. Otherwise as ReconstructPage (the same
// messages; a read-only sheet is never rewritten, one that comes out the same is not written
// again).
PageRewrite ReconstructStyleSheet(const RewriteContext& job, Frontend& frontend,
                                  std::string_view treeRoot, const std::string& sheetPath,
                                  platform::AtomicFileWriter* pageWriter = nullptr);
// ReconstructStyleSheet, followed by `then` as ReconstructPageThen is (no title).
void ReconstructStyleSheetThen(const RewriteContext& job, Frontend& frontend,
                               std::string_view treeRoot, const std::string& sheetPath,
                               platform::AtomicFileWriter* pageWriter, AfterPage then);

// Stores the page read from `source` (a cached document, from its first byte) as `pagePath`
// of the LogTree `treeRoot`, rewritten as ReconstructPage rewrites a copy of it there: the
// copy and its rewriting are one write. The page is written whether or not a link changed,
// given `mode`, and replaced safely. `title` and `charset` as for ReconstructPage. False, with
// `pagePath` as it was and nothing shown, when reading or writing failed.
bool StoreRewrittenPage(const RewriteContext& job, std::string_view treeRoot,
                        const std::string& pagePath, bool readRef, DocumentSource& source,
                        mode_t mode, std::string& title, TitleCharset* charset = nullptr);
// Opens a cached document on the thread numbered `thread` (a page thread's number, or
// PageReplacements::kJobThread); null when it cannot be opened.
using OpenDocument = std::function<std::unique_ptr<DocumentSource>(std::size_t thread)>;
// StoreRewrittenPage of the document `open` gives, followed by `then` (Rewritten, or
// WriteFailed when the document could not be opened or the page stored: nothing is shown):
// at once, or, in a job with PageReplacements, once the page has been opened, rewritten and
// replaced on a page thread (or opened and rewritten here and replaced on the replacement
// thread).
void StoreRewrittenPageThen(const RewriteContext& job, std::string_view treeRoot,
                            const std::string& pagePath, bool readRef, OpenDocument open,
                            mode_t mode, AfterPage then);

}  // namespace lumbra
