#include "testing/scripted_frontend.h"

namespace lumbra::testing {

int ScriptedFrontend::ReportProgress(std::string_view /*text*/) {
  ++progressCalls_;
  return stopAt_ > 0 && progressCalls_ >= stopAt_ ? 0 : 1;
}

bool ScriptedFrontend::AskYesNo(std::string_view text) {
  questions_.emplace_back(text);
  if (answers_.empty()) return false;
  bool answer = answers_.front();
  answers_.pop_front();
  return answer;
}

}  // namespace lumbra::testing
