// A thread of its own for the replacements of a job's pages. The job hands each page's
// replacement over (AtomicFileWriter::Release, with the temporary file still to be made) and
// reads and rewrites the next pages while the file system takes the new ones in; the thread
// does every change to the directories, so the two never wait on each other's. A few
// replacements may be under way; their results come back in the order they were given.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/fs.h"

namespace lumbra::platform {

class ReplacementThread {
 public:
  // How one replacement ended (see AtomicFileWriter::Complete).
  struct Result {
    bool replaced = false;
    bool tempFailed = false;
    int error = 0;
  };
  // Replacements given and not yet done, at most: each holds its page's bytes.
  static constexpr std::size_t kQueued = 16;
  // A sleeping thread is woken once this many are given (or the job waits for one).
  static constexpr std::size_t kWakeFor = 4;

  ReplacementThread() = default;
  // Does every replacement given, then ends the thread.
  ~ReplacementThread();
  ReplacementThread(const ReplacementThread&) = delete;
  ReplacementThread& operator=(const ReplacementThread&) = delete;

  // Gives a replacement, waiting while kQueued are not yet done. The thread is made with the
  // first.
  void Start(AtomicFileWriter::Handover handover);
  // The result of the oldest replacement given and not yet collected; with `wait`, waits for
  // it to be done, else nullopt while it is not. Nullopt when there is none.
  std::optional<Result> Collect(bool wait);

 private:
  void Run();
  // Wakes the thread when it sleeps; with the lock held.
  void WakeThread();

  std::mutex mutex_;
  std::condition_variable work_;  // for the thread: a replacement was given, or the end
  std::condition_variable done_;  // for the job: a replacement was done
  std::deque<AtomicFileWriter::Handover> given_;
  std::deque<Result> results_;
  std::size_t uncollected_ = 0;  // given and not collected
  bool idle_ = false;            // the thread waits for work
  bool waiting_ = false;         // the job waits for the thread
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace lumbra::platform
