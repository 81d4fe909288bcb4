#include "app/wx/tally_window.h"

#include <utility>

#include <wx/button.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/wx/chooser_dialog.h"

#include "platform/language.h"

namespace lumbra::gui {
namespace {

// A caption and a close box; neither minimise nor maximise box, and not resizable.
constexpr long kWindowStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;

constexpr std::string_view kDirCountText = platform::TrLater("ディレクトリー数");
constexpr std::string_view kFileCountText = platform::TrLater("ファイル数");
constexpr std::string_view kByteTotalText = platform::TrLater("ファイル容量");

}  // namespace

TallyWindow::TallyWindow(DriveSource drives)
    : ModalFrame(kTallyTitle, kWindowStyle),
      drives_(std::move(drives)),
      model_(*this),
      map_(this, "tally") {
  Build();
  Centre();
}

void TallyWindow::Build() {
  AddAboutMenu(kTallyAboutMenuText, kTallyAboutCommand,
               [this](int command) { model_.OnSystemCommand(command); });

  auto* panel = new wxPanel(this);
  int em = panel->GetCharWidth();
  auto button = [&](TallyControl id, std::string_view label) {
    auto* control = new wxButton(panel, static_cast<int>(id), Shown(label));
    map_.Add(static_cast<int>(id), control);
    control->Bind(wxEVT_BUTTON, [this, id](wxCommandEvent&) { model_.OnCommand(id); });
    return control;
  };
  // A count, right-aligned in a frame (GTK draws no border around a static text itself).
  auto count = [&](TallyControl id) {
    auto* frame = new wxPanel(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_SIMPLE);
    auto* text = new wxStaticText(frame, static_cast<int>(id), "", wxDefaultPosition,
                                  wxSize(18 * em, -1), wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    auto* inside = new wxBoxSizer(wxHORIZONTAL);
    inside->Add(text, 1, wxALL, em / 3);
    frame->SetSizer(inside);
    counts_[id] = text;
    map_.Add(static_cast<int>(id), text);
    return frame;
  };
  auto label = [&](std::string_view text) {
    return new wxStaticText(panel, wxID_ANY, Shown(text));
  };

  auto* edit = new wxTextCtrl(panel, static_cast<int>(TallyControl::Dir), "", wxDefaultPosition,
                              wxSize(24 * em, -1));
  dir_.emplace(edit);
  map_.Add(static_cast<int>(TallyControl::Dir), edit);

  // The rows of the window: DIR and "参照"; the directories and "開始"; the files; the bytes
  // and "終了".
  auto* grid = new wxFlexGridSizer(3, em, 2 * em);
  constexpr int kMiddle = wxALIGN_CENTER_VERTICAL;
  grid->Add(label(kTallyDirLabel), 0, kMiddle);
  grid->Add(edit, 0, wxEXPAND | kMiddle);
  grid->Add(button(TallyControl::Browse, kTallyBrowseLabel), 0, wxEXPAND | kMiddle);
  grid->Add(label(kDirCountText), 0, kMiddle);
  grid->Add(count(TallyControl::DirCount), 0, kMiddle);
  grid->Add(button(TallyControl::Start, kTallyStartLabel), 0, wxEXPAND | kMiddle);
  grid->Add(label(kFileCountText), 0, kMiddle);
  grid->Add(count(TallyControl::FileCount), 0, kMiddle);
  grid->AddSpacer(0);
  grid->Add(label(kByteTotalText), 0, kMiddle);
  grid->Add(count(TallyControl::ByteTotal), 0, kMiddle);
  grid->Add(button(TallyControl::Quit, kTallyQuitLabel), 0, wxEXPAND | kMiddle);

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(grid, 0, wxALL, 2 * em);
  panel->SetSizer(top);
  SetClientSize(top->GetMinSize());
  SetMinClientSize(top->GetMinSize());
  SetMaxClientSize(top->GetMinSize());

  Bind(wxEVT_CHAR_HOOK, &TallyWindow::OnKey, this);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    if (event.CanVeto()) return model_.OnCommand(TallyControl::Quit);
    EndRun();
  });
}

std::string TallyWindow::Text(TallyControl edit) {
  return edit == TallyControl::Dir ? dir_->Get() : std::string();
}

void TallyWindow::SetText(TallyControl control, std::string_view text) {
  if (control == TallyControl::Dir) return dir_->Set(text);
  auto it = counts_.find(control);
  if (it == counts_.end()) return;
  it->second->SetLabelText(ToWx(text));
  map_.Invalidate();
}

std::optional<std::string> TallyWindow::ChooseDirectory(std::string_view start) {
  return RunDirectoryChooser(this, drives_, start);
}

void TallyWindow::ShowAbout(std::string_view title, std::string_view text) {
  ShowAboutBox(this, title, text);
}

void TallyWindow::ShowMessage(std::string_view text) { ShowMessageBox(this, text); }

// Esc is "終了". Enter presses the button that has the focus; anywhere else it is the
// window's OK command, which closes it too.
void TallyWindow::OnKey(wxKeyEvent& event) {
  int key = event.GetKeyCode();
  if (key == WXK_ESCAPE) return model_.OnCommand(TallyControl::Quit);
  bool enter = key == WXK_RETURN || key == WXK_NUMPAD_ENTER;
  if (enter && dynamic_cast<wxButton*>(FindFocus()) == nullptr) {
    return model_.OnCommand(TallyControl::Ok);
  }
  event.Skip();
}

}  // namespace lumbra::gui
