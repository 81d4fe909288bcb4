// The main window "Lumbra's Log" without its toolkit: the controls by their ids, the view a
// window implements (MainView), and the model that takes every decision (MainDialog).
//
// The window only shows what the model tells it and forwards the user's clicks to
// MainDialog::OnCommand; the model holds the paths, the switches and the busy state and runs
// the jobs through the job driver. Texts cross the view in UTF-8 ("\r" in a message is a line
// break); edit texts are paths, bytes as typed.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/directory_chooser.h"
#include "app/job_driver.h"
#include "core/frontend.h"
#include "platform/clock.h"
#include "platform/language.h"

namespace lumbra {

// The controls of the main window, by their command ids.
enum class MainControl : int {
  Exit = 1,    // "終了": closes the window with OK
  Cancel = 2,  // hidden: Esc and the close box
  CacheEdit = 1000,
  LogEditA = 1001,
  LogEditB = 1003,
  LogEditC = 1008,
  LogEditD = 1012,
  LogEditE = 1015,
  IndexEdit = 1016,
  BrowseCache = 1021,
  BrowseLogA = 1022,
  BrowseLogB = 1023,
  BrowseLogC = 1024,
  BrowseLogD = 1025,
  BrowseLogE = 1026,
  BrowseIndex = 1027,
  RebuildA = 1039,
  RebuildB = 1038,
  RebuildC = 1037,
  RebuildD = 1036,
  RebuildE = 1029,
  ReadAll = 1006,
  ReadNew = 1007,
  ReadHtm = 1014,
  ReadBak = 1031,
  UnrefRef = 1030,
  ReadRef = 1009,
  ReadCnt = 1019,
  ReadAel = 1017,
  ReadDom = 1033,
  ExecLog = 1020,
  Status = 1011,
  Save = 1013,
  Help = 1035,
  Domains = 1034,
  Unreferenced = 1032,
  Abort = 1028,
  Surf = 1040,
  AddToLogs = 1005,
  RebuildAll = 1004,
  Next = 1010,  // hidden default button: Enter moves the focus on
};

enum class ControlKind { Text, Edit, Button, CheckBox };

// Where a control sits, top to bottom: the status line in its frame; the frame "パス設定"
// with one row per path; the frame "条件設定" with the columns "ログ読込" and "参照設定"; the
// command buttons; and the two hidden buttons of the keyboard.
enum class ControlGroup { Status, Paths, LogReading, References, Commands, Keys };

// The title of a group's frame or column; empty for the groups without one.
std::string_view GroupTitle(ControlGroup group);
inline constexpr std::string_view kConditionsFrameTitle =
    platform::TrLater("条件設定");  // LogReading + References

struct ControlSpec {
  MainControl id;
  ControlKind kind;
  std::string_view label;  // the caption; for an edit, the label in front of it
  ControlGroup group;
  bool hidden;    // at creation
  bool disabled;  // at creation
};

// Every control of the window in layout order, as the window is built from it.
// Counted by the compiler: a stated size larger than the list would add empty entries.
inline constexpr auto kMainControls = std::to_array<ControlSpec>({
    {MainControl::Status, ControlKind::Text, "", ControlGroup::Status, false, false},
    {MainControl::CacheEdit, ControlKind::Edit, platform::TrLater("キャッシュ"),
     ControlGroup::Paths, false, false},
    {MainControl::BrowseCache, ControlKind::Button, platform::TrLater("参照"), ControlGroup::Paths,
     false, false},
    {MainControl::LogEditA, ControlKind::Edit, platform::TrLater("ログ　　Ａ"), ControlGroup::Paths,
     false, false},
    {MainControl::BrowseLogA, ControlKind::Button, platform::TrLater("参照"), ControlGroup::Paths,
     false, false},
    {MainControl::RebuildA, ControlKind::Button, platform::TrLater("再構"), ControlGroup::Paths,
     false, false},
    {MainControl::LogEditB, ControlKind::Edit, platform::TrLater("　　　　Ｂ"), ControlGroup::Paths,
     false, false},
    {MainControl::BrowseLogB, ControlKind::Button, platform::TrLater("参照"), ControlGroup::Paths,
     false, false},
    {MainControl::RebuildB, ControlKind::Button, platform::TrLater("再構"), ControlGroup::Paths,
     false, false},
    {MainControl::LogEditC, ControlKind::Edit, platform::TrLater("　　　　Ｃ"), ControlGroup::Paths,
     false, false},
    {MainControl::BrowseLogC, ControlKind::Button, platform::TrLater("参照"), ControlGroup::Paths,
     false, false},
    {MainControl::RebuildC, ControlKind::Button, platform::TrLater("再構"), ControlGroup::Paths,
     false, false},
    {MainControl::LogEditD, ControlKind::Edit, platform::TrLater("　　　　Ｄ"), ControlGroup::Paths,
     false, false},
    {MainControl::BrowseLogD, ControlKind::Button, platform::TrLater("参照"), ControlGroup::Paths,
     false, false},
    {MainControl::RebuildD, ControlKind::Button, platform::TrLater("再構"), ControlGroup::Paths,
     false, false},
    {MainControl::LogEditE, ControlKind::Edit, platform::TrLater("　　　　Ｅ"), ControlGroup::Paths,
     false, false},
    {MainControl::BrowseLogE, ControlKind::Button, platform::TrLater("参照"), ControlGroup::Paths,
     false, false},
    {MainControl::RebuildE, ControlKind::Button, platform::TrLater("再構"), ControlGroup::Paths,
     false, false},
    {MainControl::IndexEdit, ControlKind::Edit, platform::TrLater("インデックス"),
     ControlGroup::Paths, false, false},
    {MainControl::BrowseIndex, ControlKind::Button, platform::TrLater("参照"), ControlGroup::Paths,
     false, false},
    {MainControl::ReadAll, ControlKind::CheckBox, "ALL", ControlGroup::LogReading, false, false},
    {MainControl::ReadNew, ControlKind::CheckBox, "NEW", ControlGroup::LogReading, false, false},
    {MainControl::ReadHtm, ControlKind::CheckBox, platform::TrLater("html 再読込"),
     ControlGroup::LogReading, false, false},
    {MainControl::ReadBak, ControlKind::CheckBox, platform::TrLater("旧file保護"),
     ControlGroup::LogReading, false, false},
    {MainControl::UnrefRef, ControlKind::CheckBox, platform::TrLater("未参照参照"),
     ControlGroup::LogReading, true, true},
    {MainControl::ReadRef, ControlKind::CheckBox, platform::TrLater("外部リンク有"),
     ControlGroup::References, false, false},
    {MainControl::ReadCnt, ControlKind::CheckBox, platform::TrLater("カウンター表示無効"),
     ControlGroup::References, false, false},
    {MainControl::ReadAel, ControlKind::CheckBox, platform::TrLater("A-E 間リンク有"),
     ControlGroup::References, false, false},
    {MainControl::ReadDom, ControlKind::CheckBox, platform::TrLater("関連 HTML 再構成"),
     ControlGroup::References, false, false},
    {MainControl::ExecLog, ControlKind::CheckBox, platform::TrLater("実行記録"),
     ControlGroup::References, false, false},
    {MainControl::Save, ControlKind::Button, platform::TrLater("設定記憶"), ControlGroup::Commands,
     false, false},
    {MainControl::Help, ControlKind::Button, platform::TrLater("ヘルプ"), ControlGroup::Commands,
     false, false},
    {MainControl::Domains, ControlKind::Button, platform::TrLater("制限設定"),
     ControlGroup::Commands, false, false},
    {MainControl::Unreferenced, ControlKind::Button, platform::TrLater("未参照"),
     ControlGroup::Commands, true, true},
    {MainControl::Abort, ControlKind::Button, platform::TrLater("実行中断"), ControlGroup::Commands,
     true, false},
    {MainControl::Surf, ControlKind::Button, platform::TrLater("Surf再構成"),
     ControlGroup::Commands, true, true},
    {MainControl::AddToLogs, ControlKind::Button, platform::TrLater("ログ追加"),
     ControlGroup::Commands, false, false},
    {MainControl::RebuildAll, ControlKind::Button, platform::TrLater("HTML再構成"),
     ControlGroup::Commands, false, false},
    {MainControl::Exit, ControlKind::Button, platform::TrLater("終了"), ControlGroup::Commands,
     false, false},
    {MainControl::Next, ControlKind::Button, "", ControlGroup::Keys, true, false},
    {MainControl::Cancel, ControlKind::Button, "", ControlGroup::Keys, true, false},
});

// One row of the frame "パス設定": the edit, its browse button and, for a LogTree, its
// rebuild button. Rows in order: cache, LogTrees A..E, index.
struct PathRow {
  MainControl edit;
  MainControl browse;
  std::optional<MainControl> rebuild;
};
inline constexpr std::array<PathRow, 7> kPathRows = {{
    {MainControl::CacheEdit, MainControl::BrowseCache, std::nullopt},
    {MainControl::LogEditA, MainControl::BrowseLogA, MainControl::RebuildA},
    {MainControl::LogEditB, MainControl::BrowseLogB, MainControl::RebuildB},
    {MainControl::LogEditC, MainControl::BrowseLogC, MainControl::RebuildC},
    {MainControl::LogEditD, MainControl::BrowseLogD, MainControl::RebuildD},
    {MainControl::LogEditE, MainControl::BrowseLogE, MainControl::RebuildE},
    {MainControl::IndexEdit, MainControl::BrowseIndex, std::nullopt},
}};

inline constexpr std::string_view kMainWindowTitle = "Lumbra's Log";
inline constexpr std::string_view kMessageCaption = "Lumbra";  // of every message and question
inline constexpr std::string_view kAboutMenuText = platform::TrLater("バージョン情報 (&A)...");
inline constexpr int kAboutCommand = 16;  // its system command; the low four bits are ignored
inline constexpr std::string_view kAboutTitle = platform::TrLater("バージョン情報");
inline constexpr std::string_view kAboutText = "Lumbra   Ver 2.56";

enum class DialogResult { Ok, Cancel };

// What handling one pending event of the toolkit came to.
enum class PendingEvent {
  None,     // nothing was pending
  Handled,  // one event was handled
  Quit,     // the event loop was told to end
};

// What the window does for the model. Every call is made on the user-interface thread.
class MainView {
 public:
  virtual ~MainView() = default;

  // The text of an edit field, as typed.
  virtual std::string Text(MainControl edit) = 0;
  // Sets the text of an edit field or of the status line.
  virtual void SetText(MainControl id, std::string_view text) = 0;
  // The check boxes never change by themselves: a click only reaches OnCommand, and the
  // model sets the state it shows.
  virtual void SetChecked(MainControl box, bool checked) = 0;
  virtual void SetEnabled(MainControl id, bool enabled) = 0;
  virtual void SetShown(MainControl id, bool shown) = 0;
  // Moves the keyboard focus to the next control.
  virtual void FocusNext() = 0;
  // Ends the window's modal run with this result.
  virtual void Close(DialogResult result) = 0;
  // A modal message box captioned kMessageCaption with an OK button.
  virtual void ShowMessage(std::string_view text) = 0;
  // A modal Yes/No question captioned kMessageCaption; true for Yes.
  virtual bool AskYesNo(std::string_view text) = 0;
  // Handles at most one pending event of the toolkit (which may call OnCommand).
  virtual PendingEvent HandleOnePendingEvent() = 0;
  // Runs `task` once the current event handler has returned and the event loop runs again.
  virtual void Post(std::function<void()> task) = 0;
  // Opens the manual at its contents.
  virtual void OpenHelp() = 0;
  // The modal about box: the application icon, `text` and an OK button.
  virtual void ShowAbout(std::string_view title, std::string_view text) = 0;
  // The directory chooser, modal, opened at `start`, its drive box listing `shortcuts` after
  // the drives; the chosen path on OK, nullopt on Cancel. It may change the current directory.
  virtual std::optional<std::string> ChooseDirectory(std::string_view start,
                                                     const std::vector<Shortcut>& shortcuts) = 0;
  // The excluded-domain window, modal; it works on lumbra-url.ini of the current directory.
  virtual void EditExcludedDomains() = 0;
};

// The model of the main window. It is the front end of the jobs it starts: their progress
// and status texts go to the status line, their messages and questions to the view.
class MainDialog : public Frontend {
 public:
  // Takes the current directory as the start directory, reads its lumbra.ini into the
  // session's settings (the defaults when there is none) and sees whether surf data lies
  // there. Touches no control: the window may not be built yet.
  MainDialog(Session& session, MainView& view, platform::Clock& clock);

  // Puts the state on the controls once they exist: the paths into the edits, the switches
  // into the check boxes, the idle text; "Surf再構成" enabled when there is surf data, else
  // disabled and hidden.
  void Initialize();

  // A click on a button or a check box; Enter is Next, Esc and the close box are Cancel.
  void OnCommand(MainControl id);

  // A command of the system menu; true when it was the about entry (shown).
  bool OnSystemCommand(int command);

  // Frontend: shows the text in the status line, lets the view handle at most one pending
  // event, and answers 0 once "実行中断" has cleared busy (or the event loop was told to end,
  // for the rest of that job).
  int ReportProgress(std::string_view text) override;
  void ShowStatus(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;

  bool busy() const { return session_.busy; }

 private:
  void TakeEditTexts();
  void PutEditTexts();
  void ToggleSwitch(MainControl box);
  void BrowsePath(std::size_t row);
  void JobCommand(JobKind kind, int logNumber);
  void ListUnreferenced();
  void ShowJobState(bool running);

  Session& session_;
  MainView& view_;
  JobDriver driver_;
  bool quitSeen_ = false;
};

}  // namespace lumbra
