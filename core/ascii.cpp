#include "core/ascii.h"

#include <algorithm>
#include <cstring>

namespace lumbra {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

std::size_t FindNoCase(std::string_view text, std::string_view needle) {
  constexpr std::size_t npos = std::string_view::npos;
  if (text.size() > kFindNoCaseMax || needle.size() > text.size()) return npos;
  if (needle.empty()) return 0;
  // The first character is looked for in each of its cases with memchr, which is fast on the
  // long paths and links this is mostly given; each case's next place is kept until passed.
  const char cases[2] = {needle[0], static_cast<char>(needle[0] - 'a' + 'A')};
  const int caseCount = (needle[0] >= 'a' && needle[0] <= 'z') ? 2 : 1;
  const std::size_t end = text.size() - needle.size() + 1;  // the last start, plus one
  std::size_t next[2] = {0, 0};
  bool stale[2] = {true, true};
  for (std::size_t i = 0; i < end;) {
    std::size_t at = npos;
    for (int c = 0; c < caseCount; ++c) {
      if (stale[c] && next[c] != npos) {
        const void* found = std::memchr(text.data() + i, cases[c], end - i);
        next[c] = found == nullptr
                      ? npos
                      : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        stale[c] = false;
      }
      at = std::min(at, next[c]);
    }
    if (at == npos) break;
    std::size_t k = 1;
    while (k < needle.size() && LowerAscii(text[at + k]) == needle[k]) ++k;
    if (k == needle.size()) return at;
    i = at + 1;
    for (int c = 0; c < caseCount; ++c) stale[c] = next[c] != npos && next[c] < i;
  }
  return npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (LowerAscii(text[i]) != lowerPrefix[i]) return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace lumbra
