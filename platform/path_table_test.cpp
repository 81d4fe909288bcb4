#include "platform/path_table.h"

#include "testing/temp_dir.h"

namespace lumbra::platform {
namespace {

using Kind = PathTable::Kind;

class PathTableTest : public lumbra::testing::TempDirTest {};

// Files made behind the table's back (as no one may during a job) show where it answers
// without asking the disk: they are seen only where it asks.
TEST_F(PathTableTest, ANameIsMissingUnaskedOnlyWhereTheTableKnowsTheWholeDirectoryOrNoneIsThere) {
  MakeDir("listed");
  MakeDir("odd");
  MakeDir("made");
  PathTable table;
  ASSERT_TRUE(table.List(Path("listed")));
  ASSERT_TRUE(table.List(Path("odd/.")));
  table.RememberNewDirectory(Path("made"));
  EXPECT_EQ(table.KindOf(Path("gone")), Kind::Missing);
  WriteFile("listed/late", "");
  WriteFile("odd/late", "");
  WriteFile("made/late", "");
  WriteFile("gone/late", "");

  EXPECT_EQ(table.KindOf(Path("listed/late")), Kind::Missing);
  EXPECT_EQ(table.KindOf(Path("made/late")), Kind::Missing);
  EXPECT_EQ(table.KindOf(Path("gone/late")), Kind::Missing) << "in a directory known missing";
  EXPECT_EQ(table.KindOf(Path("odd/./late")), Kind::File) << "a listing under another spelling";
  EXPECT_EQ(table.KindOf(Path("listed/")), Kind::Directory) << "no name of its own";

  // What the job makes under another spelling may be asked for under the plain one.
  WriteFile("made/late2", "");
  table.Remember(Path("made//late2"), Kind::File);
  EXPECT_EQ(table.KindOf(Path("made/late2")), Kind::File);
  EXPECT_EQ(table.KindOf(Path("listed/late")), Kind::File);

  // An entry forgotten leaves its directory no longer known whole.
  table.RememberNewDirectory(Path("again"));
  WriteFile("again/f", "");
  table.Forget(Path("again/f"));
  EXPECT_EQ(table.KindOf(Path("again/f")), Kind::File);
}

}  // namespace
}  // namespace lumbra::platform
