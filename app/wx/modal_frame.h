// A top-level window run like a modal dialog: its own event loop, which ends when the
// window is closed, so that the window's end is the program's end.
//
// GTK has no system menu to extend, so the about entry of a window sits in a small menu bar,
// "ヘルプ(&H)", the way GTK programs offer it; for that the window is a frame, not a dialog.
#pragma once

#include <functional>
#include <string_view>

#include <wx/app.h>
#include <wx/frame.h>

#include "platform/language.h"

class wxEventLoopBase;

namespace lumbra::gui {

class ModalFrame : public wxFrame {
 public:
  ModalFrame(std::string_view title, long style);

  // Shows the window and runs its events until EndRun.
  void RunModal();
  // Hides the window and ends its run.
  void EndRun();

 protected:
  // The menu "ヘルプ(&H)" with the one entry `text`, whose command `command` goes to
  // `onCommand`.
  void AddAboutMenu(std::string_view text, int command, std::function<void(int)> onCommand);

 private:
  wxEventLoopBase* loop_ = nullptr;  // the window's own run, while it runs
};

// The application of a program that is one such window: the window is run from OnRun, so
// that its end is the program's end, with exit status 0 however it was closed.
class ModalFrameApp : public wxApp {
 public:
  bool OnInit() override {
    platform::UseUserLanguage();
    window_ = MakeWindow();
    return window_ != nullptr;
  }
  int OnRun() override {
    window_->RunModal();
    window_->Destroy();
    return 0;
  }

 protected:
  virtual ModalFrame* MakeWindow() = 0;

 private:
  ModalFrame* window_ = nullptr;
};

// The about box of every window: `text` beside the application icon, and an OK button.
void ShowAboutBox(wxWindow* parent, std::string_view title, std::string_view text);

}  // namespace lumbra::gui
