// The front end of lumbra-cli: progress on one rewritten terminal line, messages and
// questions on stderr, Ctrl-C as the abort button.
#pragma once

#include <csignal>
#include <cstdio>

#include "core/frontend.h"

namespace lumbra::cli {

enum class Answer { Ask, Yes, No };

class TerminalFrontend : public Frontend {
 public:
  explicit TerminalFrontend(Answer answer);

  int ReportProgress(std::string_view text) override;
  void ShowStatus(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;

  // Clears the progress line (before other output and at the end of a job).
  void EndProgress();
  // Whether Ctrl-C was pressed.
  static bool Interrupted();
  // Installs the Ctrl-C handler: the job stops at its next progress call.
  static void CatchInterrupt();

 private:
  Answer answer_;
  bool progressShown_ = false;
  bool progressOnTerminal_ = false;
};

}  // namespace lumbra::cli
