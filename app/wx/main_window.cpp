#include "app/wx/main_window.h"

#include <utility>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "app/manual.h"
#include "app/wx/chooser_dialog.h"
#include "app/wx/domains_dialog.h"
#include "platform/language.h"

#ifndef LUMBRA_DOCS_DIR
#define LUMBRA_DOCS_DIR ""
#endif

namespace lumbra::gui {
namespace {

// Not resizable, with a minimise box and a close box.
constexpr long kWindowStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX;

}  // namespace

MainWindow::MainWindow(Session& session, platform::Clock& clock, DriveSource drives)
    : ModalFrame(kMainWindowTitle, kWindowStyle),
      drives_(std::move(drives)),
      model_(session, *this, clock),
      map_(this, "main") {
  Build();
  model_.Initialize();
  FitWindow();
  Centre();
}

void MainWindow::Build() {
  AddAboutMenu(kAboutMenuText, kAboutCommand,
               [this](int command) { model_.OnSystemCommand(command); });

  panel_ = new wxPanel(this);
  int em = panel_->GetCharWidth();
  int gap = em;

  auto* status = new wxStaticBoxSizer(wxHORIZONTAL, panel_);
  auto* paths = new wxStaticBoxSizer(wxVERTICAL, panel_, Shown(GroupTitle(ControlGroup::Paths)));
  auto* pathGrid = new wxFlexGridSizer(4, gap / 2, gap / 2);
  pathGrid->AddGrowableCol(1);
  paths->Add(pathGrid, 1, wxEXPAND | wxALL, gap / 2);
  auto* conditions = new wxStaticBoxSizer(wxHORIZONTAL, panel_, Shown(kConditionsFrameTitle));
  auto* commands = new wxBoxSizer(wxHORIZONTAL);
  std::map<ControlGroup, wxBoxSizer*> columns;  // the check-box columns of "条件設定"

  for (const ControlSpec& entry : kMainControls) {
    int id = static_cast<int>(entry.id);
    wxString label = Shown(entry.label);
    wxWindow* control = nullptr;
    switch (entry.group) {
      case ControlGroup::Status: {
        auto* text = new wxStaticText(status->GetStaticBox(), id, "", wxDefaultPosition,
                                      wxDefaultSize, wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
        text->SetMinSize(wxSize(-1, text->GetCharHeight()));
        status->Add(text, 1, wxEXPAND | wxALL, gap / 2);
        control = text;
        break;
      }
      case ControlGroup::Paths: {
        wxWindow* box = paths->GetStaticBox();
        if (entry.kind == ControlKind::Edit) {
          pathGrid->Add(new wxStaticText(box, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
          auto* edit = new wxTextCtrl(box, id, "", wxDefaultPosition, wxSize(44 * em, -1));
          edits_.emplace(entry.id, PathEdit(edit));
          pathGrid->Add(edit, 1, wxEXPAND | wxALIGN_CENTER_VERTICAL);
          control = edit;
        } else {
          control = new wxButton(box, id, label, wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
          control->SetMinSize(wxSize(6 * em, -1));
          pathGrid->Add(control, 0, wxALIGN_CENTER_VERTICAL);
          // A row without a rebuild button keeps its fourth cell empty.
          for (const PathRow& row : kPathRows) {
            if (row.browse == entry.id && !row.rebuild) pathGrid->AddSpacer(0);
          }
        }
        break;
      }
      case ControlGroup::LogReading:
      case ControlGroup::References: {
        wxWindow* box = conditions->GetStaticBox();
        wxBoxSizer*& column = columns[entry.group];
        if (column == nullptr) {
          column = new wxBoxSizer(wxVERTICAL);
          column->Add(new wxStaticText(box, wxID_ANY, Shown(GroupTitle(entry.group))), 0, wxBOTTOM,
                      gap / 2);
          conditions->Add(column, 0, wxALL, gap / 2);
          conditions->AddSpacer(3 * em);
        }
        control = new wxCheckBox(box, id, label);
        column->Add(control, 0, wxLEFT | wxBOTTOM, gap / 2);
        break;
      }
      case ControlGroup::Commands:
      case ControlGroup::Keys:
        control = new wxButton(panel_, id, label);
        commands->Add(control, 0, wxRIGHT, gap / 2);
        // The job commands keep their place at the right when "実行中断" appears.
        if (entry.id == MainControl::Domains) commands->AddStretchSpacer();
        break;
    }
    if (entry.hidden) control->Hide();
    if (entry.disabled) control->Disable();
    controls_[entry.id] = control;
    map_.Add(id, control);
  }

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(status, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);
  top->Add(paths, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);
  top->Add(conditions, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);
  top->Add(commands, 0, wxEXPAND | wxALL, gap);
  panel_->SetSizer(top);

  Bind(wxEVT_BUTTON, &MainWindow::OnButton, this);
  Bind(wxEVT_CHECKBOX, &MainWindow::OnCheckBox, this);
  Bind(wxEVT_CHAR_HOOK, &MainWindow::OnKey, this);
  Bind(wxEVT_CLOSE_WINDOW, &MainWindow::OnCloseBox, this);
}

// The window is as wide as it needs to be with "実行中断" shown too, so that the buttons
// never crowd during a job.
void MainWindow::FitWindow() {
  wxWindow* abort = Find(MainControl::Abort);
  bool shown = abort->IsShown();
  abort->Show();
  wxSize size = panel_->GetSizer()->GetMinSize();
  abort->Show(shown);
  SetClientSize(size);
  SetMinClientSize(size);
  SetMaxClientSize(size);
  panel_->SetSize(GetClientSize());
  panel_->Layout();
}

wxWindow* MainWindow::Find(MainControl id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

std::string MainWindow::Text(MainControl edit) {
  auto it = edits_.find(edit);
  return it == edits_.end() ? std::string() : it->second.Get();
}

void MainWindow::SetText(MainControl id, std::string_view text) {
  if (auto it = edits_.find(id); it != edits_.end()) return it->second.Set(text);
  if (id != MainControl::Status || text == status_) return;
  status_ = text;
  // As text, not as a label: '&' in a path is no mnemonic.
  static_cast<wxStaticText*>(Find(id))->SetLabelText(ToWx(text));
}

void MainWindow::SetChecked(MainControl box, bool checked) {
  checked_[box] = checked;
  if (auto* check = dynamic_cast<wxCheckBox*>(Find(box))) check->SetValue(checked);
}

void MainWindow::SetEnabled(MainControl id, bool enabled) {
  if (wxWindow* control = Find(id)) control->Enable(enabled);
}

void MainWindow::SetShown(MainControl id, bool shown) {
  wxWindow* control = Find(id);
  if (control == nullptr || control->IsShown() == shown) return;
  control->Show(shown);
  panel_->Layout();
  map_.Invalidate();
}

void MainWindow::FocusNext() {
  if (wxWindow* focus = FindFocus()) focus->Navigate(wxNavigationKeyEvent::IsForward);
}

void MainWindow::Close(DialogResult result) {
  result_ = result;
  EndRun();
}

void MainWindow::ShowMessage(std::string_view text) { ShowMessageBox(this, text); }

bool MainWindow::AskYesNo(std::string_view text) { return AskYesNoBox(this, text); }

PendingEvent MainWindow::HandleOnePendingEvent() {
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  if (loop == nullptr || !loop->Pending()) return PendingEvent::None;
  return loop->Dispatch() ? PendingEvent::Handled : PendingEvent::Quit;
}

void MainWindow::Post(std::function<void()> task) { CallAfter(std::move(task)); }

void MainWindow::OpenHelp() {
  wxFileName program(wxStandardPaths::Get().GetExecutablePath());
  std::string manual =
      ManualPath(program.GetPath().utf8_string(), LUMBRA_DOCS_DIR, platform::PrefersEnglish());
  wxLaunchDefaultBrowser(wxFileName::FileNameToURL(wxFileName(ToWx(manual))));
}

void MainWindow::ShowAbout(std::string_view title, std::string_view text) {
  ShowAboutBox(this, title, text);
}

std::optional<std::string> MainWindow::ChooseDirectory(std::string_view start,
                                                       const std::vector<Shortcut>& shortcuts) {
  DriveSource drives = drives_;
  drives.shortcuts = shortcuts;
  return RunDirectoryChooser(this, drives, start);
}

void MainWindow::EditExcludedDomains() { RunExcludedDomains(this, drives_); }

void MainWindow::OnButton(wxCommandEvent& event) {
  auto id = static_cast<MainControl>(event.GetId());
  if (Find(id) != event.GetEventObject()) return event.Skip();
  model_.OnCommand(id);
}

// A check box never changes by itself: the click goes back to what the model last showed,
// and the model sets the state that follows.
void MainWindow::OnCheckBox(wxCommandEvent& event) {
  auto id = static_cast<MainControl>(event.GetId());
  auto* box = dynamic_cast<wxCheckBox*>(Find(id));
  if (box == nullptr || box != event.GetEventObject()) return event.Skip();
  box->SetValue(checked_[id]);
  model_.OnCommand(id);
}

// Esc is the hidden cancel button. Enter presses the button that has the focus; anywhere
// else it is the hidden default button, which moves the focus on.
void MainWindow::OnKey(wxKeyEvent& event) {
  int key = event.GetKeyCode();
  if (key == WXK_ESCAPE) return model_.OnCommand(MainControl::Cancel);
  bool enter = key == WXK_RETURN || key == WXK_NUMPAD_ENTER;
  if (enter && dynamic_cast<wxButton*>(FindFocus()) == nullptr) {
    return model_.OnCommand(MainControl::Next);
  }
  event.Skip();
}

// The close box is the hidden cancel button too. When the window must close (the session
// ends), it ends its run whatever the model says.
void MainWindow::OnCloseBox(wxCloseEvent& event) {
  if (event.CanVeto()) return model_.OnCommand(MainControl::Cancel);
  Close(DialogResult::Cancel);
}

}  // namespace lumbra::gui
