#include "app/wx/wx_text.h"

#include <wx/msgdlg.h>
#include <wx/textctrl.h>

#include "app/main_dialog.h"
#include "platform/codepage.h"
#include "platform/language.h"

namespace lumbra::gui {

wxString ToWx(std::string_view bytes) {
  std::string text = platform::ToDisplayText(bytes);
  return wxString::FromUTF8(text.data(), text.size());
}

wxString Shown(std::string_view japanese) { return ToWx(platform::Tr(japanese)); }

wxString MessageText(std::string_view text) {
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      lines += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      lines += '\n';
    }
  }
  return ToWx(lines);
}

void ShowMessageBox(wxWindow* parent, std::string_view text) {
  wxMessageDialog box(parent, MessageText(text), ToWx(kMessageCaption), wxOK);
  box.ShowModal();
}

bool AskYesNoBox(wxWindow* parent, std::string_view text) {
  wxMessageDialog box(parent, MessageText(text), ToWx(kMessageCaption), wxYES_NO);
  return box.ShowModal() == wxID_YES;
}

void PathEdit::Set(std::string_view bytes) {
  bytes_ = bytes;
  shown_ = ToWx(bytes);
  // ChangeValue, not SetValue: the model's own changes raise no event.
  edit_->ChangeValue(shown_);
}

std::string PathEdit::Get() const {
  wxString now = edit_->GetValue();
  if (now == shown_) return bytes_;
  wxScopedCharBuffer utf8 = now.utf8_str();
  return std::string(utf8.data(), utf8.length());
}

}  // namespace lumbra::gui
