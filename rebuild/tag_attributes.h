// The attributes of a tag that the page rewriting looks at, found the way the rewriting has
// always found them: a name counts only right after a blank and with its '=' within three
// characters, whatever the tag is; the value runs to the next blank, '"' or '>'.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rebuild/link_resolver.h"

namespace lumbra {

// An attribute value takes at most this many characters; one of kValueTooLong characters or
// more is not rewritten.
inline constexpr std::size_t kValueTake = 256;
inline constexpr std::size_t kValueTooLong = 180;
// Once this many attribute occurrences are held, each further attribute name adds at most one.
inline constexpr std::size_t kOccurrenceLimit = 30;

// The attributes searched in every tag.
enum class Attr { Href, Hsef, Src, Srd, Background, Action, BaseHref, Language, Codebase, Code };

struct AttributeName {
  std::string_view name;  // lower case; "base href" holds its blank
  Attr kind;
  std::optional<LinkKind> link;  // how a link attribute's value is resolved
};

// One attribute found in a tag. Positions index the tag.
struct Occurrence {
  const AttributeName* attribute;
  std::size_t nameAt;
  std::size_t nameLength;
  std::size_t valueAt;
  std::size_t valueLength;
  std::string newValue;
  std::size_t valueEnd() const { return valueAt + valueLength; }
};

// The occurrences of every attribute name in `tag`, in the order of the attribute table
// (href, hsef, src, srd, background, action, base href, language, codebase, code), each name's
// in tag order; those with a value of kValueTooLong characters or more are held against the
// limit but not returned. An occurrence that starts inside an earlier one (the "href" of
// "base href", or a name inside another's value) is dropped, so no text is written twice.
std::vector<Occurrence> FindAttributes(const std::string& tag);

}  // namespace lumbra
