// The three ways a job's pages are rewritten and replaced, for the job tests that run each
// job every way: at once, replaced on a thread of their own while the job goes on, and each
// rewritten and replaced on one of three page threads (PageReplacements). Every job must end
// alike whichever way it went.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "rebuild/page_io.h"

namespace lumbra::testing {

enum class PagesDone { AtOnce, ReplacedOnAThread, OnPageThreads };

// The job's PageReplacements for `way`, made in `later`; null for AtOnce.
inline PageReplacements* LaterFor(PagesDone way, std::optional<PageReplacements>& later) {
  if (way == PagesDone::AtOnce) return nullptr;
  later.emplace(way == PagesDone::OnPageThreads ? 3 : 0);
  return &*later;
}

inline auto EveryWayPagesAreDone() {
  return ::testing::Values(PagesDone::AtOnce, PagesDone::ReplacedOnAThread,
                           PagesDone::OnPageThreads);
}

inline std::string NameOf(PagesDone way) {
  switch (way) {
    case PagesDone::AtOnce:
      return "AtOnce";
    case PagesDone::ReplacedOnAThread:
      return "ReplacedOnAThread";
    case PagesDone::OnPageThreads:
      break;
  }
  return "OnPageThreads";
}
inline std::string PagesDoneName(const ::testing::TestParamInfo<PagesDone>& info) {
  return NameOf(info.param);
}
inline void PrintTo(PagesDone way, std::ostream* out) { *out << NameOf(way); }

}  // namespace lumbra::testing
