// The view of a small modal window over its wx controls: edits, lists and drop-down boxes
// found by their ids, a message box, and the end of the modal run. A dialog registers its
// controls and hands the view to its logic; the logic then sees only ModalView.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <wx/arrstr.h>
#include <wx/ctrlsub.h>
#include <wx/dialog.h>

#include "app/modal_view.h"
#include "app/wx/wx_text.h"

namespace lumbra::gui {

template <class View>
class DialogView : public View {
 public:
  explicit DialogView(wxDialog* dialog) : dialog_(dialog) {}

  void AddEdit(int id, wxTextCtrl* edit) { edits_.emplace(id, PathEdit(edit)); }
  // A list or drop-down box; it shows its lines in the order given (never sorted by wx).
  void AddList(int id, wxItemContainer* list) { lists_[id] = list; }

  void SetText(int control, std::string_view text) override {
    if (auto it = edits_.find(control); it != edits_.end()) it->second.Set(text);
  }
  std::string GetText(int control) const override {
    auto it = edits_.find(control);
    return it == edits_.end() ? std::string() : it->second.Get();
  }
  void SetEntries(int control, const std::vector<std::string>& entries) override {
    auto it = lists_.find(control);
    if (it == lists_.end()) return;
    wxArrayString lines;
    lines.reserve(entries.size());
    for (const std::string& entry : entries) lines.Add(ToWx(entry));
    it->second->Set(lines);
    it->second->SetSelection(wxNOT_FOUND);
  }
  void Select(int control, int index) override {
    auto it = lists_.find(control);
    if (it == lists_.end()) return;
    int count = static_cast<int>(it->second->GetCount());
    it->second->SetSelection(index >= 0 && index < count ? index : wxNOT_FOUND);
  }
  int Selection(int control) const override {
    auto it = lists_.find(control);
    return it == lists_.end() ? -1 : it->second->GetSelection();
  }
  void ShowMessage(std::string_view text) override { ShowMessageBox(dialog_, text); }
  void Close(bool ok) override {
    if (dialog_->IsModal()) dialog_->EndModal(ok ? wxID_OK : wxID_CANCEL);
  }

 protected:
  wxDialog* dialog() const { return dialog_; }

 private:
  wxDialog* dialog_;
  std::map<int, PathEdit> edits_;
  std::map<int, wxItemContainer*> lists_;
};

}  // namespace lumbra::gui
