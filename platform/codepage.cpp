#include "platform/codepage.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <iconv.h>

namespace lumbra::platform {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// A converter from `from` to `to`, in its initial state; kNoConverter when the C library has
// none. Converters stay open for the thread's life: opening one costs more than converting the
// short texts (titles, log lines) they are used for.
iconv_t ThreadConverter(const char* to, const char* from) {
  struct Open {
    const char* to;
    const char* from;
    iconv_t cd;
  };
  struct Held {
    ~Held() {
      for (const Open& open : converters) {
        if (open.cd != kNoConverter) ::iconv_close(open.cd);
      }
    }
    std::vector<Open> converters;
  };
  thread_local Held held;
  for (const Open& open : held.converters) {
    if (std::strcmp(open.to, to) == 0 && std::strcmp(open.from, from) == 0) {
      if (open.cd != kNoConverter) ::iconv(open.cd, nullptr, nullptr, nullptr, nullptr);
      return open.cd;
    }
  }
  held.converters.push_back({to, from, ::iconv_open(to, from)});
  return held.converters.back().cd;
}

// Converts with glibc iconv; an unconvertible or invalid sequence is replaced by
// `replacement` and skipped by one byte of input.
std::string Convert(const char* to, const char* from, std::string_view in,
                    std::string_view replacement) {
  iconv_t cd = ThreadConverter(to, from);
  if (cd == kNoConverter) return std::string(in);
  std::string out;
  out.reserve(in.size() * 2);
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t r = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.append(replacement);
      std::size_t skip = 1;
      // Skip a whole UTF-8 sequence when the input is UTF-8.
      if (from[0] == 'U') {
        unsigned char lead = static_cast<unsigned char>(*inPtr);
        skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (skip > inLeft) skip = inLeft;
      }
      inPtr += skip;
      inLeft -= skip;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// The C library's names of the encodings browsers know (x-user-defined and replacement are
// decoded by hand). Browsers read gbk with the gb18030 decoder, big5 with the Hong Kong
// additions, euc-kr as Windows code page 949, and shift_jis and euc-jp with Windows'
// extensions, so the C library's variants that have them are taken.
struct WebEncoding {
  std::string_view name;
  const char* iconvName;
};
constexpr WebEncoding kWebEncodings[] = {
    {"utf-8", "UTF-8"},
    {"ibm866", "IBM866"},
    {"iso-8859-2", "ISO-8859-2"},
    {"iso-8859-3", "ISO-8859-3"},
    {"iso-8859-4", "ISO-8859-4"},
    {"iso-8859-5", "ISO-8859-5"},
    {"iso-8859-6", "ISO-8859-6"},
    {"iso-8859-7", "ISO-8859-7"},
    {"iso-8859-8", "ISO-8859-8"},
    {"iso-8859-8-i", "ISO-8859-8"},
    {"iso-8859-10", "ISO-8859-10"},
    {"iso-8859-13", "ISO-8859-13"},
    {"iso-8859-14", "ISO-8859-14"},
    {"iso-8859-15", "ISO-8859-15"},
    {"iso-8859-16", "ISO-8859-16"},
    {"koi8-r", "KOI8-R"},
    {"koi8-u", "KOI8-RU"},
    {"macintosh", "MACINTOSH"},
    {"windows-874", "CP874"},
    {"windows-1250", "CP1250"},
    {"windows-1251", "CP1251"},
    {"windows-1252", "CP1252"},
    {"windows-1253", "CP1253"},
    {"windows-1254", "CP1254"},
    {"windows-1255", "CP1255"},
    {"windows-1256", "CP1256"},
    {"windows-1257", "CP1257"},
    {"windows-1258", "CP1258"},
    {"x-mac-cyrillic", "MAC-CYRILLIC"},
    {"gbk", "GB18030"},
    {"gb18030", "GB18030"},
    {"big5", "BIG5-HKSCS"},
    {"euc-jp", "EUC-JP-MS"},
    {"iso-2022-jp", "ISO-2022-JP"},
    {"shift_jis", "CP932"},
    {"euc-kr", "CP949"},
    {"utf-16be", "UTF-16BE"},
    {"utf-16le", "UTF-16LE"},
};

constexpr char32_t kReplacement = 0xFFFD;

char32_t ReadLeU32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<char32_t>(b[0]) | static_cast<char32_t>(b[1]) << 8 |
         static_cast<char32_t>(b[2]) << 16 | static_cast<char32_t>(b[3]) << 24;
}

// The bytes an invalid sequence at `at` spans: for UTF-8 its lead and the continuation bytes
// that follow it (one U+FFFD for the whole), otherwise one unit.
std::size_t InvalidSpan(std::string_view encoding, const char* at, std::size_t left) {
  if (encoding == "utf-16be" || encoding == "utf-16le") return left < 2 ? left : 2;
  if (encoding != "utf-8") return 1;
  const auto lead = static_cast<unsigned char>(*at);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  std::size_t span = 1;
  while (span < length && span < left && (static_cast<unsigned char>(at[span]) & 0xC0) == 0x80) {
    ++span;
  }
  return span;
}

// Appends what iconv wrote into `buffer` up to `end` as code points.
void TakeCodePoints(const char* buffer, const char* end, std::u32string& out) {
  for (const char* p = buffer; p + 4 <= end; p += 4) out.push_back(ReadLeU32(p));
}

}  // namespace

std::optional<std::u32string> DecodeWebText(std::string_view bytes, std::string_view encoding,
                                            bool endIsCut) {
  std::u32string out;
  if (encoding == "replacement") {
    if (!bytes.empty()) out.push_back(kReplacement);  // the whole text is one error
    return out;
  }
  if (encoding == "x-user-defined") {
    for (char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      out.push_back(b < 0x80 ? b : 0xF780 + b - 0x80);
    }
    return out;
  }
  const WebEncoding* known = nullptr;
  for (const WebEncoding& e : kWebEncodings) {
    if (e.name == encoding) known = &e;
  }
  if (known == nullptr) return std::nullopt;
  iconv_t cd = ThreadConverter("UTF-32LE", known->iconvName);
  if (cd == kNoConverter) return std::nullopt;
  char* inPtr = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t r = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    TakeCodePoints(buffer, outPtr, out);
    if (r != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    if (error == EINVAL) {  // an incomplete sequence ends the text
      if (!endIsCut) out.push_back(kReplacement);
      break;
    }
    out.push_back(kReplacement);
    if (inLeft == 0) break;  // the converter took the invalid bytes itself (CP949 does)
    const std::size_t skip = InvalidSpan(encoding, inPtr, inLeft);
    inPtr += skip;
    inLeft -= skip;
  }
  // A character the converter still holds (big5's pairs of code points) comes out now.
  char* outPtr = buffer;
  std::size_t outLeft = sizeof buffer;
  ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  TakeCodePoints(buffer, outPtr, out);
  return out;
}

Cp932Encoder::Cp932Encoder() : cd_(ThreadConverter("CP932", "UTF-32LE")) {}

bool Cp932Encoder::Append(char32_t c, std::string& out) {
  if (cd_ == kNoConverter) return false;
  char in[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF),
                static_cast<char>((c >> 16) & 0xFF), static_cast<char>((c >> 24) & 0xFF)};
  char bytes[8];
  char* inPtr = in;
  std::size_t inLeft = sizeof in;
  char* outPtr = bytes;
  std::size_t outLeft = sizeof bytes;
  const std::size_t r = ::iconv(static_cast<iconv_t>(cd_), &inPtr, &inLeft, &outPtr, &outLeft);
  if (r == static_cast<std::size_t>(-1) || inLeft != 0) {
    ::iconv(static_cast<iconv_t>(cd_), nullptr, nullptr, nullptr, nullptr);
    return false;
  }
  out.append(bytes, static_cast<std::size_t>(outPtr - bytes));
  return true;
}

std::string ToCp932(std::string_view utf8) { return Convert("CP932", "UTF-8", utf8, "?"); }

std::string Cp932ToUtf8(std::string_view cp932) {
  return Convert("UTF-8", "CP932", cp932, "\xEF\xBF\xBD");
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t len;
    if (c < 0x80) {
      len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
    } else {
      return false;
    }
    if (i + len > bytes.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

std::string ToDisplayText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp932ToUtf8(bytes);
}

}  // namespace lumbra::platform
