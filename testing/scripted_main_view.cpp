#include "testing/scripted_main_view.h"

#include "platform/fs.h"

namespace lumbra::testing {

ScriptedMainView::ScriptedMainView() {
  for (const ControlSpec& entry : kMainControls) {
    controls_[entry.id] = Control{"", false, !entry.disabled, !entry.hidden};
  }
}

PendingEvent ScriptedMainView::HandleOnePendingEvent() {
  if (events_.empty()) return PendingEvent::None;
  std::function<void()> event = std::move(events_.front());
  events_.pop_front();
  if (!event) return PendingEvent::Quit;
  ++eventsHandled;
  event();
  return PendingEvent::Handled;
}

std::optional<std::string> ScriptedMainView::ChooseDirectory(
    std::string_view start, const std::vector<Shortcut>& shortcuts) {
  chooserStarts.emplace_back(start);
  chooserShortcuts.push_back(shortcuts);
  if (choices_.empty()) return std::nullopt;
  std::optional<std::string> choice = std::move(choices_.front());
  choices_.pop_front();
  if (choice) platform::ChangeDirectory(*choice);
  return choice;
}

int ScriptedMainView::RunPosted() {
  int ran = 0;
  while (!posted_.empty()) {
    std::function<void()> task = std::move(posted_.front());
    posted_.pop_front();
    task();
    ++ran;
  }
  return ran;
}

}  // namespace lumbra::testing
