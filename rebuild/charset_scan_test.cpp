#include "rebuild/charset_scan.h"

#include <string>

#include <gtest/gtest.h>

namespace lumbra {
namespace {

// The scan of `page`, fed whole or one byte at a time.
CharsetScan Scan(std::string_view page, bool byteByByte) {
  CharsetScan scan;
  if (byteByByte) {
    for (char c : page) scan.Feed(std::string_view(&c, 1));
  } else {
    scan.Feed(page);
  }
  scan.Finish();
  return scan;
}

TEST(CharsetScanTest, AByteOrderMarkDeclaresBeforeAnyTag) {
  using namespace std::string_literals;
  const struct {
    std::string page;
    const char* declared;
  } cases[] = {
      {"\xEF\xBB\xBF<meta charset=koi8-r>", "utf-8"},
      {"\xFF\xFE<\0m\0"s, "utf-16le"},
      {"\xFE\xFF\0<\0m"s, "utf-16be"},
      {"\xEF\xBB", ""},  // a page shorter than the mark
      {"\xEF\xBB<meta charset=koi8-r>", "koi8-r"},
      {"\xFF<meta charset=koi8-r>", "koi8-r"},
  };
  for (const auto& c : cases) {
    for (bool byteByByte : {false, true}) {
      EXPECT_EQ(Scan(c.page, byteByByte).declared(), c.declared) << c.page;
    }
  }
}

TEST(CharsetScanTest, TellsAPageOfValidUtf8FromAnyOther) {
  const struct {
    const char* page;
    bool utf8;
  } cases[] = {
      {"plain ASCII", true},        {"日本語 ☃ 𠀀 é", true},
      {"cut short \xE6\x97", true},  // a page that ends inside a character
      {"caf\xE9 au lait", false},   {"\x80", false},
      {"\xC0\xAF", false},          // overlong
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xF5\x80\x80\x80", false},  {"\xE6\x97\x41", false},
  };
  for (const auto& c : cases) {
    for (bool byteByByte : {false, true}) {
      EXPECT_EQ(Scan(c.page, byteByByte).utf8(), c.utf8) << c.page;
    }
  }
}

}  // namespace
}  // namespace lumbra
