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
  // The signal that asked the job to stop (SIGINT, SIGTERM or SIGHUP), or 0.
  static int StopSignal();
  // Installs the handlers of Ctrl-C, SIGTERM and SIGHUP: the job stops at its next progress
  // call and ends as it would after the abort button (its temporary files removed, the frame
  // pages written). A file-size limit (SIGXFSZ) makes a write fail instead of ending the
  // process, so the old file stays and the failure is reported.
  static void CatchInterrupt();

 private:
  Answer answer_;
  bool progressShown_ = false;
  bool progressOnTerminal_ = false;
};

}  // namespace lumbra::cli
