// Where a browser stands in a page while the rewriting goes through it. The page tokenizer
// reads a tag from every '<' to the next '>', as the rewriting always has; a browser of today
// reads by the HTML standard's rules, in which a quoted attribute value may hold '>' and '<',
// a comment runs to "-->", and the text of a style or script element runs to its end tag.
// The rewriting asks this context two things: whether a tag the tokenizer found begins inside
// an attribute value a browser is still reading (then it is no tag, and rewriting it would
// change the markup around it), and whether text is the style sheet of a style element.
//
// Local rules:
// - The bytes are fed in page order, in pieces of any size; the state survives every cut.
// - Only what decides those two questions is followed: tags and their attribute values,
//   comments, bogus comments and doctypes (to the next '>'), the elements whose text runs to
//   their end tag (style, script, title, textarea, xmp, iframe, noembed, noframes), and
//   plaintext. Foreign content (svg, math) is read like HTML.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace lumbra {

// The states of a tag from its name on, as the HTML standard's tokenizer has them.
enum class TagState {
  Name,
  BeforeAttrName,
  AttrName,
  AfterAttrName,
  BeforeValue,
  ValueDoubleQuoted,
  ValueSingleQuoted,
  ValueUnquoted,
  AfterQuotedValue,
  SelfClosing,
  Closed,  // the '>' that ends the tag was read
};

// Whether `c` is a blank between attributes (the standard's ASCII whitespace; a carriage return
// counts, since the browser reads it as a line feed).
constexpr bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// The state after the byte `c` in state `state` (Closed stays Closed).
inline TagState StepTag(TagState state, char c) {
  // A byte that ends one state is read again in the next where the standard says so.
  for (;;) {
    switch (state) {
      case TagState::Name:
        if (IsHtmlSpace(c)) return TagState::BeforeAttrName;
        if (c == '/') return TagState::SelfClosing;
        if (c == '>') return TagState::Closed;
        return TagState::Name;
      case TagState::BeforeAttrName:
        if (IsHtmlSpace(c)) return state;
        if (c == '/' || c == '>') {
          state = TagState::AfterAttrName;
          continue;
        }
        return TagState::AttrName;
      case TagState::AttrName:
        if (IsHtmlSpace(c) || c == '/' || c == '>') {
          state = TagState::AfterAttrName;
          continue;
        }
        if (c == '=') return TagState::BeforeValue;
        return TagState::AttrName;
      case TagState::AfterAttrName:
        if (IsHtmlSpace(c)) return state;
        if (c == '/') return TagState::SelfClosing;
        if (c == '=') return TagState::BeforeValue;
        if (c == '>') return TagState::Closed;
        return TagState::AttrName;
      case TagState::BeforeValue:
        if (IsHtmlSpace(c)) return state;
        if (c == '"') return TagState::ValueDoubleQuoted;
        if (c == '\'') return TagState::ValueSingleQuoted;
        if (c == '>') return TagState::Closed;
        return TagState::ValueUnquoted;
      case TagState::ValueDoubleQuoted:
        return c == '"' ? TagState::AfterQuotedValue : state;
      case TagState::ValueSingleQuoted:
        return c == '\'' ? TagState::AfterQuotedValue : state;
      case TagState::ValueUnquoted:
        if (IsHtmlSpace(c)) return TagState::BeforeAttrName;
        if (c == '>') return TagState::Closed;
        return state;
      case TagState::AfterQuotedValue:
        if (IsHtmlSpace(c)) return TagState::BeforeAttrName;
        if (c == '/') return TagState::SelfClosing;
        if (c == '>') return TagState::Closed;
        state = TagState::BeforeAttrName;
        continue;
      case TagState::SelfClosing:
        if (c == '>') return TagState::Closed;
        state = TagState::BeforeAttrName;
        continue;
      case TagState::Closed:
        return state;
    }
  }
}

// The position of the first `c` in `bytes` from `from` on, or bytes.size(). Most runs searched
// here (a text between tags, an attribute value) are short, where a loop beats memchr.
inline std::size_t FindByte(std::string_view bytes, std::size_t from, char c) {
  if (from >= bytes.size()) return bytes.size();
  if (bytes.size() - from > 64) {
    const std::size_t at = bytes.find(c, from);
    return at == std::string_view::npos ? bytes.size() : at;
  }
  while (from < bytes.size() && bytes[from] != c) ++from;
  return from;
}

// Whether the byte `c` leaves `state` as it is where the state reads a run of bytes (a name or
// a value): such runs are passed over whole. False in every other state.
constexpr bool KeepsTagState(TagState state, char c) {
  switch (state) {
    case TagState::Name:
      return !IsHtmlSpace(c) && c != '/' && c != '>';
    case TagState::AttrName:
      return !IsHtmlSpace(c) && c != '/' && c != '>' && c != '=';
    case TagState::ValueUnquoted:
      return !IsHtmlSpace(c) && c != '>';
    case TagState::ValueDoubleQuoted:
      return c != '"';
    case TagState::ValueSingleQuoted:
      return c != '\'';
    default:
      return false;
  }
}

// An attribute of a tag as a browser reads it. Positions index the tag.
struct BrowserAttribute {
  std::size_t nameAt = 0;
  std::size_t nameEnd = 0;
  std::size_t valueAt = 0;
  std::size_t valueEnd = 0;
  char quote = 0;  // the quote of its value, 0 for an unquoted value
  bool hasValue = false;
  bool closed = false;  // the value ended inside the tag (a quoted one at its closing quote)
};

// A tag (from its '<') read by the HTML standard's rules, as a start tag: its attributes, and
// the state it leaves a browser in (Closed when its last byte is the '>' that ends it).
struct TagReading {
  std::vector<BrowserAttribute> attributes;
  TagState end = TagState::Name;
};
// Reads `tag` into `reading` (whose storage is reused).
void ReadTag(std::string_view tag, TagReading& reading);

class MarkupContext {
 public:
  // Where the next byte falls.
  enum class Place {
    Markup,       // text, a comment, or a tag outside any quoted value: tags there are rewritten
    QuotedValue,  // inside a quoted attribute value that a browser is still reading
    Style,        // the text of a style element
  };
  Place place() const { return state_ == State::Data ? Place::Markup : PlaceOutsideText(); }
  // Whether the bytes since the last '<' of a style or script element's text may still turn
  // out to be its end tag.
  bool MayEndElement() const { return state_ == State::RawTextLess || state_ == State::RawTextEnd; }

  // Follows the page through `bytes`, the next bytes of the page as it was.
  void Feed(std::string_view bytes) {
    // Most of a page is text, which goes on to the next '<'.
    if (state_ == State::Data && FindByte(bytes, 0, '<') == bytes.size()) return;
    FeedMarkup(bytes);
  }

  // Feed for a tag the tokenizer found (from its '<'). A start tag in the text is read into
  // `reading` as a browser reads it, unless it holds no quote and ends in '>' (nothing of it
  // can run on); true when `reading` holds the tag.
  bool FeedTag(std::string_view tag, TagReading& reading);

 private:
  enum class State {
    Data,
    TagOpen,     // after '<'
    EndTagOpen,  // after "</"
    InTag,       // in a start or end tag; tag_ says where
    MarkupOpen,  // after "<!"
    MarkupDash,  // after "<!-"
    CommentStart,
    CommentStartDash,
    Comment,
    CommentEndDash,
    CommentEnd,
    CommentEndBang,
    Bogus,        // a bogus comment or a doctype: to the next '>'
    RawText,      // the text of an element in rawName_, up to its end tag
    RawTextLess,  // after '<' in that text
    RawTextEnd,   // matching "</" and the element's name; matched_ says how far
    Plaintext,    // the rest of the page is text
  };

  Place PlaceOutsideText() const;
  void FeedMarkup(std::string_view bytes);
  // Handles `bytes` from `i` in state_; returns where it stopped (one byte or a run).
  std::size_t Step(std::string_view bytes, std::size_t i);
  std::size_t StepInTag(std::string_view bytes, std::size_t i);
  void EndTag();
  // The name of the start tag `tag`, kept when it may be one of ours.
  void KeepName(std::string_view tag);

  State state_ = State::Data;
  TagState tag_ = TagState::Name;
  bool endTag_ = false;
  // The tag's name in lower case, as far as it is kept (longer names match none of ours).
  std::array<char, 10> name_ = {};
  std::size_t nameLength_ = 0;
  std::string_view rawName_;  // a static name from the table of raw-text elements
  std::size_t matched_ = 0;
};

}  // namespace lumbra
