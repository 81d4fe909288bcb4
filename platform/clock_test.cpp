#include "platform/clock.h"

#include <chrono>
#include <vector>

#include <time.h>

#include <gtest/gtest.h>

namespace lumbra::platform {
namespace {

// A clock that reads from a script of times; each sleep moves to the next reading.
class ScriptClock : public Clock {
 public:
  explicit ScriptClock(std::vector<std::int64_t> readings) : readings_(std::move(readings)) {}
  std::int64_t NowSeconds() override { return readings_[pos_]; }
  void SleepToNextSecond() override {
    ++sleeps;
    if (pos_ + 1 < readings_.size()) ++pos_;
  }
  int sleeps = 0;

 private:
  std::vector<std::int64_t> readings_;
  std::size_t pos_ = 0;
};

TEST(ClockTest, WaitReturnsTheFirstNewSecond) {
  ScriptClock clock({100, 100, 101});
  EXPECT_EQ(WaitNextSecond(clock), 101);
  EXPECT_EQ(clock.sleeps, 2);
}

TEST(ClockTest, AJumpOfMoreThan100SecondsWaitsOneMoreChange) {
  ScriptClock jump({100, 250, 251});
  EXPECT_EQ(WaitNextSecond(jump), 251);
  ScriptClock small({100, 200, 201});
  EXPECT_EQ(WaitNextSecond(small), 200);  // exactly 100 is no jump
}

TEST(ClockTest, SystemClockWaitEndsJustAfterTheNextSecondBegins) {
  SystemClock clock;
  auto start = std::chrono::steady_clock::now();
  std::int64_t t = WaitNextSecond(clock);
  auto waited = std::chrono::steady_clock::now() - start;
  // The second it returns is the one that has just begun, not one before it.
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  EXPECT_EQ(t, static_cast<std::int64_t>(now.tv_sec));
  EXPECT_LE(waited, std::chrono::milliseconds(1100));
}

}  // namespace
}  // namespace lumbra::platform
