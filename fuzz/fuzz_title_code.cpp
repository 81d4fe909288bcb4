// Titles come from any page on the web: the conversion must survive every byte string, never
// make a title longer, and never let a title break the markup of the index pages. The first
// input byte picks how the title is read; the rest is the title.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "index/index_record.h"
#include "index/title_code.h"
#include "index/title_text.h"

namespace {

constexpr const char* kEncodings[] = {"",       "utf-8",       "windows-1252",   "shift_jis",
                                      "euc-jp", "iso-2022-jp", "big5",           "gb18030",
                                      "euc-kr", "utf-16le",    "x-user-defined", "replacement",
                                      "koi8-u", "iso-8859-8-i"};

// Whether every '&' of `text` begins one of the references a decoded title is written with,
// and no '<' or '>' is left bare.
bool IsSafeMarkup(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<' || text[i] == '>') return false;
    if (text[i] != '&') continue;
    std::string_view rest = text.substr(i);
    if (rest.starts_with("&amp;") || rest.starts_with("&lt;") || rest.starts_with("&gt;")) continue;
    if (!rest.starts_with("&#x")) return false;
    std::size_t k = 3;
    while (k < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[k]))) ++k;
    if (k == 3 || k >= rest.size() || rest[k] != ';') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string title = input;
  lumbra::ConvertTitleCode(title);
  if (title.size() > input.size()) std::abort();
  // A title is read up to its first NUL; a longer one than the limit stays as it is.
  if (input.find('\0') == std::string::npos && input.size() > lumbra::kTitleCodeMax &&
      title != input) {
    std::abort();
  }

  lumbra::IndexRecordTable table;
  lumbra::AddIndexRecord(table, "", input, input);
  if (table.size() != 1 || table[0].title.size() > lumbra::kIndexTitleMax ||
      table[0].path.size() > lumbra::kIndexPathMax) {
    std::abort();
  }

  if (size == 0) return 0;
  const std::uint8_t how = data[0];
  lumbra::TitleCharset charset;
  charset.declared = kEncodings[(how >> 2) % std::size(kEncodings)];
  charset.cut = (how & 1) != 0;
  charset.utf8Page = (how & 2) != 0;
  const std::string_view rest = std::string_view(input).substr(1);
  const std::string shown = lumbra::IndexTitle(rest, charset, lumbra::kIndexTitleMax);
  if (shown.size() > lumbra::kIndexTitleMax) std::abort();
  if (!charset.declared.empty() && !IsSafeMarkup(shown)) std::abort();
  return 0;
}
