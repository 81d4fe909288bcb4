#include "platform/paths.h"

#include <string>

#include "testing/temp_dir.h"

namespace lumbra::platform {
namespace {

class PathsTest : public lumbra::testing::TempDirTest {};

TEST_F(PathsTest, StatPathDropsOneTrailingSlash) {
  MakeDir("save");
  EXPECT_TRUE(StatPath(Path("save/")).isDirectory());
  EXPECT_TRUE(StatPath("/").exists());
  EXPECT_FALSE(StatPath(Path("none")).exists());
  EXPECT_FALSE(StatPath(std::string(kStatPathMax + 1, '/')).exists());
}

TEST(SplitPathTest, SplitsAtTheLastSeparatorAndTheLastDot) {
  const struct {
    const char *path, *drive, *dir, *name, *ext;
  } cases[] = {
      {"d:/save/log/host/page.html", "d:", "/save/log/host/", "page", ".html"},
      {"/a\\b/c.tar.gz", "", "/a\\b/", "c.tar", ".gz"},
      {"/x/alog/", "", "/x/alog/", "", ""},
  };
  for (const auto& c : cases) {
    PathParts p = SplitPath(c.path);
    // A drive letter belongs to the directory part.
    EXPECT_EQ(p.dir + "|" + p.name + "|" + p.ext,
              std::string(c.drive) + c.dir + "|" + c.name + "|" + c.ext);
  }
}

TEST_F(PathsTest, CheckPathNamesTheFirstMissingPart) {
  MakeDir("save");
  WriteFile("save/page.html", "x");
  EXPECT_EQ(CheckPath("q:/save/"), PathCheck::DriveMissing);
  EXPECT_EQ(CheckPath(Path("nosuch/")), PathCheck::DirectoryMissing);
  EXPECT_EQ(CheckPath(Path("save/none.html")), PathCheck::FileMissing);
  EXPECT_EQ(CheckPath(Path("save/")), PathCheck::Ok);
  EXPECT_EQ(CheckPath(Path("save/page.html")), PathCheck::Ok);
}

}  // namespace
}  // namespace lumbra::platform
