#include "app/wx/modal_frame.h"

#include <utility>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/wx/lumbra_icon.h"
#include "app/wx/wx_text.h"
#include "platform/language.h"

namespace lumbra::gui {

ModalFrame::ModalFrame(std::string_view title, long style)
    : wxFrame(nullptr, wxID_ANY, Shown(title), wxDefaultPosition, wxDefaultSize, style) {
  SetIcons(ApplicationIcons());
}

void ModalFrame::RunModal() {
  Show();
  wxGUIEventLoop loop;
  loop_ = &loop;
  loop.Run();
  loop_ = nullptr;
}

void ModalFrame::EndRun() {
  Hide();
  if (loop_ != nullptr) loop_->Exit();
}

void ModalFrame::AddAboutMenu(std::string_view text, int command,
                              std::function<void(int)> onCommand) {
  auto* about = new wxMenu;
  about->Append(command, Shown(text));
  auto* menus = new wxMenuBar;
  menus->Append(about, Shown("ヘルプ(&H)"));
  SetMenuBar(menus);
  Bind(
      wxEVT_MENU,
      [onCommand = std::move(onCommand)](wxCommandEvent& event) { onCommand(event.GetId()); },
      command);
}

void ShowAboutBox(wxWindow* parent, std::string_view title, std::string_view text) {
  wxDialog about(parent, wxID_ANY, Shown(title));
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticBitmap(&about, wxID_ANY, ApplicationBitmap(48)), 0, wxRIGHT, 16);
  row->Add(new wxStaticText(&about, wxID_ANY, ToWx(text)), 0, wxALIGN_CENTER_VERTICAL);
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(row, 0, wxLEFT | wxRIGHT | wxTOP, 20);
  column->Add(new wxButton(&about, wxID_OK, "OK"), 0, wxALIGN_RIGHT | wxALL, 12);
  about.SetSizerAndFit(column);
  about.CentreOnParent();
  about.ShowModal();
}

}  // namespace lumbra::gui
