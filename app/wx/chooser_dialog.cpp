#include "app/wx/chooser_dialog.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/time.h>

#include "app/wx/control_map.h"
#include "app/wx/dialog_view.h"
#include "app/wx/lumbra_icon.h"
#include "app/wx/wx_text.h"
#include "platform/language.h"

namespace lumbra::gui {
namespace {

using C = DirectoryChooser;

class ChooserDialog : public wxDialog {
 public:
  ChooserDialog(wxWindow* parent, const DriveSource& drives, std::string_view start)
      : wxDialog(parent, wxID_ANY, Shown("パス設定")),
        view_(this),
        model_(view_, drives, std::string(start)),
        map_(this, "chooser") {
    SetIcons(ApplicationIcons());
    Build();
    model_.Open();
    Fit();
    CentreOnParent();
  }

  std::optional<std::string> Run() {
    if (ShowModal() != wxID_OK) return std::nullopt;
    return model_.GetPath();
  }

 private:
  void Build() {
    int em = GetCharWidth();
    auto* left = new wxBoxSizer(wxVERTICAL);
    left->Add(new wxStaticText(this, wxID_ANY, Shown("ディレクトリー名")), 0, wxBOTTOM, 4);
    auto* edit = new wxTextCtrl(this, C::kPathEdit, "", wxDefaultPosition, wxSize(36 * em, -1));
    left->Add(edit, 0, wxEXPAND | wxBOTTOM, 8);
    // The logic sorts the names itself, so that a line means the same to it and to the list.
    list_ = new wxListBox(this, C::kDirectoryList, wxDefaultPosition,
                          wxSize(36 * em, 18 * GetCharHeight()), 0, nullptr, wxLB_SINGLE);
    left->Add(list_, 1, wxEXPAND | wxBOTTOM, 8);
    auto* driveRow = new wxBoxSizer(wxHORIZONTAL);
    driveRow->Add(new wxStaticText(this, wxID_ANY, Shown("ドライブ")), 0,
                  wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    auto* driveBox = new wxChoice(this, C::kDriveBox);
    driveRow->Add(driveBox, 1);
    left->Add(driveRow, 0, wxEXPAND);

    auto* buttons = new wxBoxSizer(wxVERTICAL);
    auto* ok = new wxButton(this, C::kOk, "OK");
    auto* cancel = new wxButton(this, C::kCancel, Shown("ｷｬﾝｾﾙ"));
    auto* hidden = new wxButton(this, C::kHiddenButton, "");
    hidden->Hide();
    buttons->Add(ok, 0, wxEXPAND | wxBOTTOM, 6);
    buttons->Add(cancel, 0, wxEXPAND);
    buttons->Add(hidden);

    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(left, 1, wxEXPAND | wxALL, 12);
    top->Add(buttons, 0, wxTOP | wxRIGHT | wxBOTTOM, 12);
    SetSizer(top);

    view_.AddEdit(C::kPathEdit, edit);
    view_.AddList(C::kDirectoryList, list_);
    view_.AddList(C::kDriveBox, driveBox);
    for (wxWindow* control : std::initializer_list<wxWindow*>{edit, list_, driveBox, ok, cancel}) {
      map_.Add(control->GetId(), control);
    }

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { model_.OnOk(); }, C::kOk);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { model_.OnCancel(); }, C::kCancel);
    Bind(
        wxEVT_CHOICE, [this](wxCommandEvent&) { model_.OnDriveSelected(); }, C::kDriveBox);
    Bind(wxEVT_LISTBOX, &ChooserDialog::OnLineSelected, this, C::kDirectoryList);
    Bind(wxEVT_LISTBOX_DCLICK, &ChooserDialog::OnLineActivated, this, C::kDirectoryList);
    Bind(wxEVT_CHAR_HOOK, &ChooserDialog::OnKey, this);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { model_.OnCancel(); });
  }

  void OnLineSelected(wxCommandEvent&) {
    enteredAt_ = wxGetUTCTimeMillis();
    model_.OnDirectorySelected();
  }

  // GTK sends no change for a click on the line already selected, and after every listing
  // that is the first line (".." mostly), so a double-click or Enter on the selected line
  // enters it too. The second click of a double-click that already entered a directory on
  // its first click is not taken again.
  void OnLineActivated(wxCommandEvent& event) {
    long interval = wxSystemSettings::GetMetric(wxSYS_DCLICK_MSEC, this);
    if (interval <= 0) interval = 500;
    if (wxGetUTCTimeMillis() - enteredAt_ < interval) return;
    if (event.GetInt() != list_->GetSelection()) return;
    enteredAt_ = wxGetUTCTimeMillis();
    model_.OnDirectorySelected();
  }

  // Esc is Cancel; Enter is OK (the default button) except on a button, which it presses,
  // and in the list, where it enters the selected line.
  void OnKey(wxKeyEvent& event) {
    int key = event.GetKeyCode();
    if (key == WXK_ESCAPE) return model_.OnCancel();
    wxWindow* focus = FindFocus();
    bool enter = key == WXK_RETURN || key == WXK_NUMPAD_ENTER;
    if (enter && focus != list_ && dynamic_cast<wxButton*>(focus) == nullptr) {
      return model_.OnOk();
    }
    event.Skip();
  }

  DialogView<ChooserView> view_;
  DirectoryChooser model_;
  ControlMap map_;
  wxListBox* list_ = nullptr;
  wxLongLong enteredAt_ = 0;
};

}  // namespace

std::optional<std::string> RunDirectoryChooser(wxWindow* parent, const DriveSource& drives,
                                               std::string_view start) {
  ChooserDialog dialog(parent, drives, start);
  return dialog.Run();
}

}  // namespace lumbra::gui
