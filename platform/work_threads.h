// A few threads of their own for a job's work that needs nothing back but its end: the
// rewriting of a walk's pages, each page whole on one thread while the job walks on. The
// tasks run in any order and at once; the job collects their ends in the order it gave them,
// so that what follows each (its messages, counts and records) keeps the order of the pages.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace lumbra::platform {

class WorkThreads {
 public:
  // A task, told the number of the thread that runs it (0 to size() - 1), so that it can
  // keep what it learns for the next tasks of that thread.
  using Task = std::function<void(std::size_t thread)>;

  // `threads` threads, made with the first task.
  explicit WorkThreads(std::size_t threads) : count_(threads) {}
  // Runs every task given, then ends the threads.
  ~WorkThreads();
  WorkThreads(const WorkThreads&) = delete;
  WorkThreads& operator=(const WorkThreads&) = delete;

  std::size_t size() const { return count_; }
  // Gives a task. It may start at once, or once a thread is free.
  void Start(Task task);
  // Collects the oldest task given and not yet collected once it has ended; with `wait`
  // waits for it, and without returns false while it runs. False when there is none.
  bool Collect(bool wait);
  // Waits until the oldest `count` tasks not yet collected (at most those given) have ended.
  void WaitForOldest(std::size_t count);

  // A sleeping thread is woken once this many tasks wait (or the job waits for one).
  static constexpr std::size_t kWakeFor = 4;

  // One thread for each processor, up to four; none on a machine of one, where a thread of
  // its own would only take turns with the job's.
  static std::size_t ForProcessors();

 private:
  void Run(std::size_t thread);
  // Waits, with `lock` held on the mutex, until the oldest `count` tasks not yet collected
  // have ended.
  void WaitLocked(std::unique_lock<std::mutex>& lock, std::size_t count);
  // Wakes the sleeping threads when tasks wait; with the lock held.
  void WakeThreads(bool all);

  const std::size_t count_;
  std::mutex mutex_;
  std::condition_variable work_;                    // for the threads: a task was given, or the end
  std::condition_variable done_;                    // for the job: a task it waits for has ended
  std::deque<std::pair<std::size_t, Task>> given_;  // not started: each with its number
  std::deque<bool> ended_;                          // of each task not collected, oldest first
  std::size_t firstUncollected_ = 0;                // the number of the oldest task not collected
  std::size_t endedAhead_ = 0;  // how many of the oldest not collected have ended
  std::size_t waitFor_ = 0;     // the job waits until endedAhead_ reaches this; 0: it does not
  std::size_t idle_ = 0;        // threads waiting for a task
  bool quit_ = false;
  std::vector<std::thread> threads_;
};

// Runs `work(i, thread)` for each i from 0 to count - 1 on `threads` work threads, up to
// kWorkAhead at once, and `then(i)` on the calling thread in the order of i, each once its
// work has ended; so what the work of i leaves in slot i % kWorkAhead of the caller's stays
// there until then(i). The work is handed out kWorkBatch items at a time, as each hand-over
// costs the threads a lock and often a wake. Without threads both run on the calling thread
// (thread 0).
inline constexpr std::size_t kWorkBatch = 64;
inline constexpr std::size_t kWorkAhead = 8 * kWorkBatch;
void WorkInOrder(std::size_t count, std::size_t threads,
                 const std::function<void(std::size_t i, std::size_t thread)>& work,
                 const std::function<void(std::size_t i)>& then);

}  // namespace lumbra::platform
