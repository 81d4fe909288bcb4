#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace lumbra::platform {

// Read on the clock the sleep waits on: time() may lag CLOCK_REALTIME by up to a tick, so a
// wait woken just after the change would still read the old second and sleep once more.
std::int64_t SystemClock::NowSeconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec);
}

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
