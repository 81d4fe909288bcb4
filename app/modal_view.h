// What the logic of a small modal window asks of the window that shows it: set and read a
// control's text, fill and select the lines of a list or drop-down box, a message box, and
// closing. Controls are named by their numeric ids (each window's logic lists its own).
// The wx window implements it; the tests use a scripted double without a display.
//
// Texts cross this seam in UTF-8; a "\r" inside a message is a line break. Values put into a
// control (paths, names from a file) are bytes as they came and may be CP932; a view shows
// any byte string without failing. Lines are shown in the order given: the window logic
// sorts what a sorted list shows, so that positions mean the same in the logic and the view.
// No call of the logic into the view raises an event back into the logic.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/ascii.h"

namespace lumbra {

// The order of a sorted list: letter case ignored (ASCII), then byte order.
inline bool SortedListOrder(std::string_view a, std::string_view b) {
  auto less = [](char x, char y) {
    return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
  };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), less)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), less)) return false;
  return a < b;
}

class ModalView {
 public:
  virtual ~ModalView() = default;

  // The text of an edit field.
  virtual void SetText(int control, std::string_view text) = 0;
  virtual std::string GetText(int control) const = 0;

  // Replaces the lines of a list or drop-down box; afterwards no line is selected.
  virtual void SetEntries(int control, const std::vector<std::string>& entries) = 0;
  // Selects the line at `index` (0-based), or none for -1 (a drop-down box then shows no
  // text). Sends no selection event.
  virtual void Select(int control, int index) = 0;
  // The position of the selected line, -1 for none.
  virtual int Selection(int control) const = 0;

  // A message box captioned "Lumbra" with an OK button; returns when it is closed.
  virtual void ShowMessage(std::string_view text) = 0;

  // Ends the modal run: with OK (true) or with Cancel (false).
  virtual void Close(bool ok) = 0;
};

}  // namespace lumbra
