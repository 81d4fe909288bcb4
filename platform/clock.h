// Calendar time in whole seconds, injectable so that tests never wait for real seconds.
#pragma once

#include <cstdint>

namespace lumbra::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t NowSeconds() = 0;
  // Blocks until the calendar second has (probably) changed; never spins.
  virtual void SleepToNextSecond() = 0;
};

// The system clock (CLOCK_REALTIME).
class SystemClock : public Clock {
 public:
  std::int64_t NowSeconds() override;
  void SleepToNextSecond() override;
};

// The calendar time taken right after the second changes. When the clock jumped forward by
// more than 100 seconds during the wait, it waits for one more change.
std::int64_t WaitNextSecond(Clock& clock);

}  // namespace lumbra::platform
