// The attributes of a tag that the page rewriting looks at. A name counts only right after a
// blank and with its '=' within three characters, whatever the tag is, as the rewriting has
// always found them. The value of a name of the 1990s (href, src, ...) runs from after the '='
// and any blanks and '"' to the next blank, '"' or '>'; the names of today's pages (srcset,
// poster, style) take their whole value, as a browser reads it.
//
// Each value is also placed where a browser reads it (the tag read by the HTML standard's
// rules), so that what is written there cannot change the markup around it: a value in
// single quotes is the text between them, a value that stands in quotes is written back in
// the same quotes, and a value a browser reads as part of an attribute name, or whose
// single quotes are not closed in the tag, is left alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rebuild/link_resolver.h"
#include "rebuild/markup_context.h"

namespace lumbra {

// An attribute value takes at most this many characters; one of kValueTooLong characters or
// more is not rewritten (names of the 1990s only). A link of up to 8,192 bytes, the longest
// URL a cache entry keeps, is rewritten.
inline constexpr std::size_t kValueTake = 8193;
inline constexpr std::size_t kValueTooLong = 8193;
// Once this many attribute occurrences are held, each further attribute name adds at most one.
inline constexpr std::size_t kOccurrenceLimit = 30;

// The attributes searched in every tag.
enum class Attr {
  Href,
  Hsef,
  Src,
  Srd,
  Background,
  Action,
  BaseHref,
  Language,
  Codebase,
  Code,
  Srcset,  // srcset and imagesrcset: a list of image candidates
  Poster,
  Style,  // a style sheet's declarations
};

struct AttributeName {
  std::string_view name;  // lower case; "base href" holds its blank
  Attr kind;
  std::optional<LinkKind> link;  // how a link attribute's value is resolved
  bool today = false;            // read as a browser reads it (see above)
};

// One attribute found in a tag. Positions index the tag.
struct Occurrence {
  const AttributeName* attribute;
  std::size_t nameAt;
  std::size_t nameLength;
  std::size_t valueAt;
  std::size_t valueLength;
  // The quote the value stands in for a browser ('"' or '\''), or 0 where it stands unquoted.
  char quote = 0;
  std::string newValue;
  std::size_t valueEnd() const { return valueAt + valueLength; }
};

// The occurrences of every attribute name in `tag`, in the order of the attribute table
// (href, hsef, src, srd, background, action, base href, language, codebase, code, srcset,
// imagesrcset, poster, style), each name's in tag order; those with a value of kValueTooLong
// characters or more, and those left alone (see above), are held against the limit but not
// returned. An occurrence that starts inside an earlier one (the "href" of "base href", or a
// name inside another's value) is dropped, so no text is written twice. `read` is the tag as
// ReadTag read it, when the caller has read it already.
std::vector<Occurrence> FindAttributes(const std::string& tag, const TagReading* read = nullptr);

}  // namespace lumbra
