// The names of character encodings as pages and caches give them. A page, a <meta> tag or a
// content type names its encoding by a label ("latin1", "x-sjis", "UTF8"); browsers take each
// label for one of a small set of encodings, and so does the system, so that a title is read
// the way a browser reads the page. Encodings are named in lower case ("windows-1252",
// "shift_jis", "utf-8").
#pragma once

#include <string>
#include <string_view>

namespace lumbra {

// What a browser reads a page in when nothing declares its encoding (in the West; Japanese
// titles are recognised by their bytes before this default applies).
inline constexpr std::string_view kDefaultEncoding = "windows-1252";

// The encoding a label names, blanks around it ignored and compared in any letter case; empty
// when the label names none. "iso-8859-1" and "ascii" name windows-1252 and "utf-16" names
// utf-16le, as in browsers.
std::string EncodingForLabel(std::string_view label);

}  // namespace lumbra
