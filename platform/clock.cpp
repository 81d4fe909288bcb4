#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace lumbra::platform {

std::int64_t SystemClock::NowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void SystemClock::SleepToNextSecond() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct timespec until = {now.tv_sec + 1, 0};
  while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

std::int64_t WaitNextSecond(Clock& clock) {
  std::int64_t t0 = clock.NowSeconds();
  std::int64_t t1;
  while ((t1 = clock.NowSeconds()) == t0) clock.SleepToNextSecond();
  if (t1 - t0 <= 100) return t1;
  std::int64_t t2;
  while ((t2 = clock.NowSeconds()) == t1) clock.SleepToNextSecond();
  return t2;
}

}  // namespace lumbra::platform
