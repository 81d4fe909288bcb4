// Reconstruction of one saved page: its links are rewritten to point at the local copies in
// the LogTrees (or at their web addresses), URL strings inside JavaScript are rewritten, the
// title is captured, and the page is replaced by the result. The page is streamed: what is
// held at any time is bounded by the read blocks, the tag buffer and the script buffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"
#include "platform/fs.h"
#include "rebuild/page_tokenizer.h"

namespace lumbra {

// Script text between two tags is held up to this many bytes so that its strings can be
// rewritten; a longer run is written partly unrewritten.
inline constexpr std::size_t kScriptHold = 10240;
// An attribute value takes at most this many characters; one of kValueTooLong characters or
// more is not rewritten.
inline constexpr std::size_t kValueTake = 256;
inline constexpr std::size_t kValueTooLong = 180;
// Once this many attribute occurrences are held, each further attribute name adds at most one.
inline constexpr std::size_t kOccurrenceLimit = 30;
// A script string is rewritten when it contains '/' and has this many characters.
inline constexpr std::size_t kScriptStringMin = 6;
inline constexpr std::size_t kScriptStringMax = 199;
// Link-list lines are written only for links shorter than this.
inline constexpr std::size_t kLinkListMax = 250;

// The execution-log text of a page that could not be rewritten.
inline constexpr std::string_view kRewriteFailed = "再構成失敗";

// How one page's reconstruction ended.
enum class PageRewrite {
  Rewritten,       // the page now holds its rewritten form
  OpenFailed,      // missing, unreadable or read-only page: left as it was
  TempFileFailed,  // the temporary file beside the page could not be made: page unchanged
  WriteFailed,     // writing or replacing failed part-way: page unchanged
};

// Where the rewritten bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(std::string_view bytes) = 0;
};

// What one reconstruction held and wrote, for the self-checks of the tests and the fuzzer
// and for the benchmarks. Segments are reported in page order.
class RewriteProbe {
 public:
  enum class Segment { Text, Tag, Script };
  virtual ~RewriteProbe() = default;
  // `original` as the page had it, `written` as it went into the new page.
  virtual void OnSegment(Segment, std::string_view /*original*/, std::string_view /*written*/) {}
  // The most bytes the tokenizer and the script buffer held at one time.
  std::size_t peakHeldBytes = 0;
};

// Rewrites the page `pagePath` of the LogTree `treeRoot` (ending in "log", no trailing '/').
// `readRef` is READ_REF as the caller gives it; READ_CNT, READ_AEL and link-list mode
// (unreferencedJob: external links go to serch.tmp in the start directory) come from `ctx`.
// `title` receives the page title (at most kTitleMax characters), empty when the page has
// none or was not rewritten. Failures are shown through `frontend`; the page then stays as
// it was. A read-only page (no owner write bit) is never rewritten. `pageWriter`, when given,
// writes the new page, and may keep an empty temporary file from one page for the next one
// of the same directory (see AtomicFileWriter::Discard); otherwise a writer of its own does.
PageRewrite ReconstructPage(const JobContext& ctx, Frontend& frontend, std::string_view treeRoot,
                            const std::string& pagePath, bool readRef, std::string& title,
                            RewriteProbe* probe = nullptr,
                            platform::AtomicFileWriter* pageWriter = nullptr);

// Stores the page read from `source` (a cached file, read from its start) as `pagePath` of
// the LogTree `treeRoot`, rewritten as ReconstructPage rewrites a copy of it there: the copy
// and its rewriting are one write. The page is written whether or not a link changed, given
// `mode`, and replaced safely. `title` as for ReconstructPage. False, with `pagePath` as it
// was and nothing shown, when reading or writing failed.
bool StoreRewrittenPage(const JobContext& ctx, std::string_view treeRoot,
                        const std::string& pagePath, bool readRef, platform::ReadableFile& source,
                        mode_t mode, std::string& title);

// Appends an external link that did not resolve to the link list serch.tmp (the line
// "%s 0\n", text mode): not for media files, nor for links that do not begin with "http".
void RecordLink(const JobContext& ctx, std::string_view link, bool found);

// The rewriting of one page's segments: the tokenizer's sink. Exposed for the tests.
class PageRewriter : public TokenSink {
 public:
  PageRewriter(const JobContext& ctx, std::string_view treeRoot, std::string_view pagePath,
               bool readRef, ByteSink& out, RewriteProbe* probe = nullptr);

  void OnText(std::string_view text) override { EmitSegment(false, text, text); }
  void OnTag(std::string& tag) override;
  void OnOpenTag(std::string_view tag) override { EmitSegment(true, tag, tag); }
  // The end of the page: writes the script text still held.
  void Finish();

  // Rewrites the link attributes of one tag in place (may change pageDir and script mode).
  void RewriteTag(std::string& tag);
  // Writes a text or tag segment, through the script buffer while script mode is on.
  // `original` is the segment as the page had it (for the probe).
  void EmitSegment(bool isTag, std::string_view original, std::string_view bytes);

  const std::string& pageDir() const { return pageDir_; }
  const std::string& hostDir() const { return hostDir_; }
  bool scriptMode() const { return scriptMode_; }
  std::size_t heldBytes() const { return script_.size(); }

 private:
  void WriteScript();
  void Write(RewriteProbe::Segment kind, std::string_view original, std::string_view written);

  const JobContext& ctx_;
  std::string treeRoot_;
  std::string pagePath_;
  std::string pageDir_;
  std::string hostDir_;
  bool readRef_;
  ByteSink& out_;
  RewriteProbe* probe_;
  bool scriptMode_ = false;
  std::string script_;
};

}  // namespace lumbra
