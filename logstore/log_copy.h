// How a cached file stands against its copy in the log, and the keeping of old copies.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs.h"

namespace lumbra {

// CompareWithLog results; the numbers are the states the log-add job branches on.
enum class LogState : int {
  CacheMissing = 1,  // the cached file does not exist
  Same = 2,          // both exist, the cached file is not later, same size
  LogMissing = 6,    // the cached file exists, the log copy does not
  CacheNewer = 7,    // both exist, the cached file's modification time is later
  SizeDiffers = 8,   // both exist, the cached file is not later, the sizes differ
};

LogState CompareWithLog(const std::string& localPath, const std::string& cacheFile);
// The same for a cached file and a log copy whose status is known (Missing: absent).
LogState CompareStatus(const platform::FileStatus& cache, const platform::FileStatus& log);

// Before the log copy is overwritten: renames it to the first free "%s-old%04d" name in its
// directory (page.html -> page-old0001.html, ...), unless it equals the cached file or a
// kept copy already holds the same bytes. Returns false only when a rename was needed and
// failed; `keptAs`, when given, receives the name the log copy was renamed to.
bool KeepOldCopy(const std::string& localPath, const std::string& cacheFile,
                 std::string* keptAs = nullptr);

// The host directories that received files in one log-add job, each listed once, in the
// order first met; at most kMaxRelatedHosts.
class RelatedHosts {
 public:
  static constexpr std::size_t kMaxRelatedHosts = 500;
  static constexpr std::size_t kMaxHostDirLength = 249;

  void Remember(std::string_view hostDir);
  const std::vector<std::string>& dirs() const { return dirs_; }

 private:
  std::vector<std::string> dirs_;
};

}  // namespace lumbra
