#include "index/title_text.h"

#include <string>

#include <gtest/gtest.h>

#include "index/title_code.h"
#include "platform/codepage.h"

namespace lumbra {
namespace {

using platform::ToCp932;

std::string Title(const std::string& title, const TitleCharset& charset, std::size_t max = 99) {
  return IndexTitle(title, charset, max);
}

std::string AsAlways(std::string title) {
  ConvertTitleCode(title);
  return title;
}

TEST(IndexTitleTest, APageThatDeclaresNothingIsReadAsUtf8AsJapaneseOrAsWindows1252) {
  const std::string euc = "\xC6\xFC\xCB\xDC\xB8\xEC\xA4\xCE\xA5\xDA\xA1\xBC\xA5\xB8";
  const std::string jis = "\x1B$BF|K\\8l\x1B(B page";
  const std::string sjis = ToCp932("日本語のページ");
  const std::string utf8 = "Ünïcødé ☃ 日本語";
  const struct {
    std::string title;
    bool utf8Page;
    const char* encoding;
    std::string want;
  } cases[] = {
      // Japanese titles and ASCII ones as they always were, references and blanks included.
      {euc, false, "euc-jp", ToCp932("日本語のページ")},
      {jis, false, "iso-2022-jp", ToCp932("日本語 page")},
      {sjis, false, "shift_jis", sjis},
      {"A  &amp;\tB &#233;", false, "windows-1252", "A  &amp;\tB &#233;"},
      {"A  &amp;\tB &#233;", true, "windows-1252", "A  &amp;\tB &#233;"},
      // A page valid as UTF-8 throughout.
      {utf8, true, "utf-8", "&#xDC;n&#xEF;c&#xF8;d&#xE9; &#x2603; " + ToCp932("日本語")},
      // Neither Japanese nor of a UTF-8 page: windows-1252.
      {"Caf\xE9 \x93Zo\xEB\x94", false, "windows-1252", "Caf&#xE9; \x81gZo&#xEB;\x81h"},
      {"\xC3\xA9\xE2\x98\x83", false, "windows-1252", "&#xC3;&#xA9;&#xE2;&#x2DC;&#x192;"},
  };
  for (const auto& c : cases) {
    TitleCharset charset;
    charset.utf8Page = c.utf8Page;
    EXPECT_EQ(TitleEncoding(c.title, charset), c.encoding) << c.title;
    EXPECT_EQ(Title(c.title, charset), c.want) << c.title;
  }
}

TEST(IndexTitleTest, ADecodedTitleShowsItsReferencesAndBlanksAsABrowserDoes) {
  const struct {
    const char* title;
    std::string want;
  } cases[] = {
      {"Tom &amp; Jerry", "Tom &amp; Jerry"},
      {"AT&T <b> \"q\"", "AT&amp;T &lt;b&gt; \"q\""},
      {"&lt;b&gt; &quot;q&quot; &apos;", "&lt;b&gt; \"q\" '"},
      {"&eacute;t&eacute; &Eacute;", "&#xE9;t&#xE9; &#xC9;"},
      {"&#x2603;&#X2603;&#9731;&#9731", "&#x2603;&#x2603;&#x2603;&#x2603;"},
      {"&#65;&#x42;&#150;&#128;", "AB&#x2013;&#x20AC;"},
      {"&#0;&#xD800;&#x110000;&#99999999999;", "&#xFFFD;&#xFFFD;&#xFFFD;&#xFFFD;"},
      {"&copy 1997 &notin; &notit; &ampx", "&#xA9; 1997 &#x2209; \x81\xCAit; &amp;x"},
      {"&alpha;&Alpha; &lang;&rang; &hellip", "\x83\xBF\x83\x9F &#x27E8;&#x27E9; &amp;hellip"},
      {"&bogus; &# &#x; & ;", "&amp;bogus; &amp;# &amp;#x; &amp; ;"},
      {"  two \r\n\t words  ", "two words"},
  };
  TitleCharset charset;
  charset.declared = "windows-1252";
  for (const auto& c : cases) EXPECT_EQ(Title(c.title, charset), c.want) << c.title;
}

// A title kept in its page's bytes is written as text: '<' and '>' escaped, and a '&' that
// begins no reference; a reference stays as the page wrote it. What the escapes add is cut at
// the limit, never inside an escape or a two-byte character.
TEST(IndexTitleTest, AKeptTitleIsWrittenAsText) {
  const std::string sjis = ToCp932("日本<語>");
  const std::string a95(95, 'a');
  const struct {
    std::string title;
    std::size_t max;
    std::string want;
  } cases[] = {
      {"<script>alert(3)</script>", 99, "&lt;script&gt;alert(3)&lt;/script&gt;"},
      {"Q & A", 99, "Q &amp; A"},
      {"Q&amp;A &copy 1997 &#169; &", 99, "Q&amp;A &copy 1997 &#169; &amp;"},
      {"\xC6\xFC<\xCB\xDC>", 99, ToCp932("日") + "&lt;" + ToCp932("本") + "&gt;"},  // EUC-JP
      {sjis, 99, ToCp932("日本") + "&lt;" + ToCp932("語") + "&gt;"},
      {a95 + "<b", 99, a95 + "&lt;"},
      {a95 + "a<b", 99, a95 + "a"},
      {a95 + "<" + ToCp932("日"), 99, a95 + "&lt;"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Title(c.title, TitleCharset{}, c.max), c.want) << c.title;
  }
}

TEST(IndexTitleTest, CutsNeverLeaveHalfACharacterOrABrokenReference) {
  const std::string a97(97, 'a');
  std::string jis = "\x1B$B";  // two-byte JIS, whose halves may be '&' and letters
  for (int k = 0; k < 50; ++k) jis += "\x30\x26";
  const struct {
    std::string title;
    const char* declared;
    bool cut;  // the page cut the title
    std::string want;
  } cases[] = {
      // Decoded: a unit that would pass 99 bytes is not begun.
      {a97 + "&amp;", "utf-8", false, a97},
      {a97 + "\xE6\x97\xA5", "utf-8", false, a97 + "\x93\xFA"},
      {a97 + "a\xE6\x97\xA5", "utf-8", false, a97 + "a"},
      // What the page's cut fell into is dropped; at the title's own end it counts.
      {"x &eac", "utf-8", true, "x"},
      {"x &#x26", "utf-8", true, "x"},
      {"x &", "utf-8", true, "x"},
      {"x &#x26", "utf-8", false, "x &amp;"},
      {"x \xE6\x97", "utf-8", true, "x"},
      {"x \xE6\x97", "utf-8", false, "x &#xFFFD;"},
      // An invalid pair at the end that the C library takes whole is one U+FFFD.
      {"x \xA2\xE8", "euc-kr", false, "x &#xFFFD;"},
      // Kept as always: cut at byte 99, but not inside a reference.
      {a97 + "&amp;", "", false, a97},
      {a97 + "&#38;", "", true, a97},
      {a97 + "ab&amp;", "", false, a97 + "ab"},
      {jis, "", false, AsAlways(jis.substr(0, 99))},
  };
  for (const auto& c : cases) {
    TitleCharset charset;
    charset.declared = c.declared;
    charset.cut = c.cut;
    EXPECT_EQ(Title(c.title, charset), c.want) << c.title;
  }
}

}  // namespace
}  // namespace lumbra
