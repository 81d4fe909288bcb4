#include "platform/work_threads.h"

#include <cstddef>
#include <vector>

#include <gtest/gtest.h>

namespace lumbra::platform {
namespace {

// Each item's work leaves its result in the item's slot; the calling thread must find it there
// and take the items in order, whether the work is on threads or not, for counts that end
// inside a batch and far beyond the slots.
TEST(WorkInOrderTest, EachItemIsTakenInOrderWithWhatItsWorkLeft) {
  for (std::size_t threads : {0, 1, 3}) {
    for (std::size_t count : {std::size_t{0}, std::size_t{5}, 10 * kWorkAhead + 3}) {
      std::vector<std::size_t> slots(kWorkAhead);
      std::vector<std::size_t> taken;
      WorkInOrder(
          count, threads,
          [&](std::size_t i, std::size_t thread) {
            ASSERT_LT(thread, threads == 0 ? 1 : threads);
            slots[i % kWorkAhead] = i * 7 + 1;
          },
          [&](std::size_t i) {
            EXPECT_EQ(slots[i % kWorkAhead], i * 7 + 1) << threads << " threads, item " << i;
            slots[i % kWorkAhead] = 0;
            taken.push_back(i);
          });
      ASSERT_EQ(taken.size(), count) << threads << " threads";
      for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(taken[i], i);
    }
  }
}

}  // namespace
}  // namespace lumbra::platform
