#include "app/manual.h"

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class ManualTest : public testing::TempDirTest {};

TEST_F(ManualTest, TheInstalledManualComesBeforeTheSourceTreesInTheUsersLanguage) {
  for (const char* name : {"manual.html", "manual-en.html"}) {
    WriteFile(std::string("usr/share/doc/lumbra/") + name, "installed");
    WriteFile(std::string("src/docs/") + name, "source");
  }
  MakeDir("usr/bin");
  MakeDir("build/app/wx");
  const std::string docs = Path("src/docs");
  const std::string installed = Path("usr/bin/../share/doc/lumbra/");

  // Installed: its own manual, even where the source tree it was built from still lies.
  EXPECT_EQ(ManualPath(Path("usr/bin"), docs, false), installed + "manual.html");
  EXPECT_EQ(ManualPath(Path("usr/bin"), docs, true), installed + "manual-en.html");
  // Run from the build tree: the source tree's.
  EXPECT_EQ(ManualPath(Path("build/app/wx"), docs, false), docs + "/manual.html");
  EXPECT_EQ(ManualPath(Path("build/app/wx"), docs, true), docs + "/manual-en.html");
  // Neither: the installed place, which the browser names as missing.
  EXPECT_EQ(ManualPath(Path("build/app/wx"), Path("gone"), true),
            Path("build/app/wx/../share/doc/lumbra/manual-en.html"));
}

}  // namespace
}  // namespace lumbra
