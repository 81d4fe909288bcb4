#include "app/excluded_domains.h"

#include "logstore/excluded_hosts.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class ExcludedDomainsTest : public testing::TempDirTest {};

TEST_F(ExcludedDomainsTest, CrLfAndLfFilesLoadTheSameSortedNamesAndNoEmptyOne) {
  WriteFile("lumbra-url.ini", "zeta.example\r\n\r\nAds.Example\r\nbeta.example\r\n");
  ExcludedDomainList crlf;
  crlf.Load(root());
  WriteFile("lumbra-url.ini", "zeta.example\n\nAds.Example\nbeta.example");
  ExcludedDomainList lf;
  lf.Load(root());
  std::vector<std::string> expected = {"Ads.Example", "beta.example", "zeta.example"};
  EXPECT_EQ(crlf.names(), expected);
  EXPECT_EQ(lf.names(), expected);
  EXPECT_FALSE(lf.Add(""));
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
  EXPECT_EQ(HostOfLogPath("/save/alog"), std::nullopt);
  EXPECT_EQ(HostOfLogPath("/save/log/"), "");
}

}  // namespace
}  // namespace lumbra
