#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace lumbra::platform {
namespace {

TEST(CodepageTest, OwnTextsBecomeCp932) {
  EXPECT_EQ(ToCp932("ログ追加　ok"), "\x83\x8d\x83\x4f\x92\xc7\x89\xc1\x81\x40ok");
  EXPECT_EQ(ToCp932("ＡＢ:新規"), "\x82\x60\x82\x61:\x90\x56\x8b\x4b");
  EXPECT_EQ(ToCp932("plain ascii\r\n"), "plain ascii\r\n");
}

TEST(CodepageTest, RoundTripsAndReplacesWhatCannotBeHeld) {
  EXPECT_EQ(Cp932ToUtf8(ToCp932("キャッシュ　パスが存在しません")),
            "キャッシュ　パスが存在しません");
  EXPECT_EQ(ToCp932("a\xF0\x9F\x98\x80"
                    "b"),
            "a?b");  // an emoji has no CP932 form
  EXPECT_EQ(Cp932ToUtf8("a\x81"), "a\xEF\xBF\xBD");
}

TEST(CodepageTest, DisplayTextKeepsUtf8AndDecodesCp932) {
  EXPECT_TRUE(IsValidUtf8("日本"));
  EXPECT_FALSE(IsValidUtf8("\x93\xfa\x96\x7b"));
  EXPECT_FALSE(IsValidUtf8("\xE6\x97"));  // cut sequence
  EXPECT_EQ(ToDisplayText("日本"), "日本");
  EXPECT_EQ(ToDisplayText("\x93\xfa\x96\x7b"), "日本");
}

}  // namespace
}  // namespace lumbra::platform
