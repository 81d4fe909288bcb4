// A front end for tests: records every text it is shown, answers the Yes/No questions from
// a script, and answers progress with 1 until a chosen call, then 0 for good. Beside it, the
// clock the jobs of the tests run on.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "core/frontend.h"
#include "platform/clock.h"

namespace lumbra::testing {

class ScriptedFrontend : public Frontend {
 public:
  int ReportProgress(std::string_view text) override;
  void ShowStatus(std::string_view text) override { statuses_.emplace_back(text); }
  void ShowMessage(std::string_view text) override { messages_.emplace_back(text); }
  bool AskYesNo(std::string_view text) override;

  // Answers for the coming questions, in order; a question beyond them is answered No.
  void QueueAnswers(std::initializer_list<bool> answers) {
    answers_.insert(answers_.end(), answers.begin(), answers.end());
  }
  // Progress answers 0 from the n-th call on (1-based); 0 never stops.
  void StopAtProgressCall(int n) { stopAt_ = n; }
  const std::vector<std::string>& messages() const { return messages_; }
  const std::vector<std::string>& questions() const { return questions_; }
  const std::vector<std::string>& statuses() const { return statuses_; }
  int progressCalls() const { return progressCalls_; }

 private:
  std::vector<std::string> messages_, questions_, statuses_;
  std::deque<bool> answers_;
  int stopAt_ = 0;
  int progressCalls_ = 0;
};

// A clock whose wait for the next second moves it on at once, so a job never waits.
class SteppingClock : public platform::Clock {
 public:
  std::int64_t NowSeconds() override { return now; }
  void SleepToNextSecond() override { ++now; }
  std::int64_t now = 1000;
};

}  // namespace lumbra::testing
