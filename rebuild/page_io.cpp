#include "rebuild/page_io.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include <sys/stat.h>
#include <unistd.h>

#include "core/log_tree.h"
#include "platform/language.h"
#include "platform/paths.h"
#include "rebuild/charset_scan.h"
#include "rebuild/css_rewriter.h"

namespace lumbra {
namespace {

constexpr std::string_view kOpenError =
    platform::TrLater("ERROR : 再構成するファイルを開くことができません\rpath=");
constexpr std::string_view kTempError =
    platform::TrLater("ERROR : 再構成用一時ファイルが作成できません");
constexpr std::string_view kWriteError =
    platform::TrLater("ERROR : 再構成したファイルを書き込むことができません\rpath=");

// The bytes of a page that its reader holds: where they lie in the page, and how many.
struct PageWindow {
  const char* data = nullptr;
  std::uint64_t at = 0;
  std::size_t size = 0;
};

// Where a rewritten page goes: the temporary file beside the page, but only once the bytes
// differ from the page as it is. Until then each piece is compared with the page's own bytes:
// those its reader holds (window()), else read again by offset. A page that comes out the same is
// not replaced (its empty temporary file is removed), so a rebuild of pages rewritten before writes
// no page again; it gets the time a replacement would have given it.
class ReplacingSink : public ByteSink {
 public:
  enum class End { Unchanged, Replaced, HandedOver, WriteFailed };

  ReplacingSink(int pageFd, platform::AtomicFileWriter& writer) : fd_(pageFd), writer_(writer) {}

  void Write(std::string_view bytes) override {
    if (failed_ || bytes.empty()) return;
    if (!differs_) {
      if (Matches(bytes)) {
        same_ += bytes.size();
        return;
      }
      if (!Diverge()) return;
    }
    if (!writer_.Write(bytes)) failed_ = true;
  }
  bool failed() const { return failed_; }
  // Where the page's reader shows what it holds.
  PageWindow* window() { return &window_; }

  // After the last piece: the page replaced by the new bytes (given `mode`), or left alone
  // when they are its own bytes. With `handover`, the replacement is not done but given
  // there, to be completed elsewhere.
  End Finish(std::uint64_t pageSize, mode_t mode,
             std::optional<platform::AtomicFileWriter::Handover>* handover = nullptr) {
    if (!failed_ && !differs_) {
      if (same_ == pageSize) {
        writer_.Discard();  // its empty temporary file may serve the next page
        ::futimens(fd_, nullptr);
        return End::Unchanged;
      }
      Diverge();  // the new page is the old one cut short
    }
    if (!failed_ && handover != nullptr) {
      *handover = writer_.Release(mode);
      return End::HandedOver;
    }
    if (!failed_ && writer_.Commit(mode)) return End::Replaced;
    writer_.Abort();
    return End::WriteFailed;
  }

 private:
  // The page's bytes from offset `at` on that are at hand: in the reader's window, else in a
  // chunk read for them. Empty at the page's end or on a read error.
  std::string_view PageBytesAt(std::uint64_t at) {
    auto within = [at](const char* data, std::uint64_t start, std::size_t size) {
      return at >= start && at - start < size
                 ? std::string_view(data + (at - start),
                                    static_cast<std::size_t>(start + size - at))
                 : std::string_view();
    };
    if (std::string_view held = within(window_.data, window_.at, window_.size); !held.empty()) {
      return held;
    }
    if (std::string_view held = within(chunk_.data(), chunkAt_, chunkSize_); !held.empty()) {
      return held;
    }
    ssize_t got = ::pread(fd_, chunk_.data(), chunk_.size(), static_cast<off_t>(at));
    if (got <= 0) return {};
    chunkAt_ = at;
    chunkSize_ = static_cast<std::size_t>(got);
    return {chunk_.data(), chunkSize_};
  }

  // Whether the page holds `bytes` at offset same_.
  bool Matches(std::string_view bytes) {
    std::uint64_t at = same_;
    while (!bytes.empty()) {
      std::string_view held = PageBytesAt(at);
      if (held.empty()) return false;
      std::size_t n = std::min(bytes.size(), held.size());
      if (bytes.substr(0, n) != held.substr(0, n)) return false;
      bytes.remove_prefix(n);
      at += n;
    }
    return true;
  }

  // At the first difference the temporary file is given the bytes that matched.
  bool Diverge() {
    differs_ = true;
    for (std::uint64_t at = 0; at < same_ && !failed_;) {
      std::string_view held = PageBytesAt(at);
      held = held.substr(
          0, static_cast<std::size_t>(std::min<std::uint64_t>(held.size(), same_ - at)));
      if (held.empty() || !writer_.Write(held)) failed_ = true;
      at += held.size();
    }
    return !failed_;
  }

  int fd_;
  platform::AtomicFileWriter& writer_;
  bool differs_ = false;
  bool failed_ = false;
  std::uint64_t same_ = 0;  // the bytes written so far, all equal to the page's
  PageWindow window_;
  std::array<char, 8192> chunk_;
  std::uint64_t chunkAt_ = 0;
  std::size_t chunkSize_ = 0;
};

// A page's bytes in blocks of kPageBlockSize, read from the document (from its start) a
// buffer at a time; `window`, when given, is kept showing the buffer.
class BlockReader {
 public:
  explicit BlockReader(DocumentSource& page, PageWindow* window = nullptr)
      : page_(page), window_(window) {}
  ~BlockReader() {
    if (window_ != nullptr) *window_ = {};  // the buffer goes with the reader
  }
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // The next block: full, shorter at the end, then empty. False on a read error.
  bool Next(std::string& block) {
    block.clear();
    while (block.size() < kPageBlockSize) {
      if (at_ == filled_) {
        if (ended_) break;
        long n = page_.Read(buffer_.data(), buffer_.size());
        if (n < 0) return false;
        at_ = 0;
        filled_ = static_cast<std::size_t>(n);
        // At the end the window keeps the last bytes read.
        if (window_ != nullptr && n > 0) *window_ = {buffer_.data(), offset_, filled_};
        offset_ += filled_;
        ended_ = n == 0;
        continue;
      }
      std::size_t n = std::min(kPageBlockSize - block.size(), filled_ - at_);
      block.append(buffer_.data() + at_, n);
      at_ += n;
    }
    return true;
  }

 private:
  DocumentSource& page_;
  PageWindow* window_;
  std::uint64_t offset_ = 0;  // where the bytes after the buffer lie in the page
  std::array<char, 8192> buffer_;
  std::size_t at_ = 0;
  std::size_t filled_ = 0;
  bool ended_ = false;
};

// Where a page stored from the cache goes: every byte into its temporary file.
class WritingSink : public ByteSink {
 public:
  explicit WritingSink(platform::AtomicFileWriter& writer) : writer_(writer) {}

  void Write(std::string_view bytes) override {
    if (!failed_ && !writer_.Write(bytes)) failed_ = true;
  }
  bool failed() const { return failed_; }
  PageWindow* window() { return nullptr; }  // nothing is compared

 private:
  platform::AtomicFileWriter& writer_;
  bool failed_ = false;
};

// Sends the bytes of `page`, read from its start, through the rewriting of `pagePath` into
// `sink`; stops early once the sink has failed. `title` receives the page title and `charset`
// what the page says about reading it. False when reading the page failed.
template <typename Sink>
bool RewriteFrom(const RewriteContext& job, std::string_view treeRoot, const std::string& pagePath,
                 bool readRef, DocumentSource& page, Sink& sink, RewriteProbe* probe,
                 std::string& title, TitleCharset& charset) {
  PageRewriter rewriter(job, treeRoot, pagePath, readRef, sink, probe);
  PageTokenizer tokenizer(rewriter);
  CharsetScan scan;
  BlockReader reader(page, sink.window());
  std::string block;
  std::string next;
  bool readOk = page.Rewind() && reader.Next(block);
  while (readOk && !block.empty() && !sink.failed()) {
    readOk = reader.Next(next);
    tokenizer.FeedBlock(block, std::string_view(next).substr(0, kTokenizerLookahead));
    scan.Feed(block);
    block.swap(next);
  }
  tokenizer.Finish();
  rewriter.Finish();
  scan.Finish();
  charset = TitleCharset{scan.declared(), scan.utf8(), tokenizer.titleCut()};
  if (probe != nullptr) {
    // Both read blocks, the tokenizer's buffers and the script buffer at their peaks.
    probe->peakHeldBytes += tokenizer.peakHeldBytes() + 2 * kPageBlockSize;
  }
  title = tokenizer.title();
  return readOk;
}

// Sends the bytes of the style sheet `sheet`, read from its start, through the rewriting of
// its links relative to its own place `sheetPath` in the LogTree `treeRoot` into `sink`.
// False when reading it failed.
template <typename Sink>
bool RewriteSheetFrom(const RewriteContext& job, std::string_view treeRoot,
                      const std::string& sheetPath, DocumentSource& sheet, Sink& sink) {
  const std::string dir = platform::SplitPath(sheetPath).dir;
  const std::string hostDir = HostDirOf(dir);
  const PageLocation location{treeRoot, sheetPath, hostDir, dir, dir};
  CssRewriter css([&](std::string& url, bool import) {
    ResolvePageLink(job, location, url, import ? LinkKind::Href : LinkKind::Src, LinkForm::Today,
                    job.links, nullptr);
  });
  BlockReader reader(sheet);
  std::string block;
  std::string out;
  bool readOk = sheet.Rewind();
  while (readOk && !sink.failed()) {
    readOk = reader.Next(block);
    if (!readOk || block.empty()) break;
    out.clear();
    css.Feed(block, out);
    sink.Write(out);
  }
  out.clear();
  css.Finish(out);
  sink.Write(out);
  return readOk;
}

// Rewrites the file `path` where it lies: `rewrite(file, sink)` sends its new bytes into the
// sink (false when reading failed). The messages, each given to `show`, and the results are
// those of ReconstructPage. With `handover`, the replacement is not done but given there
// (result Rewritten), with the temporary file still to be made and the page's descriptor to
// close after it.
template <typename Show, typename Rewrite>
PageRewrite RewriteInPlace(const RewriteContext& job, Show show, const std::string& path,
                           platform::AtomicFileWriter* pageWriter,
                           std::optional<platform::AtomicFileWriter::Handover>* handover,
                           Rewrite rewrite) {
  auto openError = [&path] { return platform::Tr(kOpenError) + path; };
  // Only a regular file is rewritten: a link would be replaced by a file, and a FIFO or a
  // device is never read.
  FileDocument file;
  const bool seen = job.paths.KindOf(path) == platform::PathTable::Kind::File;
  const platform::OpenError opened =
      seen ? file.file().OpenSeenRegular(path) : file.file().Open(path, platform::FollowLinks::No);
  const platform::FileStatus status = file.status();
  // A read-only file is protected even from a user who could write it anyway.
  if (opened != platform::OpenError::None || (status.mode & S_IWUSR) == 0) {
    show(openError());
    return PageRewrite::OpenFailed;
  }
  platform::AtomicFileWriter ownWriter;
  platform::AtomicFileWriter& writer = pageWriter != nullptr ? *pageWriter : ownWriter;
  if (handover != nullptr) {
    writer.OpenLater(path);
  } else if (!writer.Open(path)) {
    show(platform::Tr(kTempError));
    return PageRewrite::TempFileFailed;
  }
  ReplacingSink sink(file.file().fd(), writer);
  if (!rewrite(file, sink)) {
    writer.Abort();  // the file stays as it was
    show(openError());
    return PageRewrite::OpenFailed;
  }
  switch (sink.Finish(status.size, status.mode & 07777, handover)) {
    case ReplacingSink::End::WriteFailed:
      // A page larger than the writer's buffer needs its temporary file before the end.
      if (writer.tempFailed()) {
        show(platform::Tr(kTempError));
        return PageRewrite::TempFileFailed;
      }
      show(platform::Tr(kWriteError) + path);
      return PageRewrite::WriteFailed;
    case ReplacingSink::End::HandedOver:
      // The old page goes with its last descriptor: that too is the thread's work.
      (*handover)->closeAfter = file.file().Release();
      break;
    case ReplacingSink::End::Unchanged:
    case ReplacingSink::End::Replaced:
      break;
  }
  return PageRewrite::Rewritten;
}

// RewriteInPlace with the messages shown through `frontend` at once.
template <typename Rewrite>
PageRewrite RewriteInPlaceNow(const RewriteContext& job, Frontend& frontend,
                              const std::string& path, platform::AtomicFileWriter* pageWriter,
                              Rewrite rewrite) {
  auto show = [&frontend](const std::string& text) { frontend.ShowMessage(text); };
  return RewriteInPlace(job, show, path, pageWriter, nullptr, rewrite);
}

// The result of a failed replacement, its message given to `show`.
template <typename Show>
PageRewrite ReplacementFailed(const std::string& path, bool tempFailed, Show show) {
  if (tempFailed) {
    show(platform::Tr(kTempError));
    return PageRewrite::TempFileFailed;
  }
  show(platform::Tr(kWriteError) + path);
  return PageRewrite::WriteFailed;
}

// RewriteInPlace followed by `then`. In a job with PageReplacements (job.later) and with
// `pageWriter` (a walk's page): on a page thread, or rewritten here and replaced on the
// replacement thread; otherwise at once. `rewrite(job, file, sink, title, charset)` also sets
// the title and the charset.
template <typename Rewrite>
void RewriteInPlaceThen(const RewriteContext& job, Frontend& frontend, const std::string& path,
                        platform::AtomicFileWriter* pageWriter, Rewrite rewrite, AfterPage then) {
  PageReplacements* later = job.later;
  if (later != nullptr && pageWriter != nullptr && later->RewritesPagesOf(job)) {
    later->StartPage(
        job, &frontend,
        [path, rewrite](const RewriteContext& threadJob, std::size_t, PageOutcome& outcome) {
          auto keep = [&outcome](std::string text) { outcome.messages.push_back(std::move(text)); };
          platform::AtomicFileWriter writer;
          std::optional<platform::AtomicFileWriter::Handover> handover;
          outcome.result = RewriteInPlace(
              threadJob, keep, path, &writer, &handover, [&](FileDocument& file, auto& sink) {
                return rewrite(threadJob, file, sink, outcome.title, outcome.charset);
              });
          if (handover && !platform::AtomicFileWriter::Complete(*handover)) {
            outcome.result = ReplacementFailed(path, handover->tempFailed, keep);
          }
        },
        std::move(then));
    return;
  }
  std::string title;
  TitleCharset charset;
  auto show = [&](const std::string& text) {
    if (later != nullptr) later->Settle();
    frontend.ShowMessage(text);
  };
  std::optional<platform::AtomicFileWriter::Handover> handover;
  const PageRewrite result = RewriteInPlace(
      job, show, path, pageWriter, later != nullptr && pageWriter != nullptr ? &handover : nullptr,
      [&](FileDocument& file, auto& sink) { return rewrite(job, file, sink, title, charset); });
  if (handover) {
    later->Start(std::move(*handover), &frontend, path, std::move(title), std::move(charset),
                 std::move(then));
    return;
  }
  if (later != nullptr) later->Settle();
  if (result != PageRewrite::Rewritten) {
    title.clear();
    charset = {};
  }
  then(result, std::move(title), std::move(charset));
}

}  // namespace

PageRewrite ReconstructPage(const RewriteContext& job, Frontend& frontend,
                            std::string_view treeRoot, const std::string& pagePath, bool readRef,
                            std::string& title, RewriteProbe* probe,
                            platform::AtomicFileWriter* pageWriter, TitleCharset* charset) {
  title.clear();
  if (charset != nullptr) *charset = {};
  std::string pageTitle;
  TitleCharset pageCharset;
  const PageRewrite result = RewriteInPlaceNow(
      job, frontend, pagePath, pageWriter, [&](FileDocument& page, ReplacingSink& sink) {
        return RewriteFrom(job, treeRoot, pagePath, readRef, page, sink, probe, pageTitle,
                           pageCharset);
      });
  if (result == PageRewrite::Rewritten) {
    title = std::move(pageTitle);
    if (charset != nullptr) *charset = std::move(pageCharset);
  }
  return result;
}

PageRewrite ReconstructStyleSheet(const RewriteContext& job, Frontend& frontend,
                                  std::string_view treeRoot, const std::string& sheetPath,
                                  platform::AtomicFileWriter* pageWriter) {
  return RewriteInPlaceNow(job, frontend, sheetPath, pageWriter,
                           [&](FileDocument& sheet, ReplacingSink& sink) {
                             return RewriteSheetFrom(job, treeRoot, sheetPath, sheet, sink);
                           });
}

void ReconstructPageThen(const RewriteContext& job, Frontend& frontend, std::string_view treeRoot,
                         const std::string& pagePath, bool readRef,
                         platform::AtomicFileWriter* pageWriter, AfterPage then) {
  RewriteInPlaceThen(
      job, frontend, pagePath, pageWriter,
      [root = std::string(treeRoot), pagePath, readRef](const RewriteContext& pageJob,
                                                        FileDocument& page, ReplacingSink& sink,
                                                        std::string& title, TitleCharset& charset) {
        return RewriteFrom(pageJob, root, pagePath, readRef, page, sink, nullptr, title, charset);
      },
      std::move(then));
}

void ReconstructStyleSheetThen(const RewriteContext& job, Frontend& frontend,
                               std::string_view treeRoot, const std::string& sheetPath,
                               platform::AtomicFileWriter* pageWriter, AfterPage then) {
  RewriteInPlaceThen(
      job, frontend, sheetPath, pageWriter,
      [root = std::string(treeRoot), sheetPath](const RewriteContext& sheetJob, FileDocument& sheet,
                                                ReplacingSink& sink, std::string&, TitleCharset&) {
        return RewriteSheetFrom(sheetJob, root, sheetPath, sheet, sink);
      },
      std::move(then));
}

std::size_t PageReplacements::DefaultPageThreads() {
  return platform::WorkThreads::ForProcessors();
}

PageReplacements::PageReplacements(std::size_t pageThreads)
    : pages_(pageThreads), answers_(pageThreads) {}

void PageReplacements::Follow(Pending& page, const platform::ReplacementThread::Result& result) {
  if (result.replaced) {
    page.then(PageRewrite::Rewritten, std::move(page.title), std::move(page.charset));
    return;
  }
  auto show = [&page](const std::string& text) {
    if (page.frontend != nullptr) page.frontend->ShowMessage(text);
  };
  page.then(ReplacementFailed(page.path, result.tempFailed, show), {}, {});
}

bool PageReplacements::FollowOldest(bool wait) {
  if (pending_.empty()) return false;
  if (pending_.front().outcome == nullptr) {
    const std::optional<platform::ReplacementThread::Result> done = thread_.Collect(wait);
    if (!done) return false;
    Pending page = std::move(pending_.front());
    pending_.pop_front();
    Follow(page, *done);
    return true;
  }
  if (!pages_.Collect(wait)) return false;
  Pending page = std::move(pending_.front());
  pending_.pop_front();
  PageOutcome& outcome = *page.outcome;
  if (page.frontend != nullptr) {
    for (const std::string& text : outcome.messages) page.frontend->ShowMessage(text);
  }
  if (outcome.result != PageRewrite::Rewritten) {
    outcome.title.clear();
    outcome.charset = {};
  }
  page.then(outcome.result, std::move(outcome.title), std::move(outcome.charset));
  return true;
}

void PageReplacements::Settle() {
  while (FollowOldest(true)) {
  }
}

void PageReplacements::Start(platform::AtomicFileWriter::Handover handover, Frontend* frontend,
                             std::string path, std::string title, TitleCharset charset,
                             AfterPage then) {
  thread_.Start(std::move(handover));
  pending_.push_back(
      {frontend, std::move(path), std::move(title), std::move(charset), std::move(then), nullptr});
  while (FollowOldest(false)) {
  }
}

void PageReplacements::StartPage(const RewriteContext& job, Frontend* frontend, PageWork rewrite,
                                 AfterPage then) {
  if (pending_.size() >= kPagesUnderWay) {
    // Half of them are waited for at once: each wait costs the job and a page thread a
    // system call.
    pages_.WaitForOldest(kPagesUnderWay / 2);
    while (pending_.size() >= kPagesUnderWay / 2 && FollowOldest(false)) {
    }
    while (pending_.size() >= kPagesUnderWay && FollowOldest(true)) {
    }
  }
  auto outcome = std::make_unique<PageOutcome>();
  PageOutcome* out = outcome.get();
  pages_.Start([this, out, ctx = &job.ctx, paths = &job.paths, keep = job.answers != nullptr,
                rewrite = std::move(rewrite)](std::size_t thread) {
    const RewriteContext threadJob{*ctx, *paths, nullptr, keep ? &answers_[thread] : nullptr,
                                   nullptr};
    rewrite(threadJob, thread, *out);
  });
  pending_.push_back({frontend, {}, {}, {}, std::move(then), std::move(outcome)});
  while (FollowOldest(false)) {
  }
}

void StoreRewrittenPageThen(const RewriteContext& job, std::string_view treeRoot,
                            const std::string& pagePath, bool readRef, OpenDocument open,
                            mode_t mode, AfterPage then) {
  PageReplacements* later = job.later;
  if (later != nullptr && later->RewritesPagesOf(job)) {
    later->StartPage(
        job, nullptr,
        [root = std::string(treeRoot), pagePath, readRef, mode, open = std::move(open)](
            const RewriteContext& threadJob, std::size_t thread, PageOutcome& outcome) {
          const std::unique_ptr<DocumentSource> source = open(thread);
          const bool stored =
              source != nullptr && StoreRewrittenPage(threadJob, root, pagePath, readRef, *source,
                                                      mode, outcome.title, &outcome.charset);
          outcome.result = stored ? PageRewrite::Rewritten : PageRewrite::WriteFailed;
        },
        std::move(then));
    return;
  }
  const std::unique_ptr<DocumentSource> document = open(PageReplacements::kJobThread);
  if (document == nullptr) {
    if (later != nullptr) later->Settle();
    then(PageRewrite::WriteFailed, {}, {});
    return;
  }
  DocumentSource& source = *document;
  if (later == nullptr) {
    std::string title;
    TitleCharset charset;
    const bool stored =
        StoreRewrittenPage(job, treeRoot, pagePath, readRef, source, mode, title, &charset);
    then(stored ? PageRewrite::Rewritten : PageRewrite::WriteFailed, std::move(title),
         std::move(charset));
    return;
  }
  platform::AtomicFileWriter writer;
  writer.OpenLater(pagePath);
  WritingSink sink(writer);
  std::string title;
  TitleCharset charset;
  if (!RewriteFrom(job, treeRoot, pagePath, readRef, source, sink, nullptr, title, charset) ||
      sink.failed()) {
    writer.Abort();  // the page stays as it was
    later->Settle();
    then(PageRewrite::WriteFailed, {}, {});
    return;
  }
  later->Start(writer.Release(mode), nullptr, pagePath, std::move(title), std::move(charset),
               std::move(then));
}

bool StoreRewrittenPage(const RewriteContext& job, std::string_view treeRoot,
                        const std::string& pagePath, bool readRef, DocumentSource& source,
                        mode_t mode, std::string& title, TitleCharset* charset) {
  title.clear();
  if (charset != nullptr) *charset = {};
  platform::AtomicFileWriter writer;
  if (!writer.Open(pagePath)) return false;
  WritingSink sink(writer);
  std::string pageTitle;
  TitleCharset pageCharset;
  if (!RewriteFrom(job, treeRoot, pagePath, readRef, source, sink, nullptr, pageTitle,
                   pageCharset) ||
      sink.failed() || !writer.Commit(mode)) {
    return false;  // the writer removes its temporary file: the page stays as it was
  }
  title = std::move(pageTitle);
  if (charset != nullptr) *charset = std::move(pageCharset);
  return true;
}

}  // namespace lumbra
