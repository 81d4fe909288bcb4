#include "index/title_text.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/encoding_label.h"
#include "index/character_references.h"
#include "index/title_code.h"
#include "platform/codepage.h"

namespace lumbra {
namespace {

constexpr char kEsc = 0x1B;

// How a title is read: decoded from its encoding, or kept as it always was.
struct Reading {
  std::string encoding;
  bool decoded;
};

unsigned char Byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Whether `title` is EUC-JP: ASCII, and pairs of 0xA1..0xFE, 0x8E with a half-width katakana
// 0xA1..0xDF, 0x8F with a JIS X 0212 pair. A character the end cuts short counts when the
// title was cut.
bool IsEucJp(std::string_view title, bool cut) {
  for (std::size_t i = 0; i < title.size();) {
    const unsigned char b = Byte(title, i);
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 2;
    unsigned char last = 0xFE;
    if (b == 0x8E) {
      last = 0xDF;
    } else if (b == 0x8F) {
      length = 3;
    } else if (b < 0xA1 || b == 0xFF) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= title.size()) return cut;
      if (Byte(title, i + k) < 0xA1 || Byte(title, i + k) > last) return false;
    }
    i += length;
  }
  return true;
}

// Whether `title` is Shift-JIS (CP932): ASCII, half-width katakana 0xA1..0xDF, and pairs of a
// lead byte 0x81..0x9F or 0xE0..0xFC and a second byte 0x40..0x7E or 0x80..0xFC.
bool IsShiftJis(std::string_view title, bool cut) {
  for (std::size_t i = 0; i < title.size();) {
    const unsigned char b = Byte(title, i);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) {
      ++i;
      continue;
    }
    if (!((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) return false;
    if (i + 1 >= title.size()) return cut;
    const unsigned char second = Byte(title, i + 1);
    if (second < 0x40 || second == 0x7F || second > 0xFC) return false;
    i += 2;
  }
  return true;
}

std::string_view TextOf(std::string_view title) { return title.substr(0, title.find('\0')); }

Reading ReadingOf(std::string_view title, const TitleCharset& charset) {
  if (!charset.declared.empty()) return {charset.declared, true};
  bool ascii = true;
  for (char c : title) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (!ascii && charset.utf8Page) return {"utf-8", true};
  const bool escape = title.find(kEsc) != std::string_view::npos;
  if (ascii || escape || IsEucJp(title, charset.cut) || IsShiftJis(title, charset.cut)) {
    switch (DetectTitleCode(title)) {
      case TitleCode::EucJp:
        return {"euc-jp", false};
      case TitleCode::Iso2022Jp:
        return {"iso-2022-jp", false};
      case TitleCode::Unchanged:
        return {ascii ? std::string(kDefaultEncoding) : "shift_jis", false};
    }
  }
  return {std::string(kDefaultEncoding), true};
}

bool IsBlank(char32_t c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

// Whether a '&' followed by `c` may begin a character reference.
bool BeginsReference(char c) {
  return c == '#' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The title as it always was: cut to `max` bytes, then converted by ConvertTitleCode.
std::string KeptTitle(std::string_view title, const TitleCharset& charset, std::size_t max) {
  std::string kept(title.substr(0, max));
  // A reference the cut falls into is dropped; in ISO-2022-JP, '&' and letters may be halves
  // of two-byte characters.
  if ((charset.cut || title.size() > max) && kept.find(kEsc) == std::string::npos) {
    kept.resize(std::min(kept.size(), OpenReferenceAt(kept)));
  }
  ConvertTitleCode(kept);
  if (kept.find(kEsc) != std::string::npos) return kept;  // unconverted ISO-2022-JP: no ASCII
  // Written as text ('<', '>', and a '&' that begins no reference, escaped; a reference stays
  // as the page had it): what the escapes add is cut at the limit, never inside a reference
  // or a two-byte character.
  std::string out;
  for (std::size_t i = 0; i < kept.size();) {
    const unsigned char b = Byte(kept, i);
    const std::size_t length =
        ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) && i + 1 < kept.size() ? 2 : 1;
    std::string unit = kept.substr(i, length);
    if (b == '<') {
      unit = "&lt;";
    } else if (b == '>') {
      unit = "&gt;";
    } else if (b == '&' && !(i + 1 < kept.size() && BeginsReference(kept[i + 1]))) {
      unit = "&amp;";
    }
    if (out.size() + unit.size() > max) break;
    out += unit;
    i += length;
  }
  return out;
}

// The title decoded from `encoding` and written in CP932 HTML; nullopt when the encoding is
// not one the system reads.
std::optional<std::string> DecodedTitle(std::string_view title, const std::string& encoding,
                                        bool cut, std::size_t max) {
  std::optional<std::u32string> text = platform::DecodeWebText(title, encoding, cut);
  if (!text) return std::nullopt;
  std::u32string_view whole(*text);
  if (cut) whole = whole.substr(0, OpenReferenceAt(whole));
  const std::u32string characters = DecodeCharacterReferences(whole);

  std::string out;
  platform::Cp932Encoder encoder;
  bool blank = false;
  std::string unit;
  for (char32_t c : characters) {
    if (IsBlank(c)) {
      blank = true;
      continue;
    }
    unit.clear();
    if (blank && !out.empty()) unit = " ";
    blank = false;
    if (c == '&') {
      unit += "&amp;";
    } else if (c == '<') {
      unit += "&lt;";
    } else if (c == '>') {
      unit += "&gt;";
    } else if (!encoder.Append(c, unit)) {
      char reference[16];
      std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(c));
      unit += reference;
    }
    if (out.size() + unit.size() > max) break;
    out += unit;
  }
  return out;
}

}  // namespace

std::string TitleEncoding(std::string_view title, const TitleCharset& charset) {
  return ReadingOf(TextOf(title), charset).encoding;
}

std::string IndexTitle(std::string_view title, const TitleCharset& charset, std::size_t max) {
  title = TextOf(title);
  const Reading reading = ReadingOf(title, charset);
  if (reading.decoded) {
    if (auto decoded = DecodedTitle(title, reading.encoding, charset.cut, max)) return *decoded;
  }
  return KeptTitle(title, charset, max);  // also when the C library cannot convert
}

}  // namespace lumbra
