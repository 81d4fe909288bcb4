// fennow's window "ファイル　チェック" on wxWidgets: DIR with its "参照", "開始" and "終了",
// and the three counts, right-aligned in their frames. The window shows what TallyDialog
// tells it and forwards every click, Enter and Esc to it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "app/directory_chooser.h"
#include "app/wx/control_map.h"
#include "app/wx/modal_frame.h"
#include "app/wx/wx_text.h"
#include "tally/tally_dialog.h"

class wxStaticText;

namespace lumbra::gui {

class TallyWindow : public ModalFrame, public TallyView {
 public:
  explicit TallyWindow(DriveSource drives);

  // TallyView.
  std::string Text(TallyControl edit) override;
  void SetText(TallyControl control, std::string_view text) override;
  std::optional<std::string> ChooseDirectory(std::string_view start) override;
  void ShowAbout(std::string_view title, std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  void Close() override { EndRun(); }

 private:
  void Build();
  void OnKey(wxKeyEvent& event);

  DriveSource drives_;
  TallyDialog model_;
  ControlMap map_;
  std::optional<PathEdit> dir_;
  std::map<TallyControl, wxStaticText*> counts_;
};

}  // namespace lumbra::gui
