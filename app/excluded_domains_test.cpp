// The excluded hosts as the jobs read them, and the host rule of the browse button. Loading,
// sorting and editing the list are tested through the window that shows it (which never
// hands the list an empty name; lumbra-cli exclude may).
#include "app/excluded_domains.h"

#include "logstore/excluded_hosts.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class ExcludedDomainsTest : public testing::TempDirTest {};

TEST(ExcludedDomainListTest, AnEmptyNameIsNeverAdded) {
  ExcludedDomainList list;
  EXPECT_FALSE(list.Add(""));
  EXPECT_TRUE(list.names().empty());
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

}  // namespace
}  // namespace lumbra
