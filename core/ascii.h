// ASCII text: letter case and byte searches. Host names, attribute names, extensions, schemes
// and the LogTree marker are compared in ASCII lower case; bytes outside A..Z (CP932, UTF-8)
// are never changed, so a name in any code page compares as the bytes it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbra {

inline constexpr std::size_t kFindNoCaseMax = 102400;  // longer texts never match

constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string LowerAscii(std::string_view text);

// Position of the first occurrence of `needle` (a lower-case literal) in `text` compared in
// ASCII lower case, or npos. A text longer than kFindNoCaseMax never matches.
std::size_t FindNoCase(std::string_view text, std::string_view needle);
inline bool ContainsNoCase(std::string_view text, std::string_view needle) {
  return FindNoCase(text, needle) != std::string_view::npos;
}
// Whether `text` begins with `lowerPrefix` (lower case) in any letter case.
bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix);
// Whether two texts are equal in ASCII lower case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Position of the first `a` or `b` in `text` from `from` on, or npos: find_first_of in one
// pass (the library's looks every character up in the set with a call of its own).
inline std::size_t FindEither(std::string_view text, char a, char b, std::size_t from = 0) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == a || text[i] == b) return i;
  }
  return std::string_view::npos;
}

}  // namespace lumbra
