// The locks that keep two jobs out of one directory at a time. A directory is locked by an
// exclusive flock on the file kJobLockName in it, which holds the process id of the job that
// has it while the job runs. The file stays when the lock is let go (empty), so every job
// locks the same file; the kernel lets go of the lock of a process that dies.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra::platform {

// The lock file in every directory a job locks. No walk takes it for a page or counts it.
inline constexpr std::string_view kJobLockName = ".lumbra-lock";

enum class LockState {
  Taken,    // every lock is held
  Busy,     // another open of the lock file holds it (another job, or this process)
  Failed,   // the directory or its lock file could not be used
  Stopped,  // the wait for a busy lock was given up
};

struct LockOutcome {
  LockState state = LockState::Taken;
  std::string dir;  // the directory (its real path when known) whose lock was not taken
  long pid = 0;     // Busy: the process that holds it, as its lock file says; 0 when not known
  int error = 0;    // Failed: the errno
};

// The process id a lock file names (its first line, decimal), 0 when it names none.
long ParseLockHolder(std::string_view content);

// An exclusive lock on one directory, held until Release or destruction.
class DirectoryLock {
 public:
  // Asked before a wait for a lock that `pid` (0: not known) holds on `dir`, and again after
  // a signal interrupted the wait: false gives the wait up.
  using WaitHook = std::function<bool(const std::string& dir, long pid)>;

  DirectoryLock() = default;
  ~DirectoryLock() { Release(); }
  DirectoryLock(DirectoryLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  DirectoryLock& operator=(DirectoryLock&&) = delete;
  DirectoryLock(const DirectoryLock&) = delete;

  // Opens (or makes) the lock file of `dir` and locks it; without `wait`, a busy lock is not
  // waited for. The lock file is taken only when it is a regular file, never through a link.
  // On Taken the file holds this process's id.
  LockOutcome Take(const std::string& dir, const WaitHook* wait);
  // Empties the lock file and lets go of the lock.
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The locks of one job: every directory it writes in, each locked once (directories that are
// one by their real path count once) and all in one order, that of their real paths, so two
// jobs that wait for each other's directories never wait for each other both.
class JobLocks {
 public:
  // Takes the locks of `dirs` (existing directories), in order; on anything but Taken none is
  // held. With `wait`, a busy lock is waited for (see DirectoryLock::WaitHook).
  LockOutcome Take(const std::vector<std::string>& dirs, const DirectoryLock::WaitHook* wait);
  // Lets go of every lock, the last taken first.
  void Release();
  bool held() const { return !locks_.empty(); }

 private:
  std::vector<DirectoryLock> locks_;
};

}  // namespace lumbra::platform
