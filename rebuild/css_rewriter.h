// The links of a style sheet: the URL of every url(...) and of every @import "..." is handed
// to the caller to resolve, and every other byte goes out as it came. A sheet is streamed,
// from a stored .css file, a style element or a style attribute, in pieces of any size; only
// the URL being read is held.
//
// Local rules of the reading (the tokens of CSS as far as they matter for links):
// - Comments (/* */) and strings other than an @import's are passed over.
// - url( is a function only where "url" is a whole name (not "myurl("), in any case; its
//   URL is a string, or unquoted up to ')' with blanks allowed only around it. An unquoted
//   URL holding a quote, '(' or a control character is a bad URL and stays as it is.
// - A URL holding a backslash (a CSS escape) stays as it is: its text is not its address.
// - A URL longer than kCssUrlMax bytes (an inline font as data:) goes out unread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace lumbra {

inline constexpr std::size_t kCssUrlMax = 2048;

class CssRewriter {
 public:
  // Resolves one URL of the sheet in place; `import` is set for the string of an @import.
  using Resolve = std::function<void(std::string& url, bool import)>;

  explicit CssRewriter(Resolve resolve) : resolve_(std::move(resolve)) {}

  // Appends to `out` what can be written of the sheet once `css`, its next bytes, is read.
  void Feed(std::string_view css, std::string& out);
  // The end of the sheet: appends what is held, unchanged, and starts over for the next one.
  void Finish(std::string& out);

  // Bytes held now (a URL not yet complete).
  std::size_t heldBytes() const { return held_.size(); }

 private:
  enum class State {
    Normal,
    Escape,  // after a backslash outside strings: the next byte is part of a name
    Slash,   // after '/': maybe a comment
    Comment,
    CommentStar,  // after '*' in a comment
    String,       // a string that is no URL
    StringEscape,
    AtKeyword,  // after '@', matching "import"
    ImportGap,  // after "@import": blanks before its string
    UrlOpen,    // after "url(": blanks before the URL
    UrlQuoted,  // the URL string of url("...") or of @import "..."
    UrlQuotedEscape,
    UrlUnquoted,
    UrlUnquotedEscape,
    UrlUnquotedTail,  // blanks after an unquoted URL, before ')'
    BadUrl,           // to the ')' that ends it
    BadUrlEscape,
  };

  // Starts holding a URL at byte `i` of `css`: what passed before it goes out.
  void StartUrl(std::string_view css, std::size_t i, std::size_t& run, std::string& out,
                bool import, char quote);
  // Adds one byte of the URL (or passes it, once the URL is too long to hold).
  void Hold(char c, std::size_t i, std::size_t& run, std::string& out);
  // The URL is complete: goes out resolved (or as it was); the byte at `i` starts the next run.
  void EndUrl(std::size_t i, std::size_t& run, std::string& out);
  // The URL is bad: goes out as it was.
  void DropUrl(std::size_t i, std::size_t& run, std::string& out);

  Resolve resolve_;
  State state_ = State::Normal;
  char quote_ = 0;
  // The name being read in Normal: its length, and whether it still reads "url" so far.
  std::size_t nameLength_ = 0;
  bool nameIsUrl_ = true;
  std::size_t atMatched_ = 0;
  bool import_ = false;
  bool holding_ = false;       // the URL's bytes are in held_
  bool escaped_ = false;       // the URL holds a backslash
  std::size_t urlLength_ = 0;  // of an unquoted URL, before the blanks after it
  std::string held_;
};

// The whole of a short sheet rewritten (the declarations of a style attribute).
std::string RewriteCss(std::string_view css, const CssRewriter::Resolve& resolve);

}  // namespace lumbra
