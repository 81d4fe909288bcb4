#include "platform/replacement_thread.h"

#include <utility>

namespace lumbra::platform {

ReplacementThread::~ReplacementThread() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  work_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void ReplacementThread::Start(AtomicFileWriter::Handover handover) {
  std::unique_lock lock(mutex_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  if (given_.size() >= kQueued) {
    // Nothing wakes the job when the queue gets room, only when a replacement is done.
    WakeThread();
    waiting_ = true;
    done_.wait(lock, [this] { return given_.size() < kQueued; });
    waiting_ = false;
  }
  given_.push_back(std::move(handover));
  ++uncollected_;
  // A sleeping thread is woken for a few replacements at once: each wake is a system call.
  if (given_.size() >= kWakeFor) WakeThread();
}

void ReplacementThread::WakeThread() {
  if (idle_) work_.notify_one();
}

std::optional<ReplacementThread::Result> ReplacementThread::Collect(bool wait) {
  std::unique_lock lock(mutex_);
  if (uncollected_ == 0) return std::nullopt;
  if (results_.empty()) {
    if (!wait) return std::nullopt;
    WakeThread();
    waiting_ = true;
    done_.wait(lock, [this] { return !results_.empty(); });
    waiting_ = false;
  }
  Result result = results_.front();
  results_.pop_front();
  --uncollected_;
  return result;
}

void ReplacementThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (given_.empty()) {
      // A replacement given before the end is done before the thread ends.
      if (quit_) return;
      idle_ = true;
      work_.wait(lock, [this] { return !given_.empty() || quit_; });
      idle_ = false;
      continue;
    }
    AtomicFileWriter::Handover handover = std::move(given_.front());
    given_.pop_front();
    lock.unlock();
    Result result;
    result.replaced = AtomicFileWriter::Complete(handover);
    result.tempFailed = handover.tempFailed;
    result.error = handover.error;
    lock.lock();
    results_.push_back(result);
    if (waiting_) done_.notify_one();
  }
}

}  // namespace lumbra::platform
