// What a page says about its own encoding, found from its bytes as a browser finds it: a byte
// order mark, else the first <meta charset=...> or <meta http-equiv="Content-Type"
// content="...; charset=..."> that the HTML standard's prescan meets. A browser prescans the
// first 1,024 bytes and, meeting a declaration later, reads the page again in it, so the scan
// goes on through the whole page until it finds one. Beside it the scan checks whether the
// page is valid UTF-8 throughout.
//
// Local rules of the prescan:
// - Comments "<!--" to "-->" are passed over ("<!-->" and "<!--->" end at once); "<!", "</"
//   and "<?" not followed by a letter pass over everything up to the next '>'; "<name" and
//   "</name" pass over their attributes, whose quoted values may hold '>'.
// - "<meta" followed by a blank or '/' reads its attributes; of each name only the first
//   counts. charset=LABEL declares; so does http-equiv=content-type together with a content
//   attribute holding "charset=LABEL". A label that names no encoding declares nothing.
// - A page that declares utf-16 in a tag is ASCII-compatible, or the tag could not have been
//   read: it is taken for utf-8, as is x-user-defined for windows-1252.
// - The scan can stop at any byte: the page may be fed in pieces of any size. It holds only
//   the few bytes after a '<' and the attribute values of a <meta> tag, each cut at
//   kMetaValueMax bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumbra {

inline constexpr std::size_t kMetaValueMax = 1024;  // a longer attribute value is cut here

class CharsetScan {
 public:
  // The next bytes of the page.
  void Feed(std::string_view bytes);
  // The end of the page (a page shorter than a byte order mark is decided here).
  void Finish();

  // The encoding the page declares (lower case, see EncodingForLabel); empty when none.
  const std::string& declared() const { return declared_; }
  // Whether every byte so far is valid UTF-8; a page that ends inside a character (a cut
  // download) still counts.
  bool utf8() const { return utf8_; }

 private:
  enum class State {
    Bom,            // the first bytes, until they are known to be a byte order mark or not
    Data,           // between markup, looking for '<'
    Open,           // after '<': the bytes in open_ decide what follows
    Comment,        // inside "<!--", looking for "-->"
    Bogus,          // inside "<!", "</" or "<?", looking for '>'
    TagName,        // inside the name of a tag
    BeforeName,     // before an attribute name, or the end of the tag
    Name,           // inside an attribute name
    AfterName,      // blanks after a name: '=' or the next attribute follows
    BeforeValue,    // after '='
    QuotedValue,    // inside a value in quote_
    UnquotedValue,  // inside a value without quotes
    Found,          // the page has declared its encoding: the prescan is over
  };
  enum class Pragma { Unset, Needed, NotNeeded };

  void Step(char c);
  void Replay(std::string_view bytes);
  void StartTag(bool meta);
  void AppendName(char c);
  void AppendValue(char c);
  void EndAttribute();
  void EndTag();
  void CheckUtf8(std::string_view bytes);

  State state_ = State::Bom;
  std::string open_;  // the bytes after '<' (or the first bytes, while a BOM may begin)
  int dashes_ = 0;    // '-' right before the current byte in a comment (at most 2)
  char quote_ = 0;
  // The <meta> tag being read.
  bool meta_ = false;
  std::string name_;
  bool nameLong_ = false;  // the name is longer than any that counts
  std::string value_;
  bool keepValue_ = false;  // the value belongs to an attribute that counts
  bool seenHttpEquiv_ = false, seenContent_ = false, seenCharset_ = false;
  bool gotPragma_ = false;
  Pragma pragma_ = Pragma::Unset;
  std::optional<std::string> charset_;  // unset, or the encoding (empty: a label of none)

  std::string declared_;
  // UTF-8 check: continuation bytes still expected and the range of the next one.
  bool utf8_ = true;
  int need_ = 0;
  unsigned char lo_ = 0x80, hi_ = 0xBF;
};

}  // namespace lumbra
