#include "platform/job_lock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumbra::platform {
namespace {

// The id the holder wrote; a holder that has just taken the lock may not have written it yet,
// so an empty file is read again a few times before the holder counts as not known.
long ReadHolder(int fd) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    char buffer[32];
    ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      if (long pid = ParseLockHolder(std::string_view(buffer, static_cast<std::size_t>(n))))
        return pid;
    }
    ::usleep(5000);
  }
  return 0;
}

void WriteHolder(int fd) {
  const std::string line = std::to_string(static_cast<long>(::getpid())) + "\n";
  // A lock whose id cannot be written is held all the same; others then name no process.
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd, line.data(), line.size(), 0);
  }
}

LockOutcome Failure(const std::string& dir, int error) {
  return LockOutcome{LockState::Failed, dir, 0, error};
}

}  // namespace

long ParseLockHolder(std::string_view content) {
  long pid = 0;
  std::size_t i = 0;
  for (; i < content.size() && content[i] >= '0' && content[i] <= '9'; ++i) {
    if (pid > (LONG_MAX - 9) / 10) return 0;
    pid = pid * 10 + (content[i] - '0');
  }
  if (i == 0 || (i < content.size() && content[i] != '\n')) return 0;
  return pid;
}

LockOutcome DirectoryLock::Take(const std::string& dir, const WaitHook* wait) {
  Release();
  const std::string path = dir + "/" + std::string(kJobLockName);
  // Never through a link, never blocking on a FIFO put in its place.
  int fd =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return Failure(dir, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Failure(dir, EINVAL);
  }
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      int error = errno;
      ::close(fd);
      return Failure(dir, error);
    }
    const long pid = ReadHolder(fd);
    if (wait == nullptr) {
      ::close(fd);
      return LockOutcome{LockState::Busy, dir, pid, 0};
    }
    if (!(*wait)(dir, pid)) {
      ::close(fd);
      return LockOutcome{LockState::Stopped, dir, pid, 0};
    }
    if (::flock(fd, LOCK_EX) == 0) break;
    if (errno != EINTR) {
      int error = errno;
      ::close(fd);
      return Failure(dir, error);
    }
    // A signal: the hook is asked again whether to go on waiting.
  }
  WriteHolder(fd);
  fd_ = fd;
  return LockOutcome{};
}

void DirectoryLock::Release() {
  if (fd_ < 0) return;
  // The id goes before the lock, so no one names a process that no longer holds it.
  [[maybe_unused]] int truncated = ::ftruncate(fd_, 0);
  ::close(fd_);  // lets go of the lock
  fd_ = -1;
}

LockOutcome JobLocks::Take(const std::vector<std::string>& dirs,
                           const DirectoryLock::WaitHook* wait) {
  Release();
  std::vector<std::string> real;
  for (const std::string& dir : dirs) {
    char* resolved = ::realpath(dir.c_str(), nullptr);
    if (resolved == nullptr) return Failure(dir, errno);
    real.emplace_back(resolved);
    std::free(resolved);
  }
  std::sort(real.begin(), real.end());
  real.erase(std::unique(real.begin(), real.end()), real.end());
  for (const std::string& dir : real) {
    DirectoryLock lock;
    LockOutcome outcome = lock.Take(dir, wait);
    if (outcome.state != LockState::Taken) {
      Release();
      return outcome;
    }
    locks_.push_back(std::move(lock));
  }
  return LockOutcome{};
}

void JobLocks::Release() {
  while (!locks_.empty()) locks_.pop_back();
}

}  // namespace lumbra::platform
