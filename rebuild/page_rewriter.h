// The rewriting of one saved page's segments: the links of its tags are pointed at the local
// copies in the LogTrees (or at their web addresses), URL strings inside JavaScript and the
// url()s and @imports of its style elements are rewritten, and every other byte goes out as
// it came. It is the sink of the page tokenizer; page_io.h reads and writes the pages
// through it. A tag that the tokenizer finds inside an attribute value a browser is still
// reading (see MarkupContext) goes out as it came.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "rebuild/css_rewriter.h"
#include "rebuild/link_forms.h"
#include "rebuild/link_resolver.h"
#include "rebuild/markup_context.h"
#include "rebuild/page_tokenizer.h"

namespace lumbra {

// Script text between two tags is held up to this many bytes so that its strings can be
// rewritten; a longer run is written partly unrewritten.
inline constexpr std::size_t kScriptHold = 10240;
// A script string is rewritten when it contains '/' and has this many characters.
inline constexpr std::size_t kScriptStringMin = 6;
inline constexpr std::size_t kScriptStringMax = 199;

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
  enum class Segment { Text, Tag, Script, Style };
  virtual ~RewriteProbe() = default;
  // `original` as the page had it, `written` as it went into the new page.
  virtual void OnSegment(Segment, std::string_view /*original*/, std::string_view /*written*/) {}
  // The most bytes the tokenizer and the script buffer held at one time.
  std::size_t peakHeldBytes = 0;
};

class PageRewriter : public TokenSink {
 public:
  // Rewrites the page `pagePath` of the LogTree `treeRoot` (ending in "log", no trailing
  // '/') into `out`. `readRef` is READ_REF as the caller gives it.
  PageRewriter(const RewriteContext& job, std::string_view treeRoot, std::string_view pagePath,
               bool readRef, ByteSink& out, RewriteProbe* probe = nullptr);

  void OnText(std::string_view text) override;
  void OnTag(std::string& tag) override;
  void OnOpenTag(std::string_view tag) override;
  // The end of the page: writes the script text and the style sheet text still held.
  void Finish();

  // Rewrites the link attributes of one tag in place (may change pageDir and script mode).
  // `read` is the tag as ReadTag read it, when it has been.
  void RewriteTag(std::string& tag, const TagReading* read = nullptr);
  // Writes a text or tag segment, through the script buffer while script mode is on.
  // `original` is the segment as the page had it (for the probe).
  void EmitSegment(bool isTag, std::string_view original, std::string_view bytes);

  const std::string& pageDir() const { return pageDir_; }
  const std::string& hostDir() const { return hostDir_; }
  bool scriptMode() const { return scriptMode_; }
  std::size_t heldBytes() const { return script_.size() + css_.heldBytes(); }

 private:
  // The page as its links are resolved against it now.
  PageLocation Location() const {
    return {treeRoot_, pagePath_, hostDir_, pageDir_, baseSeen_ ? std::string_view() : ownDir_};
  }
  void WriteScript();
  // Writes text of a style element with its links rewritten; FinishStyle writes what the
  // style sheet still holds, at the element's end.
  void WriteStyle(std::string_view text);
  void FinishStyle();
  // Gives the tail kept from the sheet to it after all: what followed made it no end tag.
  void FlushStyleTail();
  // Resolves one link of today's forms (srcset, poster, CSS) of this page.
  void ResolveToday(std::string& link, LinkKind kind);
  void Write(RewriteProbe::Segment kind, std::string_view original, std::string_view written);

  RewriteContext job_;
  std::string treeRoot_;
  std::string pagePath_;
  std::string pageDir_;
  std::string ownDir_;  // the page's own directory, whatever its base says
  std::string hostDir_;
  // A base element was met: a browser takes relative links from its address, so the links to
  // local copies after it are file:// URLs in either LINK_STYLE.
  bool baseSeen_ = false;
  bool readRef_;
  ByteSink& out_;
  RewriteProbe* probe_;
  bool scriptMode_ = false;
  std::string script_;
  MarkupContext context_;
  TagReading reading_;  // of the last start tag, its storage reused
  CssRewriter css_;
  std::string cssOut_;
  // The last bytes of a style element's text, from a '<', kept from the sheet while they may
  // still be the element's end tag: that never goes through the sheet's rewriting.
  std::string styleTail_;
};

}  // namespace lumbra
