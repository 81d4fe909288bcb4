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

// The state after the byte `c` in state `state` (Closed stays Closed).
TagState StepTag(TagState state, char c);

// Whether `c` is a blank between attributes (the standard's ASCII whitespace; a carriage return
// counts, since the browser reads it as a line feed).
constexpr bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

class MarkupContext {
 public:
  // Where the next byte falls.
  enum class Place {
    Markup,       // text, a comment, or a tag outside any quoted value: tags there are rewritten
    QuotedValue,  // inside a quoted attribute value that a browser is still reading
    Style,        // the text of a style element
  };
  Place place() const;

  // Follows the page through `bytes`, the next bytes of the page as it was.
  void Feed(std::string_view bytes);

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

  // Handles `bytes` from `i` in state_; returns where it stopped (one byte or a run).
  std::size_t Step(std::string_view bytes, std::size_t i);
  void EndTag();

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
