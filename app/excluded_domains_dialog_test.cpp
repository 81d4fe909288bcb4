#include "app/excluded_domains_dialog.h"

#include <optional>

#include <sys/stat.h>

#include "testing/scripted_dialog_views.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

using D = ExcludedDomainsDialog;
using Names = std::vector<std::string>;

// The window opens in the start directory, which holds lumbra-url.ini.
class DomainsDialogTest : public testing::TempDirTest {
 protected:
  void SetUp() override { ASSERT_TRUE(platform::ChangeDirectory(MakeDir("start"))); }

  D& OpenWith(std::optional<std::string> file) {
    if (file) WriteFile("start/lumbra-url.ini", *file);
    dialog_.Open();
    return dialog_;
  }
  const Names& Listed() const { return view_.control(D::kDomainList).entries; }
  std::string Edit() const { return view_.GetText(D::kDomainEdit); }
  void Type(std::string_view text) { view_.SetText(D::kDomainEdit, text); }
  void Pick(std::string_view name) {
    ASSERT_TRUE(view_.Pick(D::kDomainList, name));
    dialog_.OnSelect();
  }

  testing::ScopedCurrentDirectory restore_;
  testing::ScriptedDomainsView view_{DriveSource{Path("no-mounts"), "", {}, {}}};
  D dialog_{view_};
};

TEST_F(DomainsDialogTest, LoadsEachLineUpToItsFirstCrOrLfSortedWithoutBlankLines) {
  std::string x299(299, 'x');
  struct Case {
    std::optional<std::string> file;
    Names listed;
  } cases[] = {
      {"zeta\r\n\r\nAds.Example\r\nbeta\r\n", {"Ads.Example", "beta", "zeta"}},
      {"zeta\n\nAds.Example\nbeta", {"Ads.Example", "beta", "zeta"}},
      {"a\rb\n\r\nc\n", {"a", "c"}},
      {std::string(700, 'x') + "\r\n", {std::string(102, 'x'), x299, x299}},
      {std::nullopt, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.value_or("<missing>").substr(0, 20));
    ::unlink(Path("start/lumbra-url.ini").c_str());
    OpenWith(c.file);
    EXPECT_EQ(Listed(), c.listed);
    EXPECT_EQ(view_.Selection(D::kDomainList), -1);
    EXPECT_EQ(Edit(), "");
  }
}

TEST_F(DomainsDialogTest, AddSkipsANameListedInOtherCaseAndEmptiesTheEditEitherWay) {
  OpenWith("Ads.Example\r\n");
  Type("ads.EXAMPLE");
  dialog_.OnAdd();
  EXPECT_EQ(Listed(), Names{"Ads.Example"});
  EXPECT_EQ(Edit(), "");
  Type("Beta.example");
  dialog_.OnAdd();
  Type("");
  dialog_.OnAdd();
  Type("a.example");
  dialog_.OnAdd();
  EXPECT_EQ(Listed(), (Names{"a.example", "Ads.Example", "Beta.example"}));
  EXPECT_EQ(Edit(), "");
}

TEST_F(DomainsDialogTest, DeleteRemovesTheSelectedEntryOnly) {
  OpenWith("b\r\nX\r\nx\r\na\r\n");
  dialog_.OnDelete();  // nothing selected
  EXPECT_EQ(Listed(), (Names{"a", "b", "X", "x"}));
  Pick("x");
  EXPECT_EQ(Edit(), "x");
  dialog_.OnDelete();
  EXPECT_EQ(Listed(), (Names{"a", "b", "X"}));
  EXPECT_EQ(Edit(), "");
  EXPECT_EQ(view_.Selection(D::kDomainList), -1);
  dialog_.OnDelete();
  Pick("a");
  Type("new");
  dialog_.OnAdd();  // adding forgets the selection
  dialog_.OnDelete();
  EXPECT_EQ(Listed(), (Names{"a", "b", "new", "X"}));
}

TEST_F(DomainsDialogTest, BrowseTakesTheHostAfterLogAndStartsWhereTheLastOkEnded) {
  MakeDir("save/log/www.example/dir");
  OpenWith(std::nullopt);
  view_.browses = {
      {.enter = {"..", "save", "log", "www.example", "dir"}, .typed = {}, .ok = true},
      {.enter = {"..", ".."}, .typed = {}, .ok = true},  // the LogTree root itself
      {.enter = {}, .typed = "D:\\Save\\LOG\\host-8080\\x", .ok = true},
      {.enter = {".."}, .typed = {}, .ok = false},
      {.enter = {}, .typed = {}, .ok = false},
  };
  struct Step {
    std::string openedAt, edit;
    std::size_t messages;
  } steps[] = {
      {Path("start"), "www.example", 0},  {Path("save/log/www.example/dir"), "www.example", 1},
      {Path("save/log"), "host-8080", 1}, {Path("save/log"), "host-8080", 1},
      {Path("save/log"), "host-8080", 1},  // Cancel kept the last start
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.openedAt);
    dialog_.OnBrowse();
    EXPECT_EQ(view_.chooserOpenedAt.back(), step.openedAt);
    EXPECT_EQ(Edit(), step.edit);
    EXPECT_EQ(view_.messages().size(), step.messages);
  }
  EXPECT_EQ(view_.messages(), Names{std::string(kNotLocalWwwPathMessage)});
}

TEST_F(DomainsDialogTest, UpdateWritesCrLfInListOrderInTheStartDirectoryAndCancelWritesNothing) {
  MakeDir("elsewhere");
  for (bool update : {false, true}) {
    SCOPED_TRACE(update);
    view_.browses = {{.enter = {"..", "elsewhere"}, .typed = {}, .ok = true}};
    OpenWith("b\nA\n");
    Type("c");
    dialog_.OnAdd();
    dialog_.OnBrowse();
    if (update) {
      EXPECT_TRUE(dialog_.OnUpdate());
    } else {
      dialog_.OnCancel();
    }
    EXPECT_EQ(view_.closed(), update);
    EXPECT_EQ(platform::CurrentDirectory(), Path("start"));
    EXPECT_EQ(ReadFile("start/lumbra-url.ini"), update ? "A\r\nb\r\nc\r\n" : "b\nA\n");
  }
  EXPECT_EQ(FilesBelow("elsewhere"), Names{});
}

TEST_F(DomainsDialogTest, AFileThatCannotBeWrittenStaysAndTheWindowStillClosesWithOk) {
  OpenWith("a\n");
  ASSERT_TRUE(platform::SetFileMode(Path("start/lumbra-url.ini"), 0444));
  Type("b");
  dialog_.OnAdd();
  EXPECT_FALSE(dialog_.OnUpdate());
  EXPECT_EQ(view_.closed(), true);
  EXPECT_EQ(ReadFile("start/lumbra-url.ini"), "a\n");
  EXPECT_TRUE(view_.messages().empty());
}

}  // namespace
}  // namespace lumbra
