#include "tally/tally_dialog.h"

namespace lumbra {

void TallyDialog::OnCommand(TallyControl control) {
  switch (control) {
    case TallyControl::Browse:
      Browse();
      break;
    case TallyControl::Start:
      Start();
      break;
    case TallyControl::Ok:
    case TallyControl::Quit:
      view_.Close();  // nothing is saved
      break;
    case TallyControl::Dir:
    case TallyControl::FileCount:
    case TallyControl::ByteTotal:
    case TallyControl::DirCount:
      break;
  }
}

bool TallyDialog::OnSystemCommand(int command) {
  if ((command & ~0xF) != kTallyAboutCommand) return false;
  view_.ShowAbout(kTallyAboutTitle, kTallyAboutText);
  return true;
}

// The chooser leaves the current directory where the user went, so a relative DIR typed
// afterwards is taken from there.
void TallyDialog::Browse() {
  dir_ = view_.Text(TallyControl::Dir);
  if (std::optional<std::string> chosen = view_.ChooseDirectory(dir_)) dir_ = *chosen;
  view_.SetText(TallyControl::Dir, dir_);
}

// The count runs to its end inside the command; the counters start from 0 every time. A DIR
// that cannot be counted is said so, and shows no counts rather than 0 (or another's).
void TallyDialog::Start() {
  dir_ = view_.Text(TallyControl::Dir);
  if (const std::optional<std::string> refusal = TallyRefusal(dir_)) {
    counts_ = {};
    for (TallyControl count :
         {TallyControl::DirCount, TallyControl::FileCount, TallyControl::ByteTotal}) {
      view_.SetText(count, "");
    }
    view_.ShowMessage(*refusal);
    return;
  }
  counts_ = CountTree(dir_);
  view_.SetText(TallyControl::DirCount, std::to_string(counts_.dirCount));
  view_.SetText(TallyControl::FileCount, std::to_string(counts_.fileCount));
  view_.SetText(TallyControl::ByteTotal, GroupThousands(counts_.byteTotal));
  view_.SetText(TallyControl::Dir, dir_);
}

}  // namespace lumbra
