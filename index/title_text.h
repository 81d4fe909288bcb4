// The titles of the index pages. A title comes from its page as bytes, with what tells how to
// read them (TitleCharset); the index pages are Shift-JIS (CP932) HTML, so a title is written
// in CP932 the way a browser showing its page would show it.
//
// Local rules:
// - The encoding: the one the page declares (byte order mark or <meta>, else its content
//   type). A page that declares nothing is read as UTF-8 when it is valid UTF-8 throughout
//   and its title is not ASCII, as browsers read a local file. Otherwise a title that is
//   Japanese (an escape byte of ISO-2022-JP, or bytes valid as EUC-JP or as Shift-JIS) and a
//   title in ASCII are kept as they always were: cut to the limit and given to
//   ConvertTitleCode. Any other title is windows-1252, as browsers in the West read it.
// - A decoded title has its character references decoded, its runs of blanks made one space
//   and its ends trimmed, as a browser shows a title. '&', '<' and '>' are written as &amp;,
//   &lt; and &gt;, a character CP932 lacks as a hexadecimal reference ("&#x2603;"), never as
//   '?' or dropped.
// - Cuts: a decoded title ends before the first character or reference that would pass the
//   limit, so no character is cut in half and no reference broken. A title the page cut
//   (TitleCharset::cut) loses a character and a reference that the cut fell into. A title
//   kept as it always was is cut at the limit byte as always, except that a reference the cut
//   falls into is dropped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/title_charset.h"

namespace lumbra {

// The encoding the index pages read `title` in (lower case): the declared one, "utf-8" for a
// page of UTF-8, the one ConvertTitleCode takes a Japanese title for ("euc-jp",
// "iso-2022-jp", "shift_jis"), else windows-1252 (kDefaultEncoding), the ASCII titles
// included.
std::string TitleEncoding(std::string_view title, const TitleCharset& charset);

// `title` (which ends at its first NUL byte) as the index pages show it: CP932 HTML text of
// at most `max` bytes.
std::string IndexTitle(std::string_view title, const TitleCharset& charset, std::size_t max);

}  // namespace lumbra
