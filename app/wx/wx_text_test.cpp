// What the windows show of the texts they are given: line breaks, and bytes that are not UTF-8.
#include "app/wx/wx_text.h"

#include <gtest/gtest.h>

namespace lumbra::gui {
namespace {

TEST(WxTextTest, MessagesBreakLinesAtEveryCrAndShowAnyBytes) {
  struct Case {
    std::string_view text;
    std::string_view shown;  // UTF-8
  };
  const Case cases[] = {
      {"ログ追加処理　終了\r\r件数", "ログ追加処理　終了\n\n件数"},
      {"a\r\nb\r", "a\nb\n"},  // CR LF is one break
      {"a\nb", "a\nb"},
      {"\x83\x8D\x83\x4F\r/log", "ログ\n/log"},  // CP932, as a path from another machine
      {"x\xFF", "x\xEF\xBF\xBD"},                // neither: a replacement character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageText(c.text).utf8_string(), c.shown) << c.text;
  }
}

}  // namespace
}  // namespace lumbra::gui
