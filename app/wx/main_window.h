// The main window "Lumbra's Log" on wxWidgets: the controls of kMainControls, created in
// their order with their ids and labels and laid out in their groups, showing what
// MainDialog tells them and forwarding every click, Enter and Esc to it. The window takes no
// decision of its own: what a click does, what is enabled or shown and what a box shows are
// the model's.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "app/directory_chooser.h"
#include "app/main_dialog.h"
#include "app/wx/control_map.h"
#include "app/wx/modal_frame.h"
#include "app/wx/wx_text.h"

class wxPanel;

namespace lumbra::gui {

class MainWindow : public ModalFrame, public MainView {
 public:
  // Makes the model, which reads lumbra.ini of the current directory (the start
  // directory), and the controls it is then shown on.
  MainWindow(Session& session, platform::Clock& clock, DriveSource drives);

  // How the model closed the window.
  DialogResult result() const { return result_; }

  // MainView.
  std::string Text(MainControl edit) override;
  void SetText(MainControl id, std::string_view text) override;
  void SetChecked(MainControl box, bool checked) override;
  void SetEnabled(MainControl id, bool enabled) override;
  void SetShown(MainControl id, bool shown) override;
  void FocusNext() override;
  void Close(DialogResult result) override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  // Pending() then Dispatch() of the running event loop: one toolkit event, and the window
  // stays painted.
  PendingEvent HandleOnePendingEvent() override;
  void Post(std::function<void()> task) override;
  void OpenHelp() override;
  void ShowAbout(std::string_view title, std::string_view text) override;
  std::optional<std::string> ChooseDirectory(std::string_view start,
                                             const std::vector<Shortcut>& shortcuts) override;
  void EditExcludedDomains() override;

 private:
  void Build();
  void FitWindow();
  wxWindow* Find(MainControl id) const;
  void OnButton(wxCommandEvent& event);
  void OnCheckBox(wxCommandEvent& event);
  void OnKey(wxKeyEvent& event);
  void OnCloseBox(wxCloseEvent& event);

  DriveSource drives_;
  MainDialog model_;
  ControlMap map_;
  wxPanel* panel_ = nullptr;
  std::map<MainControl, wxWindow*> controls_;
  std::map<MainControl, PathEdit> edits_;
  std::map<MainControl, bool> checked_;  // what the model last put in each box
  std::string status_;                   // the status line's text, as given
  DialogResult result_ = DialogResult::Cancel;
};

}  // namespace lumbra::gui
