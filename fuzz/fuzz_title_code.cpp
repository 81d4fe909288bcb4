// Titles come from any page on the web: the conversion must survive every byte string, never
// make a title longer, and never let a title break the markup of the index pages. The first
// input byte picks how the title is read; the rest is the title.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <iconv.h>

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

// glibc's iconv loads an encoding's module at iconv_open and unloads it at the last
// iconv_close, so that every title converted alone costs a dlopen and a dlclose, many times the
// conversion. One converter held open for each encoding this target picks (the iconv names
// the web encodings are read with, to UTF-32LE, and the code page both ways) keeps them loaded;
// they are closed at exit, before the leak check.
struct HeldConverters {
  std::vector<iconv_t> held;
  ~HeldConverters() {
    for (iconv_t cd : held) {
      if (cd != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static HeldConverters converters;
  for (const char* name : {"UTF-8", "CP1252", "CP932", "EUC-JP-MS", "ISO-2022-JP", "BIG5-HKSCS",
                           "GB18030", "CP949", "UTF-16LE", "KOI8-RU", "ISO-8859-8"}) {
    converters.held.push_back(::iconv_open("UTF-32LE", name));
  }
  converters.held.push_back(::iconv_open("CP932", "UTF-32LE"));
  converters.held.push_back(::iconv_open("CP932", "UTF-8"));
  converters.held.push_back(::iconv_open("UTF-8", "CP932"));
  return 0;
}

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
