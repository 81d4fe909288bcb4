// Character references in a page's title ("&amp;", "&eacute;", "&#9731;", "&#x2603;"),
// decoded as a browser decodes them in a title.
//
// Named references: the 252 names of HTML 4 (its Latin-1, symbol and special sets; "lang" and
// "rang" as browsers read them today, U+27E8 and U+27E9), "apos", and the upper-case AMP,
// COPY, GT, LT, QUOT and REG. The Latin-1 names and amp, lt, gt and quot count without their
// ';' too, as browsers take them in old pages ("&copy 1997", "&notin" read as "&not" "in").
// Any other text after '&' stays as it is.
//
// Numeric references: all of them, decimal or hexadecimal, with or without ';'. 0, surrogates
// and values past U+10FFFF become U+FFFD; 0x80 to 0x9F the windows-1252 characters those
// bytes stand for (&#150; is an en dash), as in browsers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbra {

// `text` with its character references decoded.
std::u32string DecodeCharacterReferences(std::u32string_view text);

// Where a reference that may go on past the end of `text` begins: a '&' followed only by
// letters and digits, or by '#', an optional 'x' and digits, up to the end. npos when the text
// does not end in one. A text cut there would show a broken or different character; it is
// cut before it instead.
std::size_t OpenReferenceAt(std::string_view text);
std::size_t OpenReferenceAt(std::u32string_view text);

}  // namespace lumbra
