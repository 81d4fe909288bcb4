#include "logstore/log_copy.h"

#include "platform/paths.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class LogCopyTest : public testing::TempDirTest {
 protected:
  static LogState Compare(const std::string& log, const std::string& cache) {
    return CompareStatus(platform::StatPath(cache), platform::StatPath(log));
  }
  // KeepOldCopy for the cached file `cache` (missing: a document of no file).
  static bool Keep(const std::string& log, const std::string& cache) {
    FileDocument cached;
    cached.file().Open(cache, platform::FollowLinks::Yes);
    return KeepOldCopy(log, cached);
  }
};

TEST_F(LogCopyTest, CompareGivesTheFiveStates) {
  std::string cache = WriteFile("cache/a", "12345");
  std::string log = Path("log/a");
  EXPECT_EQ(Compare(log, Path("cache/none")), LogState::CacheMissing);
  EXPECT_EQ(Compare(log, cache), LogState::LogMissing);
  WriteFile("log/a", "12345");
  testing::SetMtime(cache, 2000);
  testing::SetMtime(log, 1000);
  EXPECT_EQ(Compare(log, cache), LogState::CacheNewer);
  testing::SetMtime(log, 2000);
  EXPECT_EQ(Compare(log, cache), LogState::Same);
  WriteFile("log/a", "rewritten page");
  testing::SetMtime(log, 3000);
  EXPECT_EQ(Compare(log, cache), LogState::SizeDiffers);
}

TEST_F(LogCopyTest, OldCopiesAreNumberedAndNeverDuplicated) {
  std::string cache = WriteFile("cache/pic", "version 2");
  std::string log = WriteFile("log/host/pic.gif", "version 1");
  ASSERT_TRUE(Keep(log, cache));
  EXPECT_EQ(ReadFile("log/host/pic-old0001.gif"), "version 1");
  EXPECT_FALSE(platform::GetStatus(log).exists());

  // The next change keeps the next number.
  WriteFile("log/host/pic.gif", "version 2");
  WriteFile("cache/pic", "version 3");
  ASSERT_TRUE(Keep(log, cache));
  EXPECT_EQ(ReadFile("log/host/pic-old0002.gif"), "version 2");

  // A log copy equal to the cached file, or to a kept copy, is not moved.
  WriteFile("log/host/pic.gif", "version 3");
  ASSERT_TRUE(Keep(log, cache));
  EXPECT_EQ(ReadFile("log/host/pic.gif"), "version 3");
  WriteFile("log/host/pic.gif", "version 1");
  ASSERT_TRUE(Keep(log, cache));
  EXPECT_EQ(ReadFile("log/host/pic.gif"), "version 1");
  EXPECT_FALSE(platform::GetStatus(Path("log/host/pic-old0003.gif")).exists());
}

TEST_F(LogCopyTest, NothingIsKeptWhenEitherFileIsMissing) {
  std::string log = WriteFile("log/page.html", "x");
  EXPECT_TRUE(Keep(log, Path("cache/none")));
  EXPECT_TRUE(Keep(Path("log/none.html"), log));
  EXPECT_EQ(ReadFile("log/page.html"), "x");
  EXPECT_FALSE(platform::GetStatus(Path("log/page-old0001.html")).exists());
}

TEST(DecideStoreTest, SelectionSwitchesDecideWhatIsStored) {
  using S = LogState;
  JobContext ctx;  // READ_NEW alone
  JobContext all;
  all.readAll = true;
  all.readNew = false;
  JobContext htmOnly;
  htmOnly.readNew = false;
  htmOnly.readHtm = true;
  EXPECT_EQ(DecideStore(all, S::Same, false), StoreDecision::Store);
  EXPECT_EQ(DecideStore(all, S::CacheMissing, true), StoreDecision::Skip);
  EXPECT_EQ(DecideStore(ctx, S::Same, false), StoreDecision::Skip);
  EXPECT_EQ(DecideStore(ctx, S::SizeDiffers, true), StoreDecision::DirectoryOnly);
  EXPECT_EQ(DecideStore(ctx, S::SizeDiffers, false), StoreDecision::Store);
  EXPECT_EQ(DecideStore(htmOnly, S::Same, true), StoreDecision::Store);
  EXPECT_EQ(DecideStore(htmOnly, S::Same, false), StoreDecision::Skip);
  ctx.readHtm = true;
  EXPECT_EQ(DecideStore(ctx, S::SizeDiffers, true), StoreDecision::CopyOnly);
}

TEST(RelatedHostsTest, EachDirectoryOnceHoweverMany) {
  RelatedHosts hosts;
  hosts.Remember("/s/alog/a");
  hosts.Remember("/s/alog/b");
  hosts.Remember("/s/alog/a");
  hosts.Remember("/s/alog/A");  // exact comparison
  EXPECT_EQ(hosts.dirs(), (std::vector<std::string>{"/s/alog/a", "/s/alog/b", "/s/alog/A"}));
  for (int i = 0; i < 600; ++i) hosts.Remember("/s/alog/h" + std::to_string(i));
  hosts.Remember("/s/alog/h7");
  EXPECT_EQ(hosts.dirs().size(), 603u);
  EXPECT_EQ(hosts.dirs().back(), "/s/alog/h599");
}

}  // namespace
}  // namespace lumbra
