// The main window's logic through a scripted window: what each command does to the controls,
// the settings and the files, and the jobs it runs on a small cache in a temporary directory.
#include "app/main_dialog.h"

#include <set>

#include <unistd.h>

#include "platform/fs.h"
#include "platform/job_lock.h"
#include "testing/ie4_fixture.h"
#include "testing/scripted_dialog_views.h"
#include "testing/scripted_frontend.h"
#include "testing/scripted_main_view.h"
#include "testing/surf_fixture.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

using C = MainControl;

constexpr std::string_view kAddReport = "ログ追加処理　終了\r\r";
constexpr std::string_view kRebuildReport = "ＨＴＭＬ 再構成　終了\r\r";
constexpr std::string_view kStoppedRebuildReport = "ＨＴＭＬ 再構成　中止\r\r";
constexpr std::string_view kPage =
    "<html><title>A</title><a href=\"http://other.example.com/x.html\">x</a></html>";

// Ids of controls whose state matches `pick`.
template <typename Pick>
std::set<int> Ids(testing::ScriptedMainView& view, Pick pick) {
  std::set<int> ids;
  for (const ControlSpec& entry : kMainControls) {
    if (pick(view.control(entry.id))) ids.insert(static_cast<int>(entry.id));
  }
  return ids;
}

const std::set<int> kIdleDisabled = {1030, 1032, 1040};  // no surf data
// A job adds the job commands and "終了"; its end enables them all, "Surf再構成" too.
const std::set<int> kJobDisabled = {1030, 1032, 1040, 1004, 1005, 1039, 1038, 1037, 1036, 1029, 1};
const std::set<int> kAfterJobDisabled = {1030, 1032};

class MainDialogTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    start = MakeDir("start");
    platform::ChangeDirectory(start);
    session.user = {Path("home"), Path("home/.cache"), Path("home/.config")};  // no browser
  }

  // The window as the program opens it in the start directory.
  void Open() {
    dialog.emplace(session, view, clock);
    dialog->Initialize();
  }
  // A cache of one page, LogTree A and the index directory, typed into the window.
  void TypeWorkingPaths() {
    testing::Ie4Cache cache;
    cache.entries.push_back(testing::CachedEntry("http://www.example.jp/a.html", "a[1].html",
                                                 "text/html", std::string(kPage)));
    testing::WriteIe4Cache(Path("cache"), cache);
    MakeDir("save/log");
    MakeDir("index");
    view.Type(C::CacheEdit, Path("cache"));
    view.Type(C::LogEditA, Path("save/log"));
    view.Type(C::IndexEdit, Path("index"));
  }
  void Click(C id) {
    EXPECT_TRUE(view.Clickable(id)) << static_cast<int>(id);
    dialog->OnCommand(id);
  }
  std::set<int> Disabled() {
    return Ids(view, [](const auto& c) { return !c.enabled; });
  }
  std::set<int> Hidden() {
    return Ids(view, [](const auto& c) { return !c.shown; });
  }
  std::set<int> Checked() {
    return Ids(view, [](const auto& c) { return c.checked; });
  }
  // After a job: its end report, beginning with `title`, is the one message, and the window
  // is idle again.
  void ExpectEndReport(std::string_view title) {
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_TRUE(view.messages[0].starts_with(title)) << view.messages[0];
    ExpectIdleAfterJob();
  }
  void ExpectIdleAfterJob() {
    EXPECT_FALSE(dialog->busy());
    EXPECT_EQ(Disabled(), kAfterJobDisabled);
    EXPECT_FALSE(view.control(C::Abort).shown);
    EXPECT_EQ(view.control(C::Status).text, kIdleText);
  }
  // Records the control states the next progress call sees, while the job runs.
  void SnapshotDuringJob() {
    view.QueueEvent([this] {
      disabledDuringJob = Disabled();
      abortShownDuringJob = view.control(C::Abort).shown;
    });
  }

  testing::ScopedCurrentDirectory restore_;
  std::string start;
  Session session;
  testing::ScriptedMainView view;
  testing::SteppingClock clock;
  std::optional<MainDialog> dialog;
  std::set<int> disabledDuringJob;
  bool abortShownDuringJob = false;
};

TEST_F(MainDialogTest, WithoutASettingsFileItOpensWithTheDefaultsAndTheIdleText) {
  Open();
  EXPECT_EQ(view.control(C::Status).text, kIdleText);
  for (const PathRow& row : kPathRows) EXPECT_EQ(view.Text(row.edit), "");
  EXPECT_EQ(Checked(), (std::set<int>{1007, 1009, 1017, 1019}));
  EXPECT_EQ(Disabled(), kIdleDisabled);
  EXPECT_EQ(Hidden(), (std::set<int>{1030, 1032, 1028, 1040, 1010, 2}));
  EXPECT_EQ(session.startDir, start);
}

// What a settings file shows in the window is read back in the test of "設定記憶".
TEST_F(MainDialogTest, SurfDataOfTheStartDirectoryEnablesSurfWhichStaysOutOfSight) {
  WriteFile("start/lumbrasurf.txt", "");
  Open();
  EXPECT_EQ(Disabled(), (std::set<int>{1030, 1032}));
  EXPECT_FALSE(view.control(C::Surf).shown);
}

TEST_F(MainDialogTest, EachCheckBoxTurnsItsOwnSwitchOver) {
  Open();
  const std::pair<C, bool JobSwitches::*> boxes[] = {
      {C::ReadRef, &JobSwitches::readRef}, {C::ReadHtm, &JobSwitches::readHtm},
      {C::ReadAel, &JobSwitches::readAel}, {C::ReadCnt, &JobSwitches::readCnt},
      {C::ExecLog, &JobSwitches::execLog}, {C::ReadBak, &JobSwitches::readBak},
      {C::ReadDom, &JobSwitches::readDom}, {C::UnrefRef, &JobSwitches::unrefRef}};
  for (const auto& [box, flag] : boxes) {
    JobSettings expected = session.settings;
    expected.*flag = !(expected.*flag);
    dialog->OnCommand(box);
    EXPECT_EQ(FormatSettings(session.settings), FormatSettings(expected));  // no other switch
    EXPECT_EQ(session.settings.*flag, expected.*flag) << static_cast<int>(box);
    EXPECT_EQ(view.control(box).checked, expected.*flag) << static_cast<int>(box);
  }
}

TEST_F(MainDialogTest, AllAndNewAlwaysLeaveExactlyOneOn) {
  WriteFile("start/lumbra.ini", "READ_ALL=TRUE\r\nREAD_NEW=TRUE\r\n");  // both on, by hand
  Open();
  struct Step {
    C click;
    bool all, neu;
  };
  const Step steps[] = {{C::ReadNew, true, false},
                        {C::ReadAll, false, true},
                        {C::ReadAll, true, false},
                        {C::ReadNew, false, true},
                        {C::ReadNew, true, false}};
  for (const Step& step : steps) {
    Click(step.click);
    EXPECT_EQ(session.settings.readAll, step.all);
    EXPECT_EQ(session.settings.readNew, step.neu);
    EXPECT_EQ(view.control(C::ReadAll).checked, step.all);
    EXPECT_EQ(view.control(C::ReadNew).checked, step.neu);
  }
}

TEST_F(MainDialogTest, BrowseTakesTheChosenPathAndACancelKeepsThePathsAsTyped) {
  Open();
  for (std::size_t i = 0; i < kPathRows.size(); ++i) {
    view.Type(kPathRows[i].edit, "typed" + std::to_string(i));
  }
  for (std::size_t i = 0; i < kPathRows.size(); ++i) {
    view.QueueChoice(MakeDir("chosen" + std::to_string(i)));
    Click(kPathRows[i].browse);
    EXPECT_EQ(view.chooserStarts.back(), "typed" + std::to_string(i));
    for (std::size_t k = 0; k < kPathRows.size(); ++k) {
      EXPECT_EQ(view.Text(kPathRows[k].edit),
                (k <= i ? Path("chosen") : "typed") + std::to_string(k));
    }
  }
  view.Type(C::LogEditC, "again");
  Click(C::BrowseLogC);  // cancelled
  EXPECT_EQ(view.chooserStarts.back(), "again");
  EXPECT_EQ(view.Text(C::LogEditC), "again");
  EXPECT_EQ(session.settings.logDir[2], "again");
}

TEST_F(MainDialogTest, TheCachePathsChooserAloneOffersTheCachesOfTheUsersBrowsers) {
  // Any cache a layout marks, in the place of a browser's profile.
  const std::string cache = Path("home/.cache/chromium/Profile 1/Cache/Cache_Data");
  testing::WriteIe4Cache(cache, {});
  Open();
  Click(C::BrowseCache);
  Click(C::BrowseLogA);
  Click(C::BrowseIndex);
  ASSERT_EQ(view.chooserShortcuts.size(), 3u);
  ASSERT_EQ(view.chooserShortcuts[0].size(), 1u);
  EXPECT_EQ(view.chooserShortcuts[0][0].label, "Chromium Profile 1: " + cache);
  EXPECT_EQ(view.chooserShortcuts[0][0].path, cache);
  EXPECT_TRUE(view.chooserShortcuts[1].empty());
  EXPECT_TRUE(view.chooserShortcuts[2].empty());
}

TEST_F(MainDialogTest, AddToLogsRunsFromTheEventLoopOnceItsCommandHasReturned) {
  Open();
  TypeWorkingPaths();
  view.QueueChoice(Path("save/log"));
  Click(C::BrowseLogA);  // the chooser leaves the current directory where it was closed
  Click(C::AddToLogs);
  EXPECT_EQ(platform::CurrentDirectory(), start);
  EXPECT_TRUE(dialog->busy());
  EXPECT_TRUE(view.messages.empty()) << "the job must not have run yet";
  EXPECT_EQ(Disabled(), kJobDisabled);
  EXPECT_TRUE(view.control(C::Abort).shown);

  // A job command while busy and Esc are both ignored.
  dialog->OnCommand(C::RebuildAll);
  dialog->OnCommand(C::Cancel);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(view.closed);

  EXPECT_EQ(view.RunPosted(), 1);
  ExpectEndReport(kAddReport);
  EXPECT_NE(ReadFile("save/log/www.example.jp/a.html").find("<title>A</title>"), std::string::npos);
  EXPECT_TRUE(platform::GetStatus(Path("index/newidx.htm")).isRegular());

  dialog->OnCommand(C::Cancel);
  EXPECT_EQ(view.closed, DialogResult::Cancel);
}

struct SentCase {
  const char* name;
  C button;
  C logEdit;         // where the LogTree path is typed
  const char* page;  // the index page the job writes
};

class SentCommandTest : public MainDialogTest, public ::testing::WithParamInterface<SentCase> {};

TEST_P(SentCommandTest, RunsItsJobInsideTheCommand) {
  const SentCase& c = GetParam();
  if (c.button == C::Surf) {
    WriteFile("start/lumbrasurf.txt", "1 2 3 4 " + Path("save/log/www.example.jp/a.html\n"));
  }
  Open();
  TypeWorkingPaths();
  view.Type(C::CacheEdit, "");  // only the add reads a cache
  view.Type(C::LogEditA, "");
  view.Type(c.logEdit, Path("save/log"));
  WriteFile("save/log/www.example.jp/a.html", kPage);
  SnapshotDuringJob();
  dialog->OnCommand(c.button);
  ExpectEndReport(kRebuildReport);
  EXPECT_TRUE(platform::GetStatus(Path(c.page)).isRegular()) << c.page;
  EXPECT_TRUE(platform::GetStatus(Path("index/lumbra.htm")).isRegular());
  EXPECT_EQ(view.eventsHandled, 1);
  EXPECT_EQ(disabledDuringJob, kJobDisabled);
  EXPECT_TRUE(abortShownDuringJob);
  EXPECT_FALSE(view.HasPosted());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SentCommandTest,
    ::testing::Values(SentCase{"All", C::RebuildAll, C::LogEditA, "index/allidx_a.htm"},
                      SentCase{"A", C::RebuildA, C::LogEditA, "index/allidx_a.htm"},
                      SentCase{"B", C::RebuildB, C::LogEditB, "index/allidx_b.htm"},
                      SentCase{"C", C::RebuildC, C::LogEditC, "index/allidx_c.htm"},
                      SentCase{"D", C::RebuildD, C::LogEditD, "index/allidx_d.htm"},
                      SentCase{"E", C::RebuildE, C::LogEditE, "index/allidx_e.htm"},
                      SentCase{"Surf", C::Surf, C::LogEditA, "index/surfidx.htm"}),
    [](const ::testing::TestParamInfo<SentCase>& info) { return std::string(info.param.name); });

TEST_F(MainDialogTest, RebuildBesideAnEmptyPathDoesNothingAtAll) {
  Open();
  TypeWorkingPaths();  // only LogTree A is typed
  std::size_t statuses = view.statuses.size();
  for (C button : {C::RebuildB, C::RebuildC, C::RebuildD, C::RebuildE}) Click(button);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(view.questions.empty());
  EXPECT_EQ(view.statuses.size(), statuses);
  EXPECT_FALSE(dialog->busy());
  EXPECT_FALSE(view.HasPosted());
  EXPECT_EQ(Disabled(), kIdleDisabled);
  EXPECT_TRUE(FilesBelow("index").empty());
}

TEST_F(MainDialogTest, AJobWhoseIndexDirectoryAnotherJobUsesShowsWhyAndDoesNotStart) {
  Open();
  TypeWorkingPaths();
  WriteFile("save/log/www.example.jp/a.html", kPage);
  platform::DirectoryLock other;  // as another job holds it
  ASSERT_EQ(other.Take(Path("index"), nullptr).state, platform::LockState::Taken);
  Click(C::RebuildAll);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0], "ディレクトリーを他の処理（プロセスID " + std::to_string(::getpid()) +
                                  "）が使用中です\r" + Path("index") +
                                  "\r終了してから実行してください\rINDEX_DIR: " + Path("index"));
  ExpectIdleAfterJob();
  EXPECT_EQ(ReadFile("save/log/www.example.jp/a.html"), kPage);
  EXPECT_FALSE(platform::GetStatus(Path("index/lumbra.htm")).exists());

  // Once it is let go, the job runs, and lets go of its own locks at its end.
  other.Release();
  view.messages.clear();
  Click(C::RebuildAll);
  ExpectEndReport(kRebuildReport);
  EXPECT_EQ(other.Take(Path("index"), nullptr).state, platform::LockState::Taken);
}

TEST_F(MainDialogTest, AbortStopsTheJobAtItsNextProgress) {
  Open();
  TypeWorkingPaths();
  WriteFile("save/log/www.example.jp/a.html", kPage);
  view.QueueEvent([this] { Click(C::Abort); });
  int later = 0;
  view.QueueEvent([&later] { ++later; });
  Click(C::RebuildAll);
  EXPECT_EQ(later, 0) << "the job went on after the abort";
  ExpectEndReport(kStoppedRebuildReport);  // with the counts so far
  EXPECT_FALSE(platform::GetStatus(Path("index/allidx_a.htm")).exists());
  EXPECT_TRUE(platform::GetStatus(Path("index/lumbra.htm")).isRegular());
}

TEST_F(MainDialogTest, OnceTheEventLoopEndsEveryLaterProgressOfTheJobAnswersStop) {
  // The surf job goes on past the progress call of its database upkeep.
  testing::WriteSurfDatabase(Path("start/lumbra.mdb"),
                             "INSERT INTO Param VALUES (2, 1, '" + Path("save/log") +
                                 "', 'www.example.jp/', 1, 0);"
                                 "INSERT INTO Lumbra_log VALUES "
                                 "(2, 'http://www.example.jp/a.html', 200);");
  Open();
  TypeWorkingPaths();
  WriteFile("save/log/www.example.jp/a.html", kPage);
  view.QueueQuit();
  int later = 0;
  view.QueueEvent([&later] { ++later; });
  dialog->OnCommand(C::Surf);
  EXPECT_EQ(later, 0);
  EXPECT_EQ(ReadFile("save/log/www.example.jp/a.html"), kPage);
  ExpectEndReport(kStoppedRebuildReport);
}

TEST_F(MainDialogTest, UnreferencedLetsTheUserChooseItsRootFirst) {
  Open();
  TypeWorkingPaths();
  view.Type(C::CacheEdit, "");  // only the add reads a cache
  WriteFile("save/log/www.example.jp/a.html", kPage);
  MakeDir("other/log");
  view.Type(C::LogEditC, Path("other/log"));

  // Cancel ends the start: no message, the commands were never disabled.
  dialog->OnCommand(C::Unreferenced);
  EXPECT_EQ(view.chooserStarts, std::vector<std::string>{Path("other/log")});  // last LogTree
  EXPECT_FALSE(dialog->busy());
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(Disabled(), kIdleDisabled);

  view.QueueChoice(Path("save/log/www.example.jp"));
  dialog->OnCommand(C::Unreferenced);
  EXPECT_EQ(view.chooserStarts.back(), Path("other/log"));
  EXPECT_EQ(platform::CurrentDirectory(), start);  // the chooser moved it
  ExpectEndReport(kRebuildReport);
  // The list of the unreferenced links is linked from no page: the report says where it is.
  EXPECT_TRUE(view.messages[0].ends_with("\r結果のページ\r" + Path("index/www_l.htm")))
      << view.messages[0];
  EXPECT_NE(ReadFile("index/search/htm/www.example.jp.link_htm.htm")
                .find("http://other.example.com/x.html"),
            std::string::npos);
  EXPECT_FALSE(session.settings.unreferencedJob);

  // The root chosen last is where the chooser opens next; a refused start ends as any other.
  view.Type(C::IndexEdit, "");
  view.QueueChoice(Path("save/log"));
  dialog->OnCommand(C::Unreferenced);
  EXPECT_EQ(view.chooserStarts.back(), Path("save/log/www.example.jp"));
  EXPECT_EQ(view.messages.back(), "インデックス　ドライブが存在しません\rINDEX_DIR が空です");
  EXPECT_FALSE(session.settings.unreferencedJob);
  ExpectIdleAfterJob();
}

TEST_F(MainDialogTest, SaveAndTheDomainWindowWorkInTheStartDirectory) {
  Open();
  view.Type(C::CacheEdit, "c:\\cache");
  view.Type(C::LogEditD, "/d/log");
  Click(C::ReadBak);
  view.QueueChoice(MakeDir("elsewhere"));
  Click(C::BrowseIndex);
  Click(C::Save);
  EXPECT_EQ(platform::CurrentDirectory(), start);
  EXPECT_EQ(FilesBelow("elsewhere"), std::vector<std::string>{});

  // The next start reads back what the window showed.
  testing::ScriptedMainView reopened;
  MainDialog next(session, reopened, clock);
  next.Initialize();
  for (const PathRow& row : kPathRows) EXPECT_EQ(reopened.Text(row.edit), view.Text(row.edit));
  EXPECT_TRUE(reopened.control(C::ReadBak).checked);

  view.QueueChoice(Path("elsewhere"));
  Click(C::BrowseCache);
  Click(C::Domains);
  EXPECT_EQ(view.domainWindowDirs, std::vector<std::string>{start});
}

TEST_F(MainDialogTest, EnterMovesTheFocusExitClosesHelpAndAboutOpen) {
  Open();
  dialog->OnCommand(C::Next);  // the hidden default button: Enter
  EXPECT_EQ(view.focusMoves, 1);
  EXPECT_FALSE(view.closed);
  Click(C::Help);
  EXPECT_EQ(view.helpOpened, 1);
  EXPECT_FALSE(dialog->OnSystemCommand(0xF060));
  EXPECT_TRUE(view.about.empty());
  EXPECT_TRUE(dialog->OnSystemCommand(kAboutCommand | 3));
  EXPECT_EQ(view.about, (std::vector<std::string>{"バージョン情報", "Lumbra   Ver 2.56"}));
  Click(C::Exit);
  EXPECT_EQ(view.closed, DialogResult::Ok);
}

}  // namespace
}  // namespace lumbra
