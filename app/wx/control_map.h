// The screen rectangles of a window's controls, so that a test can press them under Xvfb
// without guessing pixels. Only when the environment variable LUMBRA_WINDOW_MAP names a
// directory: each window then writes DIR/NAME.map once it is on screen, and again after its
// layout or a text shown changed, one line "ID X Y WIDTH HEIGHT" for every control shown,
// followed by a tab and its label (a button's text, a static text's value). Otherwise
// nothing is written and nothing is bound.
#pragma once

#include <string>
#include <utility>
#include <vector>

class wxIdleEvent;
class wxWindow;

namespace lumbra::gui {

class ControlMap {
 public:
  ControlMap(wxWindow* window, std::string name);
  void Add(int id, wxWindow* control) { controls_.emplace_back(id, control); }
  // The layout or a label changed: the file is written again when the window is next idle.
  void Invalidate() { dirty_ = true; }

 private:
  void OnIdle(wxIdleEvent& event);

  wxWindow* window_;
  std::string file_;  // empty: no map wanted
  std::vector<std::pair<int, wxWindow*>> controls_;
  bool dirty_ = true;
};

}  // namespace lumbra::gui
