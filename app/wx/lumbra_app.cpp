// lumbra: the main window "Lumbra's Log" over the jobs of the start directory, which is the
// current directory when the program starts (its lumbra.ini, lumbra-url.ini, ...). The exit
// status is 0 however the window was closed ("終了", Esc or the close box). `--version` and
// `--help` answer before the toolkit starts, so they need no display.
#include <cstring>
#include <iostream>
#include <memory>

#include <wx/app.h>

#include "app/directory_chooser.h"
#include "app/job_driver.h"
#include "app/wx/main_window.h"
#include "core/version.h"
#include "platform/clock.h"

namespace lumbra::gui {
namespace {

constexpr const char* kUsage =
    "usage: lumbra            open the window \"Lumbra's Log\" on the lumbra.ini of the current\n"
    "                         directory, the start directory\n"
    "       lumbra --version  print \"lumbra VERSION\"\n"
    "       lumbra --help     this text\n"
    "\n"
    "lumbra-cli runs the same jobs without a window (lumbra-cli --help). Exit status: 0.\n";

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

wxIMPLEMENT_APP_NO_MAIN(lumbra::gui::LumbraApp);

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "lumbra " << lumbra::kVersion << '\n';
    return 0;
  }
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << lumbra::gui::kUsage;
    return 0;
  }
  return wxEntry(argc, argv);
}
