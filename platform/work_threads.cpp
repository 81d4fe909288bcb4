#include "platform/work_threads.h"

#include <algorithm>

namespace lumbra::platform {

WorkThreads::~WorkThreads() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkThreads::Start(Task task) {
  std::lock_guard lock(mutex_);
  if (threads_.empty()) {
    for (std::size_t i = 0; i < count_; ++i) threads_.emplace_back([this, i] { Run(i); });
  }
  given_.emplace_back(firstUncollected_ + ended_.size(), std::move(task));
  ended_.push_back(false);
  // Each wake is a system call: a sleeping thread is woken for a few tasks at once.
  if (given_.size() >= kWakeFor) WakeThreads(false);
}

bool WorkThreads::Collect(bool wait) {
  std::unique_lock lock(mutex_);
  if (ended_.empty() || (endedAhead_ == 0 && !wait)) return false;
  WaitLocked(lock, 1);
  ended_.pop_front();
  ++firstUncollected_;
  --endedAhead_;
  return true;
}

void WorkThreads::WaitForOldest(std::size_t count) {
  std::unique_lock lock(mutex_);
  WaitLocked(lock, std::min(count, ended_.size()));
}

void WorkThreads::WaitLocked(std::unique_lock<std::mutex>& lock, std::size_t count) {
  if (endedAhead_ >= count) return;
  WakeThreads(true);
  waitFor_ = count;
  done_.wait(lock, [this, count] { return endedAhead_ >= count; });
  waitFor_ = 0;
}

void WorkThreads::WakeThreads(bool all) {
  if (idle_ == 0 || given_.empty()) return;
  if (all) {
    work_.notify_all();
  } else {
    work_.notify_one();
  }
}

void WorkThreads::Run(std::size_t thread) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (given_.empty()) {
      // A task given before the end is run before the thread ends.
      if (quit_) return;
      ++idle_;
      work_.wait(lock, [this] { return !given_.empty() || quit_; });
      --idle_;
      continue;
    }
    auto [number, task] = std::move(given_.front());
    given_.pop_front();
    if (!given_.empty()) WakeThreads(false);  // more for a thread that sleeps
    lock.unlock();
    task(thread);
    task = nullptr;  // what the task holds goes before its end is told
    lock.lock();
    ended_[number - firstUncollected_] = true;
    while (endedAhead_ < ended_.size() && ended_[endedAhead_]) ++endedAhead_;
    if (waitFor_ != 0 && endedAhead_ >= waitFor_) done_.notify_one();
  }
}

std::size_t WorkThreads::ForProcessors() {
  const std::size_t processors = std::thread::hardware_concurrency();
  return processors <= 1 ? 0 : std::min<std::size_t>(processors, 4);
}

void WorkInOrder(std::size_t count, std::size_t threads,
                 const std::function<void(std::size_t i, std::size_t thread)>& work,
                 const std::function<void(std::size_t i)>& then) {
  if (threads == 0) {
    for (std::size_t i = 0; i < count; ++i) {
      work(i, 0);
      then(i);
    }
    return;
  }
  WorkThreads workers(threads);
  std::size_t given = 0;  // items handed out
  for (std::size_t i = 0; i < count; ++i) {
    // Handed out once half of them are taken, a few batches at once: each wake of a sleeping
    // thread is a system call.
    if (given <= i + kWorkAhead / 2) {
      for (; given < count && given + kWorkBatch <= i + kWorkAhead; given += kWorkBatch) {
        const std::size_t end = std::min(count, given + kWorkBatch);
        workers.Start([&work, first = given, end](std::size_t thread) {
          for (std::size_t item = first; item < end; ++item) work(item, thread);
        });
      }
    }
    if (i % kWorkBatch == 0) workers.Collect(true);
    then(i);
  }
}

}  // namespace lumbra::platform
