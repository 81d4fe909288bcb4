// The front end of lumbra-cli: progress on one rewritten terminal line, messages and
// questions on stderr, the end report of a job on stdout, Ctrl-C as the abort button.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra::cli {

enum class Answer { Ask, Yes, No };

// What the progress line says before the job's own text: the entries of the cache done of
// all while an add copies them, else the files looked at, and the rate per second once a
// second has passed.
std::string ProgressCounts(const JobCounters& counters, double seconds);

class TerminalFrontend : public Frontend {
 public:
  // `quiet`: no progress line, even on a terminal.
  TerminalFrontend(Answer answer, bool quiet);

  int ReportProgress(std::string_view text) override;
  void ShowStatus(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  void ShowJobEnd(std::string_view text) override;

  // The counters of the job about to run, shown on the progress line; its rate is measured
  // from this call.
  void WatchCounters(const JobCounters& counters);

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
  const JobCounters* counters_ = nullptr;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace lumbra::cli
