// The seam between the core and whatever shows it to a person: the desktop window,
// lumbra-cli, or the scripted double of the tests. Texts cross it in UTF-8; a "\r" inside a
// message is a line break. Values put into a text (paths, URLs) are bytes as they came and
// may be CP932; a front end shows any byte string without failing.
#pragma once

#include <string_view>

namespace lumbra {

class Frontend {
 public:
  virtual ~Frontend() = default;

  // Shows the text, handles at most one pending event, and answers 1 to go on or 0 to stop.
  // Once it has answered 0 it keeps answering 0 until the job ends.
  virtual int ReportProgress(std::string_view text) = 0;

  // The status line.
  virtual void ShowStatus(std::string_view text) = 0;

  // A message box captioned "Lumbra" with an OK button.
  virtual void ShowMessage(std::string_view text) = 0;

  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(std::string_view text) = 0;

  // The end report of a job: a message box like any other, unless the front end gives the
  // job's result a place of its own (lumbra-cli: stdout).
  virtual void ShowJobEnd(std::string_view text) { ShowMessage(text); }
};

}  // namespace lumbra
