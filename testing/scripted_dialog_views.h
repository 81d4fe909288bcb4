// Views for the tests of the modal windows' logic, without a display: each control keeps
// its text, lines and selection; messages are recorded; Close records how the window ended.
// A test plays the user by typing into an edit or selecting a line and then calling the
// logic's handler, as the window would.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/directory_chooser.h"
#include "app/excluded_domains_dialog.h"
#include "platform/fs.h"

namespace lumbra::testing {

// Puts the process's current directory back when it goes out of scope: the windows move it.
class ScopedCurrentDirectory {
 public:
  ScopedCurrentDirectory() : saved_(platform::CurrentDirectory()) {}
  ~ScopedCurrentDirectory() { platform::ChangeDirectory(saved_); }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::string saved_;
};

// The state of one control.
struct ScriptedControl {
  std::string text;
  std::vector<std::string> entries;
  int selection = -1;
};

template <class View>
class ScriptedControls : public View {
 public:
  void SetText(int control, std::string_view text) override { controls_[control].text = text; }
  std::string GetText(int control) const override { return Get(control).text; }
  void SetEntries(int control, const std::vector<std::string>& entries) override {
    controls_[control].entries = entries;
    controls_[control].selection = -1;
  }
  void Select(int control, int index) override { controls_[control].selection = index; }
  int Selection(int control) const override { return Get(control).selection; }
  void ShowMessage(std::string_view text) override { messages_.emplace_back(text); }
  void Close(bool ok) override { closed_ = ok; }

  const ScriptedControl& control(int id) const { return Get(id); }
  // The user selects the line `entry`; false (and the selection unchanged) when not shown.
  bool Pick(int control, std::string_view entry) {
    const std::vector<std::string>& lines = controls_[control].entries;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == entry) {
        controls_[control].selection = static_cast<int>(i);
        return true;
      }
    }
    return false;
  }
  const std::vector<std::string>& messages() const { return messages_; }
  // How the window was closed: true OK, false Cancel; nullopt while open.
  std::optional<bool> closed() const { return closed_; }

 private:
  const ScriptedControl& Get(int control) const {
    static const ScriptedControl kNone;
    auto it = controls_.find(control);
    return it == controls_.end() ? kNone : it->second;
  }
  std::map<int, ScriptedControl> controls_;
  std::vector<std::string> messages_;
  std::optional<bool> closed_;
};

using ScriptedChooserView = ScriptedControls<ChooserView>;

// What the user does in one run of the directory chooser: enter each name of `enter` from
// the list in turn, then type `typed` into the edit if given, then OK or Cancel.
struct ChooserScript {
  std::vector<std::string> enter;
  std::optional<std::string> typed;
  bool ok = true;
};

// Runs a real DirectoryChooser as the script says; the result as DomainsView returns it.
// Records where the chooser opened (the text of its edit) in `openedAt`.
std::optional<std::string> RunChooser(const DriveSource& drives, std::string_view start,
                                      const ChooserScript& script, std::string* openedAt = nullptr);

// The domain window's view: each ChooseDirectory runs the next script of `browses` (Cancel
// when none is left) and records where the chooser opened in `chooserOpenedAt`.
class ScriptedDomainsView : public ScriptedControls<DomainsView> {
 public:
  explicit ScriptedDomainsView(DriveSource drives) : drives_(std::move(drives)) {}
  std::optional<std::string> ChooseDirectory(std::string_view start) override;

  std::deque<ChooserScript> browses;
  std::vector<std::string> chooserOpenedAt;

 private:
  DriveSource drives_;
};

}  // namespace lumbra::testing
