// lumbra: the main window "Lumbra's Log" over the jobs of the start directory, which is the
// current directory when the program starts (its lumbra.ini, lumbra-url.ini, ...). The exit
// status is 0 however the window was closed ("終了", Esc or the close box).
#include <memory>

#include <wx/app.h>

#include "app/directory_chooser.h"
#include "app/job_driver.h"
#include "app/wx/main_window.h"
#include "platform/clock.h"

namespace lumbra::gui {
namespace {

class LumbraApp : public ModalFrameApp {
 protected:
  ModalFrame* MakeWindow() override {
    session_ = std::make_unique<Session>();
    return new MainWindow(*session_, clock_, DriveSource::ForThisProcess());
  }

 private:
  platform::SystemClock clock_;
  std::unique_ptr<Session> session_;
};

}  // namespace
}  // namespace lumbra::gui

wxIMPLEMENT_APP(lumbra::gui::LumbraApp);
