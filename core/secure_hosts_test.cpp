#include "core/secure_hosts.h"

#include <set>
#include <string>

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class SecureHostsTest : public testing::TempDirTest {
 protected:
  std::string List() const { return ReadFile("log/.lumbra-https"); }
};

// The list never outgrows the size it is read up to: a host that would take it past is not
// added, and the hosts it lists are never lost.
TEST_F(SecureHostsTest, TheListGrowsOnlyWhileItCanStillBeRead) {
  MakeDir("log");
  EXPECT_EQ(AddSecureHosts(Path("log"), {"b.example", "a.example"}), SecureHostsUpdate::Done);
  EXPECT_EQ(List(), "a.example\r\nb.example\r\n");

  // 4,095 lines of 256 bytes more leave room for 234 bytes: one line of 232 characters.
  std::set<std::string> many;
  for (int k = 0; k < 4095; ++k)
    many.insert("h" + std::to_string(10000 + k) + std::string(248, 'x'));
  EXPECT_EQ(AddSecureHosts(Path("log"), many), SecureHostsUpdate::Done);
  EXPECT_EQ(AddSecureHosts(Path("log"), {std::string(233, 'y')}), SecureHostsUpdate::Full);
  const std::string kept = List();
  EXPECT_EQ(kept.size(), kSecureHostsMax - 234);
  EXPECT_EQ(AddSecureHosts(Path("log"), {std::string(232, 'z')}), SecureHostsUpdate::Done);
  EXPECT_EQ(List().size(), kSecureHostsMax);
  EXPECT_EQ(ReadSecureHosts(Path("log")).size(), 4098u);

  // A list past the limit, which no add wrote, is neither read nor replaced.
  WriteFile("log/.lumbra-https", kept + std::string(300, 'w') + "\r\n");
  EXPECT_TRUE(ReadSecureHosts(Path("log")).empty());
  EXPECT_EQ(AddSecureHosts(Path("log"), {"a.example"}), SecureHostsUpdate::Full);
  EXPECT_EQ(List().size(), kSecureHostsMax + 68);
}

}  // namespace
}  // namespace lumbra
