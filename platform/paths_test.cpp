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

// The links of the relative LINK_STYLE: from a page's directory to a copy in the same
// directory, another site, another tree or the index directory, and back to the path.
TEST(RelativeUrlTest, ClimbsToTheCommonDirectoryAndDownToTheTarget) {
  const struct {
    const char *from, *target, *link;
  } cases[] = {
      {"/c/save/log/host/dir/", "/c/save/log/host/dir/page.html", "page.html"},
      {"/c/save/log/host/dir", "/c/save/log/host/dir/sub/x.gif", "sub/x.gif"},
      {"/c/save/log/host/dir/", "/c/save/log/host/x.html", "../x.html"},
      {"/c/save/log/host/dir/", "/c/save/log/other-8080/a/b.html", "../../other-8080/a/b.html"},
      {"/c/save/log/host/", "/c/more/log/host/y.html", "../../../more/log/host/y.html"},
      {"/c/index", "/c/save/log/host/p.html", "../save/log/host/p.html"},
      {"/c/index/", "/c/index/allidx_a.htm", "allidx_a.htm"},
      {"/c/index", "/c/index/search/htm/_.link_htm.htm", "search/htm/_.link_htm.htm"},
      // Directories end in '/'; the page's own directory is "./".
      {"/c/save/log/host/dir/", "/c/save/log/host/classes/", "../classes/"},
      {"/c/save/log/host/dir/", "/c/save/log/host/dir/", "./"},
      // Dot segments and doubled separators of either path are taken out first.
      {"/c/start/../save/log/host/", "/c/save/./log//host/x.html", "x.html"},
      {"/", "/x.html", "x.html"},
      // A first segment a browser would read as a scheme, a fragment or a query.
      {"/c/log/host/", "/c/log/host/a:b.html", "./a:b.html"},
      {"/c/log/host/", "/c/log/host/#x.html", "./#x.html"},
      {"/c/log/host/", "/c/log/host/?q.html", "./?q.html"},
      {"/c/log/host/", "/c/log/host/d/a:b.html", "d/a:b.html"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RelativeUrl(c.from, c.target), c.link) << c.from << " " << c.target;
    // Read back against the directory as a browser reads it, the link names the target.
    std::string dir = c.from;
    if (dir.back() != '/') dir += '/';
    EXPECT_EQ(CleanAbsolutePath(dir + c.link), CleanAbsolutePath(c.target)) << c.link;
  }
  EXPECT_EQ(CleanAbsolutePath("/a/../../b/./c/"), "/b/c/");
  EXPECT_EQ(CleanAbsolutePath("/.."), "/");
}

}  // namespace
}  // namespace lumbra::platform
