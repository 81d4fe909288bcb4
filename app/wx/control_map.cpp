#include "app/wx/control_map.h"

#include <algorithm>
#include <cstdlib>

#include <wx/window.h>

#include "platform/fs.h"

namespace lumbra::gui {

ControlMap::ControlMap(wxWindow* window, std::string name) : window_(window) {
  const char* dir = std::getenv("LUMBRA_WINDOW_MAP");
  if (dir == nullptr || *dir == '\0') return;
  file_ = std::string(dir) + "/" + name + ".map";
  window_->Bind(wxEVT_IDLE, &ControlMap::OnIdle, this);
}

void ControlMap::OnIdle(wxIdleEvent& event) {
  event.Skip();
  if (!dirty_ || !window_->IsShownOnScreen()) return;
  dirty_ = false;
  std::string lines;
  for (const auto& [id, control] : controls_) {
    if (!control->IsShown()) continue;
    wxRect r = control->GetScreenRect();
    std::string label = control->GetLabel().utf8_string();
    std::replace_if(
        label.begin(), label.end(), [](char c) { return c == '\n' || c == '\t'; }, ' ');
    lines += std::to_string(id) + ' ' + std::to_string(r.x) + ' ' + std::to_string(r.y) + ' ' +
             std::to_string(r.width) + ' ' + std::to_string(r.height) + '\t' + label + '\n';
  }
  // Replaced whole, so that a reader never sees half a map.
  platform::ReplaceFileContent(file_, lines, platform::NormalFileMode());
}

}  // namespace lumbra::gui
