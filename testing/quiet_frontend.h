// A front end that shows nothing and always goes on: for benchmarks, where recording every
// progress text would be part of what is measured.
#pragma once

#include "core/frontend.h"

namespace lumbra::testing {

class QuietFrontend : public Frontend {
 public:
  int ReportProgress(std::string_view) override { return 1; }
  void ShowStatus(std::string_view) override {}
  void ShowMessage(std::string_view) override {}
  bool AskYesNo(std::string_view) override { return false; }
};

}  // namespace lumbra::testing
