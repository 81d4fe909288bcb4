#include "testing/scripted_frontend.h"

namespace lumbra::testing {

int ScriptedFrontend::ReportProgress(std::string_view text) {
  events_.push_back({Event::Progress, std::string(text)});
  ++progressCalls_;
  if (stopAt_ > 0 && progressCalls_ >= stopAt_) stopped_ = true;
  return stopped_ ? 0 : 1;
}

void ScriptedFrontend::ShowStatus(std::string_view text) {
  events_.push_back({Event::Status, std::string(text)});
}

void ScriptedFrontend::ShowMessage(std::string_view text) {
  events_.push_back({Event::Message, std::string(text)});
}

bool ScriptedFrontend::AskYesNo(std::string_view text) {
  events_.push_back({Event::Question, std::string(text)});
  if (answers_.empty()) return false;
  bool answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedFrontend::QueueAnswers(std::initializer_list<bool> answers) {
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

std::vector<std::string> ScriptedFrontend::TextsOf(Event::Kind kind) const {
  std::vector<std::string> texts;
  for (const Event& e : events_) {
    if (e.kind == kind) texts.push_back(e.text);
  }
  return texts;
}

}  // namespace lumbra::testing
