// A main window for tests: keeps the state of every control as the model set it, records
// what the model showed, answers every question No, and answers choosers and pending
// events from a script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/main_dialog.h"
#include "platform/fs.h"

namespace lumbra::testing {

class ScriptedMainView : public MainView {
 public:
  struct Control {
    std::string text;
    bool checked = false;
    bool enabled = true;
    bool shown = true;
  };

  // Every control as the window creates it from the control table.
  ScriptedMainView();

  std::string Text(MainControl edit) override { return controls_[edit].text; }
  void SetText(MainControl id, std::string_view text) override {
    controls_[id].text = text;
    if (id == MainControl::Status) statuses.emplace_back(text);
  }
  void SetChecked(MainControl box, bool checked) override { controls_[box].checked = checked; }
  void SetEnabled(MainControl id, bool enabled) override { controls_[id].enabled = enabled; }
  void SetShown(MainControl id, bool shown) override { controls_[id].shown = shown; }
  void FocusNext() override { ++focusMoves; }
  void Close(DialogResult result) override { closed = result; }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  // Records the question and answers No.
  bool AskYesNo(std::string_view text) override {
    questions.emplace_back(text);
    return false;
  }
  PendingEvent HandleOnePendingEvent() override;
  void Post(std::function<void()> task) override { posted_.push_back(std::move(task)); }
  void OpenHelp() override { ++helpOpened; }
  void ShowAbout(std::string_view title, std::string_view text) override {
    about = {std::string(title), std::string(text)};
  }
  // Records the start path and gives the next scripted answer (Cancel when none is left).
  // Like the real chooser, which moves through the directories it shows, it leaves the
  // current directory in the chosen one.
  std::optional<std::string> ChooseDirectory(std::string_view start,
                                             const std::vector<Shortcut>& shortcuts) override;
  // Records the current directory the window would work in.
  void EditExcludedDomains() override { domainWindowDirs.push_back(platform::CurrentDirectory()); }

  // The user types into an edit (the model reads it only when it takes the edit texts).
  void Type(MainControl edit, std::string_view text) { controls_[edit].text = text; }
  const Control& control(MainControl id) { return controls_[id]; }
  // Whether a click can reach the control: shown and enabled.
  bool Clickable(MainControl id) { return controls_[id].shown && controls_[id].enabled; }

  // Runs the posted tasks, as the event loop does after a handler returned; returns how many.
  int RunPosted();
  bool HasPosted() const { return !posted_.empty(); }

  // Pending events for the coming progress calls: each one call, in order.
  void QueueEvent(std::function<void()> event) { events_.push_back(std::move(event)); }
  void QueueQuit() { events_.push_back(nullptr); }
  void QueueChoice(std::optional<std::string> choice) { choices_.push_back(std::move(choice)); }

  std::vector<std::string> messages, questions, statuses;
  std::vector<std::string> chooserStarts;               // the start path of every chooser opened
  std::vector<std::vector<Shortcut>> chooserShortcuts;  // and the shortcuts it was given
  std::vector<std::string> domainWindowDirs;
  std::optional<DialogResult> closed;
  int focusMoves = 0;
  int helpOpened = 0;
  int eventsHandled = 0;
  std::vector<std::string> about;  // title and text of the about box last shown

 private:
  std::map<MainControl, Control> controls_;
  std::deque<std::function<void()>> posted_;
  std::deque<std::function<void()>> events_;  // nullptr: the loop was told to end
  std::deque<std::optional<std::string>> choices_;
};

}  // namespace lumbra::testing
