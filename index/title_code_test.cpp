#include "index/title_code.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "testing/iconv.h"

namespace lumbra {
namespace {

using testing::Iconv;

std::string Converted(std::string title) {
  ConvertTitleCode(title);
  return title;
}

TEST(ConvertTitleCodeTest, JapaneseTitlesBecomeShiftJis) {
  // EUC-JP, also with ASCII words that enough two-byte characters outweigh, and ISO-2022-JP,
  // which loses its escapes.
  for (auto [code, utf8] : {std::pair{"EUC-JP", "日本語のページ：ようこそ"},
                            std::pair{"EUC-JP", "Web 日本語のページです"},
                            std::pair{"ISO-2022-JP", "日本語のページ index"}}) {
    const std::string in = Iconv("UTF-8", code, utf8);
    ASSERT_FALSE(in.empty()) << code;
    EXPECT_EQ(Converted(in), platform::ToCp932(utf8)) << utf8;
  }
}

TEST(ConvertTitleCodeTest, ByteForByte) {
  const std::string lowLeads = platform::ToCp932("日本語のページ");  // leads 0x81..0x9F
  ASSERT_FALSE(lowLeads.empty());
  const struct {
    std::string in;
    std::string out;
    const char* why;
  } cases[] = {
      {"\x1b$B\x24\x22\x1b(Bab", "\x82\xA0\x61\x62", "ESC $ B, the JIS pair of あ, ESC ( B, ab"},
      {"\xB1\xB2\xB3\xB4", "\x89\x51\x8A\x53", "half-width katakana pair up as EUC leads"},
      {"\xE0\x40\xE0\x41", "\xE0\xBE\xE0\xBF", "Shift-JIS leads of 0xE0 and above look like EUC"},
      {"\xA4\xA2\xA4", "\x82\xA0\xA4", "the NUL pairs with a lone last byte, which passes"},
      {"\x1b(Bab", "\xE1\x82", "every escape toggles: ESC ( B enters two-byte mode"},
      {"ab\x1b", "ab", "an escape at the end skips past the end, reading nothing beyond it"},
      {"ab\x1b$", "ab", "a cut escape at the end"},
      {"\x1b$B\x24", "\xA4\x80", "two-byte mode left open: the NUL (as 0x80) completes the pair"},
      // Titles that are not converted stay as they are.
      {"Plain English title - 100%", "Plain English title - 100%", "ascii"},
      {lowLeads, lowLeads, "shift-jis with low lead bytes"},
      {"", "", "empty"},
      {"\xA4", "\xA4", "one byte"},
      {"\xA4\xA2", "\xA4\xA2", "two bytes"},
      {std::string(258, '\xA4'), std::string(258, '\xA4'), "over 256 bytes"},
  };
  for (const auto& c : cases) EXPECT_EQ(Converted(c.in), c.out) << c.why;
}

TEST(ConvertTitleCodeTest, ExactlyTheLimitIsStillConverted) {
  std::string euc;
  for (int k = 0; k < 128; ++k) euc += "\xA4\xA2";
  ASSERT_EQ(euc.size(), kTitleCodeMax);
  std::string sjis;
  for (int k = 0; k < 128; ++k) sjis += "\x82\xA0";
  EXPECT_EQ(Converted(euc), sjis);
  EXPECT_EQ(Converted(euc + "\xA4"), euc + "\xA4");  // 257 bytes
}

TEST(ConvertJisPairTest, ArithmeticAtTheRowAndCellBoundaries) {
  const struct {
    unsigned char lead, second, wantLead, wantSecond;
  } cases[] = {
      {0x24, 0x22, 0x82, 0xA0},  // あ
      {0xA4, 0xA2, 0x82, 0xA0},  // the same pair with top bits
      {0x21, 0x21, 0x81, 0x40},  // ideographic space
      {0x21, 0x5F, 0x81, 0x7E},  // odd row, last cell below 0x60
      {0x21, 0x60, 0x81, 0x80},  // odd row, first cell from 0x60
      {0x22, 0x21, 0x81, 0x9F},  // even row
      {0x5E, 0x7E, 0x9F, 0xFC},  // last row of the first lead range
      {0x5F, 0x21, 0xE0, 0x40},  // first row of the second lead range
      {0x20, 0x20, 0x80, 0x9E},  // the lower edge still counts
      {0x7F, 0x21, 0x7F, 0x21},  // row out of range: unchanged
      {0xA4, 0x1F, 0xA4, 0x1F},  // cell out of range: unchanged
      {0xA4, 0x00, 0xA4, 0x00},
  };
  for (const auto& c : cases) {
    unsigned char lead = c.lead, second = c.second;
    ConvertJisPair(lead, second);
    EXPECT_EQ(lead, c.wantLead) << std::hex << int(c.lead) << " " << int(c.second);
    EXPECT_EQ(second, c.wantSecond) << std::hex << int(c.lead) << " " << int(c.second);
  }
}

TEST(ConvertJisPairTest, AgreesWithIconvOnEveryJisX0208Character) {
  int compared = 0;
  for (int r = 0xA1; r <= 0xFE; ++r) {
    for (int c = 0xA1; c <= 0xFE; ++c) {
      const std::string euc{static_cast<char>(r), static_cast<char>(c)};
      const std::string sjis = Iconv("EUC-JP", "SHIFT_JIS", euc);
      if (sjis.size() != 2) continue;  // not a JIS X 0208 character
      unsigned char lead = static_cast<unsigned char>(r), second = static_cast<unsigned char>(c);
      ConvertJisPair(lead, second);
      ASSERT_EQ(std::string({static_cast<char>(lead), static_cast<char>(second)}), sjis)
          << std::hex << r << " " << c;
      ++compared;
    }
  }
  EXPECT_GT(compared, 6000);
}

}  // namespace
}  // namespace lumbra
