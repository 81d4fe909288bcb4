#include "app/wx/domains_dialog.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "app/excluded_domains_dialog.h"
#include "app/wx/chooser_dialog.h"
#include "app/wx/control_map.h"
#include "app/wx/dialog_view.h"
#include "app/wx/lumbra_icon.h"
#include "app/wx/wx_text.h"
#include "platform/language.h"

namespace lumbra::gui {
namespace {

using D = ExcludedDomainsDialog;

class DomainsDialogView : public DialogView<DomainsView> {
 public:
  DomainsDialogView(wxDialog* dialog, const DriveSource& drives)
      : DialogView<DomainsView>(dialog), drives_(drives) {}
  std::optional<std::string> ChooseDirectory(std::string_view start) override {
    return RunDirectoryChooser(dialog(), drives_, start);
  }

 private:
  const DriveSource& drives_;
};

class DomainsDialog : public wxDialog {
 public:
  DomainsDialog(wxWindow* parent, const DriveSource& drives)
      : wxDialog(parent, wxID_ANY, Shown("保存禁止　ドメイン名設定")),
        view_(this, drives),
        model_(view_),
        map_(this, "domains") {
    SetIcons(ApplicationIcons());
    Build();
    model_.Open();
    Fit();
    CentreOnParent();
  }

 private:
  void Build() {
    int em = GetCharWidth();
    auto* left = new wxBoxSizer(wxVERTICAL);
    auto* edit = new wxTextCtrl(this, D::kDomainEdit, "", wxDefaultPosition, wxSize(32 * em, -1));
    // Sorted by the logic, which acts on positions in its own order.
    auto* list = new wxListBox(this, D::kDomainList, wxDefaultPosition,
                               wxSize(32 * em, 14 * GetCharHeight()), 0, nullptr, wxLB_SINGLE);
    left->Add(edit, 0, wxEXPAND | wxBOTTOM, 8);
    left->Add(list, 1, wxEXPAND);

    auto* side = new wxBoxSizer(wxVERTICAL);
    auto* add = new wxButton(this, D::kAdd, Shown("追加"));
    auto* remove = new wxButton(this, D::kDelete, Shown("削除"));
    auto* browse = new wxButton(this, D::kBrowse, Shown("参照"));
    side->Add(add, 0, wxEXPAND | wxBOTTOM, 6);
    side->Add(remove, 0, wxEXPAND | wxBOTTOM, 6);
    side->Add(browse, 0, wxEXPAND);

    auto* body = new wxBoxSizer(wxHORIZONTAL);
    body->Add(left, 1, wxEXPAND | wxRIGHT, 10);
    body->Add(side, 0);

    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    auto* update = new wxButton(this, D::kUpdate, Shown("更新"));
    auto* cancel = new wxButton(this, D::kCancel, Shown("ｷｬﾝｾﾙ"));
    auto* hidden = new wxButton(this, D::kHiddenDefault, "");
    hidden->Hide();
    bottom->AddStretchSpacer();
    bottom->Add(update, 0, wxRIGHT, 6);
    bottom->Add(cancel);
    bottom->Add(hidden);

    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(body, 1, wxEXPAND | wxALL, 12);
    top->Add(bottom, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    SetSizer(top);

    view_.AddEdit(D::kDomainEdit, edit);
    view_.AddList(D::kDomainList, list);
    for (wxWindow* control :
         std::initializer_list<wxWindow*>{edit, list, add, remove, browse, update, cancel}) {
      map_.Add(control->GetId(), control);
    }

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { model_.OnAdd(); }, D::kAdd);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { model_.OnDelete(); }, D::kDelete);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { model_.OnBrowse(); }, D::kBrowse);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { model_.OnUpdate(); }, D::kUpdate);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { model_.OnCancel(); }, D::kCancel);
    Bind(
        wxEVT_LISTBOX, [this](wxCommandEvent&) { model_.OnSelect(); }, D::kDomainList);
    Bind(wxEVT_CHAR_HOOK, &DomainsDialog::OnKey, this);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { model_.OnCancel(); });
  }

  // Esc is Cancel. Enter presses the button that has the focus; anywhere else it goes to
  // the hidden default button, which has no command.
  void OnKey(wxKeyEvent& event) {
    int key = event.GetKeyCode();
    if (key == WXK_ESCAPE) return model_.OnCancel();
    bool enter = key == WXK_RETURN || key == WXK_NUMPAD_ENTER;
    if (enter && dynamic_cast<wxButton*>(FindFocus()) == nullptr) return;
    event.Skip();
  }

  DomainsDialogView view_;
  ExcludedDomainsDialog model_;
  ControlMap map_;
};

}  // namespace

void RunExcludedDomains(wxWindow* parent, const DriveSource& drives) {
  DomainsDialog dialog(parent, drives);
  dialog.ShowModal();
}

}  // namespace lumbra::gui
