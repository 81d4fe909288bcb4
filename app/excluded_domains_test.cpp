#include "app/excluded_domains.h"

#include "logstore/excluded_hosts.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class ExcludedDomainsTest : public testing::TempDirTest {};

TEST_F(ExcludedDomainsTest, CrLfAndLfFilesLoadTheSameSortedNames) {
  WriteFile("lumbra-url.ini", "zeta.example\r\n\r\nAds.Example\r\nbeta.example\r\n");
  ExcludedDomainList crlf;
  crlf.Load(root());
  WriteFile("lumbra-url.ini", "zeta.example\n\nAds.Example\nbeta.example");
  ExcludedDomainList lf;
  lf.Load(root());
  std::vector<std::string> expected = {"Ads.Example", "beta.example", "zeta.example"};
  EXPECT_EQ(crlf.names(), expected);
  EXPECT_EQ(lf.names(), expected);
}

TEST_F(ExcludedDomainsTest, AddRefusesADuplicateInAnyCaseAndKeepsTheOrder) {
  ExcludedDomainList list;
  list.Load(root());  // missing file: empty list
  EXPECT_TRUE(list.names().empty());
  EXPECT_TRUE(list.Add("m.example"));
  EXPECT_TRUE(list.Add("B.example"));
  EXPECT_FALSE(list.Add("M.EXAMPLE"));
  EXPECT_FALSE(list.Add(""));
  EXPECT_TRUE(list.Add("a.example"));
  EXPECT_EQ(list.names(), (std::vector<std::string>{"a.example", "B.example", "m.example"}));
  EXPECT_TRUE(list.Remove("b.EXAMPLE"));
  EXPECT_FALSE(list.Remove("none.example"));
  ASSERT_TRUE(list.Save(root()));
  EXPECT_EQ(ReadFile("lumbra-url.ini"), "a.example\r\nm.example\r\n");
}

TEST_F(ExcludedDomainsTest, TheJobReadsTheNamesLowerCased) {
  WriteFile("lumbra-url.ini", "Ads.Example\r\n\r\ntrack.example\n");
  JobContext ctx;
  ctx.startDir = root();
  ExcludedHosts hosts;
  LoadExcludedHosts(ctx, hosts);
  EXPECT_EQ(hosts, (ExcludedHosts{"ads.example", "track.example"}));
  ExcludedHosts none;
  ctx.startDir = Path("elsewhere");
  LoadExcludedHosts(ctx, none);
  EXPECT_TRUE(none.empty());
}

TEST(HostOfLogPathTest, TakesTheDirectoryAfterTheFirstLogMarker) {
  EXPECT_EQ(HostOfLogPath("/save/alog/www.example/dir/sub"), "www.example");
  EXPECT_EQ(HostOfLogPath("D:\\save\\LOG\\host-8080"), "host-8080");
  EXPECT_EQ(HostOfLogPath("/save/alog"), "");
}

}  // namespace
}  // namespace lumbra
