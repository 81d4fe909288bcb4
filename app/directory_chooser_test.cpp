#include "app/directory_chooser.h"

#include <algorithm>

#include <unistd.h>

#include "testing/scripted_dialog_views.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

using C = DirectoryChooser;
using Names = std::vector<std::string>;

// A machine in the test directory: a home, media mounted below media/ and run/media/ (a
// stick, a disc, a RAM disk, a zram disk, a network share, a disk with a space in its name),
// a second disk outside the media roots, and the system's own file systems.
class ChooserTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    for (const char* dir : {"home/u/docs", "media/u/STICK/a", "media/u/CD/a", "media/u/RAM",
                            "media/u/Z", "media/u/NAS", "media/u/STICKY", "run/media/u/My Disk",
                            "mnt/data", "w/Alpha/inner", "w/beta", "w/.hidden"}) {
      MakeDir(dir);
    }
    WriteFile("w/file.txt", "x");
    MakeFifo("w/pipe");
    MakeLink(Path("w/Alpha"), "w/to-alpha");
    MakeLink(Path("w/nowhere"), "w/broken");
    WriteMounts(kMounts);
    ASSERT_TRUE(platform::ChangeDirectory(Path("home/u/docs")));
  }

  void WriteMounts(std::string text) {
    for (std::size_t at; (at = text.find("@")) != std::string::npos;) text.replace(at, 1, root());
    WriteFile("mounts", text);
  }
  DriveSource Drives() const {
    return {Path("mounts"), Path("home/u/"), {Path("media"), Path("run/media")}, {}};
  }
  // Opens a chooser on `start` with a fresh view.
  C& OpenAt(const std::string& start, std::vector<Shortcut> shortcuts = {}) {
    view_ = std::make_unique<testing::ScriptedChooserView>();
    DriveSource drives = Drives();
    drives.shortcuts = std::move(shortcuts);
    chooser_ = std::make_unique<C>(*view_, drives, start);
    chooser_->Open();
    return *chooser_;
  }
  testing::ScriptedChooserView& view() { return *view_; }
  const Names& Listed() { return view_->control(C::kDirectoryList).entries; }
  std::string PathShown() { return view_->GetText(C::kPathEdit); }
  int DriveShown() { return view_->Selection(C::kDriveBox); }

  static constexpr const char* kMounts =
      "overlay / overlay rw 0 0\n"
      "proc /proc proc rw 0 0\n"
      "tmpfs /dev/shm tmpfs rw 0 0\n"
      "/dev/sdb1 @/media/u/STICK vfat rw 0 0\n"
      "/dev/sr0 @/media/u/CD iso9660 ro 0 0\n"
      "tmpfs @/media/u/RAM tmpfs rw 0 0\n"
      "/dev/zram0 @/media/u/Z ext4 rw 0 0\n"
      "server:/export @/media/u/NAS nfs4 rw 0 0\n"
      "/dev/sdc1 @/run/media/u/My\\040Disk exfat rw 0 0\n"
      "/dev/sdd1 @/mnt/data ext4 rw 0 0\n"
      "/dev/sdb1 @/media/u/STICK vfat rw 0 0\n"
      "half-a-line\n";

  testing::ScopedCurrentDirectory restore_;
  std::unique_ptr<testing::ScriptedChooserView> view_;
  std::unique_ptr<C> chooser_;
};

TEST_F(ChooserTest, DriveBoxListsRootHomeAndMediaButNoDiscRamDiskOrSystemMount) {
  OpenAt("");
  EXPECT_EQ(view().control(C::kDriveBox).entries,
            (Names{"/", Path("home/u"), Path("media/u/STICK"), Path("media/u/NAS"),
                   Path("run/media/u/My Disk")}));
  EXPECT_TRUE(view().messages().empty());
}

TEST_F(ChooserTest, OpeningGoesToTheStartPathOnItsDriveAndSelectsTheDriveHoldingIt) {
  struct Case {
    std::string start, current;
    int drive;
  } cases[] = {
      {"", "home/u/docs", 1},  // an empty path: the current directory
      {Path("media/u/STICK/a"), "media/u/STICK/a", 2},
      {Path("media/u/STICK/missing/x"), "media/u/STICK", 2},  // its drive became current
      {Path("media/u/CD/a"), "media/u/CD/a", -1},             // a disc is no drive
      {Path("mnt/data"), "mnt/data", -1},                     // nor a disk outside the media
      {Path("media/u/STICKY"), "media/u/STICKY", 0},
      {"c:\\windows", "home/u/docs", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    ASSERT_TRUE(platform::ChangeDirectory(Path("home/u/docs")));
    OpenAt(c.start);
    EXPECT_EQ(platform::CurrentDirectory(), Path(c.current));
    EXPECT_EQ(PathShown(), Path(c.current));
    EXPECT_EQ(chooser_->GetPath(), Path(c.current));
    EXPECT_EQ(DriveShown(), c.drive);
  }
}

TEST_F(ChooserTest, ListsTheSubdirectoriesSortedAndSelectingOneEntersItAtOnce) {
  const Names inW = {"..", ".hidden", "Alpha", "beta", "to-alpha"};
  OpenAt(Path("w"));
  EXPECT_EQ(Listed(), inW);
  EXPECT_EQ(view().Selection(C::kDirectoryList), 0);
  ASSERT_TRUE(view().Pick(C::kDirectoryList, "Alpha"));
  chooser_->OnDirectorySelected();
  EXPECT_EQ(PathShown(), Path("w/Alpha"));
  EXPECT_EQ(platform::CurrentDirectory(), Path("w/Alpha"));
  EXPECT_EQ(Listed(), (Names{"..", "inner"}));
  ASSERT_TRUE(view().Pick(C::kDirectoryList, ".."));
  chooser_->OnDirectorySelected();
  EXPECT_EQ(PathShown(), Path("w"));  // the parent, without dots
  EXPECT_EQ(Listed(), inW);
}

TEST_F(ChooserTest, ADirectoryThatCannotBeEnteredEmptiesTheListAndKeepsThePath) {
  OpenAt(Path("w"));
  ASSERT_EQ(::rmdir(Path("w/beta").c_str()), 0);
  ASSERT_TRUE(view().Pick(C::kDirectoryList, "beta"));
  chooser_->OnDirectorySelected();
  EXPECT_EQ(Listed(), Names{});
  EXPECT_EQ(PathShown(), Path("w"));
  EXPECT_EQ(platform::CurrentDirectory(), Path("w"));
}

TEST_F(ChooserTest, ChoosingADriveGoesThereAndAGoneMediumIsRefused) {
  OpenAt(Path("w"));
  ASSERT_TRUE(view().Pick(C::kDriveBox, Path("media/u/STICK")));
  chooser_->OnDriveSelected();
  EXPECT_EQ(platform::CurrentDirectory(), Path("media/u/STICK"));
  EXPECT_EQ(PathShown(), Path("media/u/STICK"));
  EXPECT_EQ(Listed(), (Names{"..", "a"}));
  EXPECT_TRUE(view().messages().empty());

  // The stick is unmounted after the window opened; the share's directory is gone.
  std::string mounts(kMounts);
  for (std::size_t at; (at = mounts.find("/dev/sdb1")) != std::string::npos;) {
    mounts.erase(at, mounts.find('\n', at) + 1 - at);
  }
  WriteMounts(mounts);
  ASSERT_EQ(::rmdir(Path("media/u/NAS").c_str()), 0);
  ASSERT_TRUE(view().Pick(C::kDriveBox, Path("home/u")));
  chooser_->OnDriveSelected();
  Names messages;
  for (const char* gone : {"media/u/STICK", "media/u/NAS"}) {
    SCOPED_TRACE(gone);
    ASSERT_TRUE(view().Pick(C::kDriveBox, Path(gone)));
    chooser_->OnDriveSelected();
    messages.emplace_back(kDriveUnusableMessage);
    EXPECT_EQ(view().messages(), messages);
    EXPECT_EQ(platform::CurrentDirectory(), Path("home/u"));
    EXPECT_EQ(PathShown(), Path("home/u"));
    EXPECT_EQ(DriveShown(), 1);
    EXPECT_EQ(Listed(), (Names{"..", "docs"}));
  }
}

TEST_F(ChooserTest, ShortcutsFollowTheDrivesByTheirNamesAndAreMadeCurrentAsAFixedDrive) {
  const std::string cache = MakeDir("home/u/.cache/chromium/Default/Cache/Cache_Data");
  MakeDir("home/u/.cache/chromium/Default/Cache/Cache_Data/index-dir");
  MakeDir("gone");
  OpenAt(cache + "/index-dir", {{"Chromium Default: " + cache, cache + "/"},
                                {"Firefox p: " + Path("gone"), Path("gone")},
                                {"relative", "home/u"}});
  EXPECT_EQ(view().control(C::kDriveBox).entries,
            (Names{"/", Path("home/u"), Path("media/u/STICK"), Path("media/u/NAS"),
                   Path("run/media/u/My Disk"), "Chromium Default: " + cache,
                   "Firefox p: " + Path("gone")}));
  EXPECT_EQ(DriveShown(), 5);  // the cache holds the directory more closely than the home

  ASSERT_TRUE(view().Pick(C::kDriveBox, Path("home/u")));
  chooser_->OnDriveSelected();
  EXPECT_EQ(DriveShown(), 1);
  ASSERT_TRUE(view().Pick(C::kDriveBox, "Chromium Default: " + cache));
  chooser_->OnDriveSelected();
  EXPECT_EQ(platform::CurrentDirectory(), cache);
  EXPECT_EQ(PathShown(), cache);
  EXPECT_EQ(Listed(), (Names{"..", "index-dir"}));
  EXPECT_EQ(DriveShown(), 5);

  ASSERT_EQ(::rmdir(Path("gone").c_str()), 0);
  ASSERT_TRUE(view().Pick(C::kDriveBox, "Firefox p: " + Path("gone")));
  chooser_->OnDriveSelected();
  EXPECT_EQ(view().messages(), Names{std::string(kDriveUnusableMessage)});
  EXPECT_EQ(platform::CurrentDirectory(), cache);
  EXPECT_EQ(DriveShown(), 5);
}

TEST_F(ChooserTest, OkReturnsTheTypedTextAsTypedAndBothLeaveTheDirectoryWhereTheUserWent) {
  for (bool ok : {true, false}) {
    SCOPED_TRACE(ok);
    OpenAt(Path("w"));
    ASSERT_TRUE(view().Pick(C::kDirectoryList, "Alpha"));
    chooser_->OnDirectorySelected();
    view().SetText(C::kPathEdit, " D:\\no such\\dir/ ");
    ok ? chooser_->OnOk() : chooser_->OnCancel();
    EXPECT_EQ(view().closed(), ok);
    EXPECT_EQ(chooser_->GetPath(), ok ? " D:\\no such\\dir/ " : Path("w/Alpha"));
    EXPECT_EQ(platform::CurrentDirectory(), Path("w/Alpha"));
  }
}

TEST_F(ChooserTest, ListsEveryDirectoryHoweverMany) {
  for (int i = 0; i < 1003; ++i) MakeDir("many/d" + std::to_string(i));
  WriteFile("many/file", "");
  Names expected, all = platform::ListDirectory(Path("many")).value();
  for (const std::string& name : all) {
    if (name != "." && name != "file") expected.push_back(name);
  }
  std::sort(expected.begin(), expected.end(),
            [](const std::string& a, const std::string& b) { return SortedListOrder(a, b); });
  OpenAt(Path("many"));
  EXPECT_EQ(Listed(), expected);
}

TEST_F(ChooserTest, OpensWithEmptyListsWhenTheCurrentDirectoryIsGone) {
  ASSERT_TRUE(platform::ChangeDirectory(MakeDir("gone")));
  ASSERT_EQ(::rmdir(Path("gone").c_str()), 0);
  OpenAt("");
  EXPECT_EQ(Listed(), Names{});
  EXPECT_EQ(view().control(C::kDriveBox).entries, Names{});
  EXPECT_EQ(PathShown(), "");
}

}  // namespace
}  // namespace lumbra
