#include "core/ascii.h"

#include <gtest/gtest.h>

namespace lumbra {
namespace {

TEST(FindNoCaseTest, FindsTheLowerCaseNeedleInAnyCase) {
  EXPECT_EQ(FindNoCase("D:/SAVE/LOG/host", "log/"), 8u);
  EXPECT_EQ(FindNoCase("abc", "abc"), 0u);
  EXPECT_EQ(FindNoCase("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(FindNoCase("", "x"), std::string_view::npos);
  std::string huge(kFindNoCaseMax + 1, 'a');
  EXPECT_EQ(FindNoCase(huge, "a"), std::string_view::npos);
  EXPECT_EQ(FindNoCase(huge.substr(1), "a"), 0u);
}

}  // namespace
}  // namespace lumbra
