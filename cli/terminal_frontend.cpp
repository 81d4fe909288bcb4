#include "cli/terminal_frontend.h"

#include <cstdio>
#include <iostream>
#include <string>

#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/language.h"

namespace lumbra::cli {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) {
  if (stopSignal == 0) stopSignal = signal;
}

// A message text as lines: "\r" is a line break in the system's messages.
std::string AsLines(std::string_view text) {
  std::string out = platform::ToDisplayText(text);
  for (char& c : out) {
    if (c == '\r') c = '\n';
  }
  return out;
}

std::size_t TerminalWidth() {
  struct winsize ws;
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

// Cuts a UTF-8 text to at most `columns` code points (wide characters count as one; the
// line is only a progress hint).
std::string CutToColumns(const std::string& text, std::size_t columns) {
  std::size_t points = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++points > columns) {
      return text.substr(0, i);
    }
  }
  return text;
}

}  // namespace

std::string ProgressCounts(const JobCounters& counters, double seconds) {
  const bool copying = counters.entryCount > 0;
  const int done = copying ? counters.scannedEntries : counters.scannedFiles;
  std::string text =
      copying ? platform::Fill(platform::Tr("%1/%2件"),
                               {std::to_string(done), std::to_string(counters.entryCount)})
              : platform::Fill(platform::Tr("%1件"), {std::to_string(done)});
  if (seconds >= 1) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", done / seconds);
    text += platform::Fill(platform::Tr("　%1件/秒"), {rate});
  }
  return text + "　";
}

TerminalFrontend::TerminalFrontend(Answer answer, bool quiet)
    : answer_(answer), progressOnTerminal_(!quiet && ::isatty(STDERR_FILENO) != 0) {}

void TerminalFrontend::WatchCounters(const JobCounters& counters) {
  counters_ = &counters;
  started_ = std::chrono::steady_clock::now();
}

int TerminalFrontend::StopSignal() { return stopSignal; }

void TerminalFrontend::CatchInterrupt() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  ::signal(SIGXFSZ, SIG_IGN);
}

int TerminalFrontend::ReportProgress(std::string_view text) {
  if (progressOnTerminal_) {
    std::string line = platform::ToDisplayText(text);
    if (counters_ != nullptr) {
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started_;
      line = ProgressCounts(*counters_, elapsed.count()) + line;
    }
    line = CutToColumns(line, TerminalWidth() - 1);
    std::cerr << '\r' << line << "\x1b[K" << std::flush;
    progressShown_ = true;
  }
  return stopSignal != 0 ? 0 : 1;
}

void TerminalFrontend::EndProgress() {
  if (progressShown_) std::cerr << "\r\x1b[K" << std::flush;
  progressShown_ = false;
}

void TerminalFrontend::ShowStatus(std::string_view text) {
  if (!progressOnTerminal_) return;
  ReportProgress(text);
}

void TerminalFrontend::ShowJobEnd(std::string_view text) {
  EndProgress();
  std::cout << AsLines(text) << '\n' << std::flush;
}

void TerminalFrontend::ShowMessage(std::string_view text) {
  EndProgress();
  std::cerr << AsLines(text) << '\n' << std::flush;
}

bool TerminalFrontend::AskYesNo(std::string_view text) {
  EndProgress();
  std::cerr << AsLines(text) << '\n';
  if (answer_ != Answer::Ask) {
    bool yes = answer_ == Answer::Yes;
    std::cerr << (yes ? "-> yes (--yes)" : "-> no (--no)") << '\n' << std::flush;
    return yes;
  }
  if (::isatty(STDIN_FILENO) == 0) {
    std::cerr << "-> no (no terminal to ask; use --yes)" << '\n' << std::flush;
    return false;
  }
  std::cerr << "[y/N] " << std::flush;
  std::string reply;
  if (!std::getline(std::cin, reply)) return false;
  return !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y');
}

}  // namespace lumbra::cli
