// What Lumbra writes into its own pages from outside: cached web addresses, file paths, host
// names and titles. A page would otherwise take a '"' of an address for the end of its
// attribute, or a '<' of a title for a tag. The texts are CP932 (or ASCII): '"', '&', '<' and
// '>' are never the second byte of a two-byte character there, so they are replaced byte-wise.
#pragma once

#include <string>
#include <string_view>

namespace lumbra {

// An address for a double-quoted attribute (HREF="..."): '"', '<' and '>' as %22, %3C and %3E,
// '&' as &amp;.
std::string AttributeUrl(std::string_view url);

// A text for the body of a page: '&', '<' and '>' as &amp;, &lt; and &gt;.
std::string HtmlText(std::string_view text);

}  // namespace lumbra
