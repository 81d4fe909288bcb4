// Texts between the system and wxWidgets. The system's texts are UTF-8; values in them
// (paths, host names) are bytes as they came and may be CP932. wx does not set the C locale,
// so every text becomes a wxString through UTF-8, never through the locale's conversion.
#pragma once

#include <string>
#include <string_view>

#include <wx/string.h>

class wxTextCtrl;
class wxWindow;

namespace lumbra::gui {

// Any byte string as the window shows it: valid UTF-8 as it is, else decoded as CP932
// (bytes neither can read show as U+FFFD). Never fails.
wxString ToWx(std::string_view bytes);

// A text of the system's own (a label, a caption) in the user's language: platform::Tr.
wxString Shown(std::string_view japanese);

// A message text: ToWx, with every "\r" (or "\r\n") a line break.
wxString MessageText(std::string_view text);

// The message box of every window: captioned "Lumbra", with an OK button; modal.
void ShowMessageBox(wxWindow* parent, std::string_view text);
// The Yes/No question of every window, captioned "Lumbra"; true for Yes.
bool AskYesNoBox(wxWindow* parent, std::string_view text);

// An edit field that holds a path, which is bytes as typed. What the window put in comes
// back byte for byte as long as the user has not changed it, also when it is not UTF-8 and
// had to be shown decoded; a text the user typed comes back as UTF-8.
class PathEdit {
 public:
  explicit PathEdit(wxTextCtrl* edit) : edit_(edit) {}
  void Set(std::string_view bytes);
  std::string Get() const;
  wxTextCtrl* control() const { return edit_; }

 private:
  wxTextCtrl* edit_;
  std::string bytes_;  // what was put in last
  wxString shown_;     // how it was shown
};

}  // namespace lumbra::gui
