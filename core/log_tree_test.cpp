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

TEST(ShortNamesTest, AComponentTooLongForAFileNameGetsAStableShortName) {
  const std::string query(300, 'q');
  const std::string name = "page-" + query + ".html";
  const std::string shortName = ShortNames("/s/log/host/" + name).substr(12);
  EXPECT_EQ(shortName.size(), kNameMax);
  EXPECT_EQ(shortName.substr(0, 10), "page-qqqqq");
  EXPECT_EQ(shortName.substr(kNameMax - 22), "~" + shortName.substr(kNameMax - 21, 16) + ".html");
  // The same component always gets the same name, another component another.
  EXPECT_EQ(ShortNames("/t/" + name + "/x"), "/t/" + shortName + "/x");
  EXPECT_NE(ShortNames("page-" + query + "r.html"), shortName);
  // Paths whose components fit are left as they are, whatever their length.
  const std::string deep = "/a/" + std::string(255, 'b') + "/" + std::string(255, 'c');
  EXPECT_FALSE(NeedsShortNames(deep));
  EXPECT_EQ(ShortNames(deep), deep);
  // No UTF-8 character is cut, and an overlong "extension" is no extension.
  const std::string snowmen = "\xE2\x98\x83" + std::string(300, 'x');  // U+2603 and more
  std::string cut = ShortNames(std::string(237, 'a') + snowmen);
  EXPECT_EQ(cut.substr(0, 238), std::string(237, 'a') + "~");
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_EQ(ShortNames(std::string(100, 'a') + "." + std::string(200, 'e')).size(), kNameMax);
}

}  // namespace
}  // namespace lumbra
