#include "platform/path_helpers.h"

#include <csignal>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class PathHelpersTest : public testing::TempDirTest {};

TEST_F(PathHelpersTest, StatPathDropsOneTrailingSlash) {
  MakeDir("save");
  platform::FileStatus status;
  EXPECT_EQ(StatPath(Path("save/"), status), 0);
  EXPECT_TRUE(status.isDirectory());
  EXPECT_EQ(StatPath("/", status), 0);
  EXPECT_EQ(StatPath(Path("none"), status), -1);
  EXPECT_FALSE(status.exists());
  EXPECT_EQ(StatPath(std::string(kStatPathMax + 1, '/'), status), -1);
}

TEST(SplitPathTest, SplitsLikeSplitpath) {
  const struct {
    const char *path, *drive, *dir, *name, *ext;
  } cases[] = {
      {"d:/save/log/host/page.html", "d:", "/save/log/host/", "page", ".html"},
      {"/a\\b/c.tar.gz", "", "/a\\b/", "c.tar", ".gz"},
      {"/x/alog/", "", "/x/alog/", "", ""},
  };
  for (const auto& c : cases) {
    PathParts p = SplitPath(c.path);
    EXPECT_EQ(p.drive + "|" + p.dir + "|" + p.name + "|" + p.ext,
              std::string(c.drive) + "|" + c.dir + "|" + c.name + "|" + c.ext);
  }
}

TEST_F(PathHelpersTest, CheckPathNamesTheFirstMissingPart) {
  MakeDir("save");
  WriteFile("save/page.html", "x");
  EXPECT_EQ(CheckPath("q:/save/"), kDriveMissing);
  EXPECT_EQ(CheckPath(Path("nosuch/")), kDirectoryMissing);
  EXPECT_EQ(CheckPath(Path("save/none.html")), kFileMissing);
  EXPECT_EQ(CheckPath(Path("save/")), kPathOk);
  EXPECT_EQ(CheckPath(Path("save/page.html")), kPathOk);
}

TEST_F(PathHelpersTest, CopyReplaceOverwritesWithTheNormalModeUnlessTheTargetIsReadOnly) {
  std::string source = WriteFile("src", "new bytes");
  std::string target = WriteFile("dst", "old");
  ASSERT_TRUE(platform::SetFileMode(target, 0600));
  EXPECT_TRUE(CopyReplace(target, source));
  EXPECT_EQ(ReadFile("dst"), "new bytes");
  EXPECT_EQ(platform::GetStatus(target).mode & 0777, platform::NormalFileMode());
  EXPECT_TRUE(CopyReplace(Path("fresh"), source));
  EXPECT_EQ(ReadFile("fresh"), "new bytes");

  // A read-only target is left and the failure reported.
  ASSERT_TRUE(platform::SetFileMode(target, 0444));
  EXPECT_FALSE(CopyReplace(target, WriteFile("src2", "other")));
  EXPECT_EQ(ReadFile("dst"), "new bytes");
  EXPECT_FALSE(CopyReplace(Path("x"), Path("no-source")));
  EXPECT_FALSE(platform::GetStatus(Path("x")).exists());
  EXPECT_FALSE(CopyReplace(Path("nodir/x"), source));
}

// A write that fails part-way (the file-size limit is hit) must leave the old content whole.
TEST_F(PathHelpersTest, CopyReplaceFailingPartWayKeepsTheOldFile) {
  std::string source = WriteFile("big", std::string(200000, 'n'));
  std::string target = WriteFile("target", std::string(1000, 'o'));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {50000, 50000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(CopyReplace(target, source) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "CopyReplace must report the failed write";
  EXPECT_EQ(ReadFile("target"), std::string(1000, 'o'));
  auto names = platform::ListDirectory(root());
  EXPECT_EQ(names->size(), 4u) << "no temporary file may be left behind";
}

TEST_F(PathHelpersTest, SameFileContentComparesOverTheFirstFile) {
  std::string empty1 = WriteFile("e1", "");
  std::string empty2 = WriteFile("e2", "");
  std::string a = WriteFile("a", std::string(5000, 'x'));
  std::string longer = WriteFile("b", std::string(5000, 'x') + "tail");
  std::string other = WriteFile("c", std::string(4999, 'x') + "y");
  EXPECT_TRUE(SameFileContent(empty1, empty2));
  EXPECT_TRUE(SameFileContent(a, longer));
  EXPECT_FALSE(SameFileContent(longer, a));
  EXPECT_FALSE(SameFileContent(a, other));
  EXPECT_FALSE(SameFileContent(a, Path("none")));
}

TEST_F(PathHelpersTest, CountFilesCountsOnlyRegularFilesDirectlyInside) {
  WriteFile("d/one", "1");
  WriteFile("d/two", "2");
  WriteFile("d/sub/three", "3");
  EXPECT_EQ(CountFiles(Path("d")), 2);
  EXPECT_EQ(CountFiles(Path("d/")), 2);
  EXPECT_EQ(CountFiles(Path("none")), 0);
}

}  // namespace
}  // namespace lumbra
