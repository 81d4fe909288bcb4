#include "core/log_tree.h"

#include <gtest/gtest.h>

namespace lumbra {
namespace {

TEST(HostDirOfTest, TakesTheComponentAfterTheTreeRoot) {
  EXPECT_EQ(HostDirOf("/save/log/host/dir/"), "/save/log/host");
  EXPECT_EQ(HostDirOf("/save/LOG/host/"), "/save/LOG/host");
  EXPECT_EQ(HostDirOf("/save/log/"), "/save/log");
  EXPECT_EQ(HostDirOf("/elsewhere/dir/"), "/elsewhere/dir");
}

TEST(TreeRelativePartTest, KeepsTheHostOfPathsWithLogInThem) {
  EXPECT_EQ(TreeRelativePart("/s/log/host/blog/x.html", "/s/log"), "host/blog/x.html");
  EXPECT_EQ(TreeRelativePart("/s/log/host/../x", "/s/log"), "host/../x");
  // Outside the given root the "log/" markers decide.
  EXPECT_EQ(TreeRelativePart("/t/log/host/x", "/s/log"), "host/x");
  EXPECT_EQ(TreeRelativePart("/t/blog/u/log/host/x", "/s/log"), "host/x");
  EXPECT_EQ(TreeRelativePart("/no/marker", "/s/log"), "/no/marker");
}

TEST(HostOfLogPathTest, TakesTheDirectoryAfterTheFirstLogMarker) {
  EXPECT_EQ(HostOfLogPath("/save/alog/www.example/dir/sub"), "www.example");
  EXPECT_EQ(HostOfLogPath("D:\\save\\LOG\\host-8080"), "host-8080");
  EXPECT_EQ(HostOfLogPath("/save/alog"), std::nullopt);
  EXPECT_EQ(HostOfLogPath("/save/log/"), "");
}

}  // namespace
}  // namespace lumbra
