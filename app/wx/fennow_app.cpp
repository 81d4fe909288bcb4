// fennow: the window "ファイル　チェック", which counts the directories, files and bytes below
// a directory. `fennow --count DIR` prints the same count without a window; the toolkit is
// started only for the window, so the count runs where there is no display.
#include <iostream>
#include <string>
#include <vector>

#include <wx/app.h>

#include "app/directory_chooser.h"
#include "app/wx/tally_window.h"
#include "platform/language.h"
#include "tally/tally_command.h"

namespace lumbra::gui {
namespace {

class FennowApp : public ModalFrameApp {
 protected:
  ModalFrame* MakeWindow() override { return new TallyWindow(DriveSource::ForThisProcess()); }
};

}  // namespace
}  // namespace lumbra::gui

wxIMPLEMENT_APP_NO_MAIN(lumbra::gui::FennowApp);

int main(int argc, char** argv) {
  lumbra::platform::UseUserLanguage();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (std::optional<int> status = lumbra::RunTallyCommand(args, std::cout, std::cerr)) {
    return *status;
  }
  return wxEntry(argc, argv);
}
