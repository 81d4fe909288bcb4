#include "platform/clock.h"

#include <vector>

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

TEST(ClockTest, SystemClockWaitEndsJustAfterASecondChange) {
  SystemClock clock;
  std::int64_t before = clock.NowSeconds();
  std::int64_t t = WaitNextSecond(clock);
  EXPECT_GT(t, before);
  EXPECT_LE(t - before, 2);
}

}  // namespace
}  // namespace lumbra::platform
