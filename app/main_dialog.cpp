#include "app/main_dialog.h"

#include "app/settings.h"
#include "platform/fs.h"
#include "platform/language.h"

namespace lumbra {
namespace {

// The plain switches: a click turns the switch over and the box shows it. ALL and NEW are
// handled apart, since one of them always excludes the other.
struct SwitchBox {
  MainControl box;
  bool JobSwitches::*flag;
};
constexpr std::array<SwitchBox, 10> kSwitchBoxes = {{
    {MainControl::ReadAll, &JobSwitches::readAll},
    {MainControl::ReadNew, &JobSwitches::readNew},
    {MainControl::ReadRef, &JobSwitches::readRef},
    {MainControl::ReadHtm, &JobSwitches::readHtm},
    {MainControl::ReadAel, &JobSwitches::readAel},
    {MainControl::ReadCnt, &JobSwitches::readCnt},
    {MainControl::ExecLog, &JobSwitches::execLog},
    {MainControl::UnrefRef, &JobSwitches::unrefRef},
    {MainControl::ReadBak, &JobSwitches::readBak},
    {MainControl::ReadDom, &JobSwitches::readDom},
}};

// The commands a job disables: no second job and no closing while one runs. The edits,
// browse buttons, switches, save, domain window and help stay usable.
constexpr std::array<MainControl, 9> kJobCommands = {
    MainControl::RebuildAll, MainControl::AddToLogs, MainControl::Surf,
    MainControl::RebuildA,   MainControl::RebuildB,  MainControl::RebuildC,
    MainControl::RebuildD,   MainControl::RebuildE,  MainControl::Exit,
};

std::string& PathOf(JobSettings& settings, std::size_t row) {
  if (row == 0) return settings.cacheDir;
  if (row <= settings.logDir.size()) return settings.logDir[row - 1];
  return settings.indexDir;
}

}  // namespace

std::string_view GroupTitle(ControlGroup group) {
  switch (group) {
    case ControlGroup::Paths:
      return platform::TrLater("パス設定");
    case ControlGroup::LogReading:
      return platform::TrLater("ログ読込");
    case ControlGroup::References:
      return platform::TrLater("参照設定");
    case ControlGroup::Status:
    case ControlGroup::Commands:
    case ControlGroup::Keys:
      return "";
  }
  return "";
}

MainDialog::MainDialog(Session& session, MainView& view, platform::Clock& clock)
    : session_(session), view_(view), driver_(session, *this, clock) {
  session_.startDir = platform::CurrentDirectory();
  LoadSettings(session_.startDir, session_.settings);
  session_.surfAvailable = DetectSurfData(session_.startDir);
  session_.busy = false;
  driver_.onBusyChanged = [this](bool running) { ShowJobState(running); };
}

void MainDialog::Initialize() {
  PutEditTexts();
  for (const SwitchBox& s : kSwitchBoxes) view_.SetChecked(s.box, session_.settings.*s.flag);
  ShowStatus(platform::Tr(kIdleText));
  view_.SetEnabled(MainControl::Surf, session_.surfAvailable);
  if (!session_.surfAvailable) view_.SetShown(MainControl::Surf, false);
}

void MainDialog::TakeEditTexts() {
  for (std::size_t row = 0; row < kPathRows.size(); ++row) {
    PathOf(session_.settings, row) = view_.Text(kPathRows[row].edit);
  }
}

void MainDialog::PutEditTexts() {
  for (std::size_t row = 0; row < kPathRows.size(); ++row) {
    view_.SetText(kPathRows[row].edit, PathOf(session_.settings, row));
  }
}

void MainDialog::OnCommand(MainControl id) {
  for (std::size_t row = 0; row < kPathRows.size(); ++row) {
    const PathRow& r = kPathRows[row];
    if (id == r.browse) return BrowsePath(row);
    // A rebuild beside an empty path does nothing at all: no message, no busy state.
    if (id == r.rebuild) {
      if (!view_.Text(r.edit).empty()) JobCommand(JobKind::RebuildOneLog, static_cast<int>(row));
      return;
    }
  }
  for (const SwitchBox& s : kSwitchBoxes) {
    if (id == s.box) return ToggleSwitch(id);
  }
  switch (id) {
    case MainControl::AddToLogs:
      return JobCommand(JobKind::AddToLogs, 0);
    case MainControl::RebuildAll:
      return JobCommand(JobKind::RebuildAllLogs, 0);
    case MainControl::Surf:
      return JobCommand(JobKind::RebuildSurf, 0);
    case MainControl::Unreferenced:
      return ListUnreferenced();
    case MainControl::Abort:
      return driver_.Abort();
    case MainControl::Save:
      TakeEditTexts();
      platform::ChangeDirectory(session_.startDir);
      SaveSettings(session_.startDir, session_.settings, *this);
      return;
    case MainControl::Domains:
      // The domain window works on lumbra-url.ini of the current directory, which a browse
      // may have moved.
      platform::ChangeDirectory(session_.startDir);
      return view_.EditExcludedDomains();
    case MainControl::Help:
      return view_.OpenHelp();
    case MainControl::Next:
      return view_.FocusNext();
    case MainControl::Exit:
      // Disabled while a job runs; a job must never lose its window under it.
      if (!session_.busy) view_.Close(DialogResult::Ok);
      return;
    case MainControl::Cancel:
      if (!session_.busy) view_.Close(DialogResult::Cancel);
      return;
    default:
      return;
  }
}

bool MainDialog::OnSystemCommand(int command) {
  if ((command & ~0xF) != kAboutCommand) return false;
  view_.ShowAbout(kAboutTitle, kAboutText);
  return true;
}

void MainDialog::ToggleSwitch(MainControl box) {
  JobSettings& s = session_.settings;
  if (box == MainControl::ReadAll || box == MainControl::ReadNew) {
    // Exactly one of ALL and NEW is on after either click.
    bool& clicked = box == MainControl::ReadAll ? s.readAll : s.readNew;
    bool& other = box == MainControl::ReadAll ? s.readNew : s.readAll;
    bool old = clicked;
    clicked = !old;
    other = old;
    view_.SetChecked(MainControl::ReadAll, s.readAll);
    view_.SetChecked(MainControl::ReadNew, s.readNew);
    return;
  }
  for (const SwitchBox& sw : kSwitchBoxes) {
    if (sw.box != box) continue;
    s.*sw.flag = !(s.*sw.flag);
    view_.SetChecked(box, s.*sw.flag);
  }
}

void MainDialog::BrowsePath(std::size_t row) {
  TakeEditTexts();
  std::string& path = PathOf(session_.settings, row);
  // The cache path's chooser offers the caches of the user's browsers beside the drives.
  std::vector<Shortcut> caches;
  if (kPathRows[row].edit == MainControl::CacheEdit) {
    for (const BrowserCache& found : FindBrowserCaches(session_.layouts, session_.user)) {
      caches.push_back(
          {found.browser + " " + found.cache.profile + ": " + found.cache.dir, found.cache.dir});
    }
  }
  if (std::optional<std::string> chosen = view_.ChooseDirectory(path, caches)) path = *chosen;
  // Every edit gets its text back, so a cancelled browse leaves the paths as typed.
  PutEditTexts();
}

void MainDialog::JobCommand(JobKind kind, int logNumber) {
  TakeEditTexts();
  if (!driver_.Command(kind, logNumber)) return;
  // "ログ追加" runs once this command has returned and the event loop runs again.
  if (driver_.HasPostedJobs()) view_.Post([this] { driver_.RunPostedJobs(); });
}

void MainDialog::ListUnreferenced() {
  // Every path as typed now, so the start checks see the same paths as any other job.
  TakeEditTexts();
  if (!driver_.BeginStart()) return;
  JobSettings& s = session_.settings;
  std::string start = s.unreferencedDir;
  for (auto it = s.logDir.rbegin(); start.empty() && it != s.logDir.rend(); ++it) start = *it;
  std::optional<std::string> chosen = view_.ChooseDirectory(start, {});
  if (!chosen) {
    driver_.CancelStart();
    return;
  }
  s.unreferencedDir = *chosen;
  platform::ChangeDirectory(session_.startDir);  // the chooser moved it
  s.unreferencedJob = true;
  if (driver_.FinishStart(JobKind::ListUnreferenced)) driver_.RunJob(JobKind::ListUnreferenced);
  s.unreferencedJob = false;
}

void MainDialog::ShowJobState(bool running) {
  for (MainControl id : kJobCommands) view_.SetEnabled(id, !running);
  view_.SetShown(MainControl::Abort, running);
  if (!running) quitSeen_ = false;
}

int MainDialog::ReportProgress(std::string_view text) {
  view_.SetText(MainControl::Status, text);
  if (quitSeen_) return 0;
  if (view_.HandleOnePendingEvent() == PendingEvent::Quit) {
    quitSeen_ = true;
    return 0;
  }
  return session_.busy ? 1 : 0;
}

void MainDialog::ShowStatus(std::string_view text) { view_.SetText(MainControl::Status, text); }

void MainDialog::ShowMessage(std::string_view text) { view_.ShowMessage(text); }

bool MainDialog::AskYesNo(std::string_view text) { return view_.AskYesNo(text); }

}  // namespace lumbra
