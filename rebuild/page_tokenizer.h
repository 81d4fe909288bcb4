// The tokenizer of saved pages. A page is read in blocks of kPageBlockSize bytes and cut into
// text segments and tag segments; every byte of the page reaches the sink exactly once and
// in order, so what the sink leaves alone comes out as it went in.
//
// Local rules of the tokenizer:
// - Text between tags is held in a text buffer that is emptied at every '<', at every '>' of
//   text and before every block after the first (so a title crossing a block boundary keeps
//   only its part after the boundary).
// - "<!" (comments, declarations) stays text; its '>' ends a text segment.
// - A tag longer than kTagCut characters is cut there and its rest is read as text.
// - Looking ahead (the '!' after '<', the "/titl" after '<') sees the page's real next
//   bytes, also across a block boundary; the caller passes them with each block.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbra {

inline constexpr std::size_t kPageBlockSize = 1024;  // the page is read in blocks of this size
inline constexpr std::size_t kTagCut = 9216;         // a longer tag is cut here
inline constexpr std::size_t kTitleMax = 100;        // a title keeps this many characters
// The tokenizer looks at most this many bytes past the character it handles.
inline constexpr std::size_t kTokenizerLookahead = 8;

// Receives the segments of a page in order.
class TokenSink {
 public:
  virtual ~TokenSink() = default;
  virtual void OnText(std::string_view text) = 0;
  // A complete tag, or the first kTagCut + 1 characters of a longer one. The sink rewrites
  // it in place and emits it; the tokenizer then reads the rewritten form for a title tag.
  virtual void OnTag(std::string& tag) = 0;
  // A tag still open at the end of the page: emitted unchanged.
  virtual void OnOpenTag(std::string_view tag) = 0;
};

class PageTokenizer {
 public:
  explicit PageTokenizer(TokenSink& sink) : sink_(sink) {}

  // Handles one block. `following` holds the page's next bytes after the block (at least
  // kTokenizerLookahead of them while the page goes on; fewer or none near its end).
  void FeedBlock(std::string_view block, std::string_view following);
  // The end of the page: emits the held text and a tag that is still open.
  void Finish();

  // The page title: the text before "</title" after a title tag, at most kTitleMax
  // characters; empty when the page has none.
  const std::string& title() const { return title_; }
  // Whether the page's title text went on past the kTitleMax characters kept.
  bool titleCut() const { return titleCut_; }
  // Bytes the tokenizer holds now (text and tag buffers), and the most it ever held.
  std::size_t heldBytes() const { return text_.size() + tag_.size(); }
  std::size_t peakHeldBytes() const { return peakHeld_; }

 private:
  enum class Mode { Text, Tag };

  void HandleText(std::size_t i);
  void HandleTag(std::size_t i);
  // The byte at `i` of the current block or of the bytes following it; -1 past them.
  int At(std::size_t i) const;
  bool TitleEndNear(std::size_t i) const;
  void TakeTitle();
  void EmitText();
  void EmitTag();
  void NoteHeld();

  TokenSink& sink_;
  Mode mode_ = Mode::Text;
  bool firstBlock_ = true;
  bool titlePending_ = false;
  bool titleCut_ = false;
  std::string text_;
  std::string tag_;
  std::string title_;
  std::string_view block_;
  std::string_view following_;
  std::size_t peakHeld_ = 0;
};

}  // namespace lumbra
