#include "logstore/log_copy.h"

#include <algorithm>
#include <cstdio>

#include "platform/fs.h"
#include "platform/path_helpers.h"

namespace lumbra {

LogState CompareWithLog(const std::string& localPath, const std::string& cacheFile) {
  platform::FileStatus cache;
  platform::FileStatus log;
  StatPath(cacheFile, cache);
  StatPath(localPath, log);
  return CompareStatus(cache, log);
}

LogState CompareStatus(const platform::FileStatus& cache, const platform::FileStatus& log) {
  if (!cache.exists()) return LogState::CacheMissing;
  if (!log.exists()) return LogState::LogMissing;
  if (cache.mtime > log.mtime) return LogState::CacheNewer;
  return cache.size == log.size ? LogState::Same : LogState::SizeDiffers;
}

bool KeepOldCopy(const std::string& localPath, const std::string& cacheFile, std::string* keptAs) {
  platform::FileStatus cache;
  platform::FileStatus log;
  if (StatPath(cacheFile, cache) != 0 || StatPath(localPath, log) != 0) return true;
  if (log.size == cache.size && SameFileContent(localPath, cacheFile)) return true;
  PathParts parts = SplitPath(localPath);
  std::string dir = parts.drive + parts.dir;
  for (unsigned long n = 1;; ++n) {
    char number[32];
    std::snprintf(number, sizeof number, "-old%04lu", n);
    std::string candidate = dir + parts.name + number + parts.ext;
    platform::FileStatus kept;
    if (StatPath(candidate, kept) != 0) {
      if (!platform::RenameFile(localPath, candidate)) return false;
      if (keptAs != nullptr) *keptAs = candidate;
      return true;
    }
    if (kept.size == log.size && SameFileContent(localPath, candidate)) return true;
  }
}

void RelatedHosts::Remember(std::string_view hostDir) {
  if (hostDir.size() > kMaxHostDirLength || dirs_.size() >= kMaxRelatedHosts) return;
  if (std::find(dirs_.begin(), dirs_.end(), hostDir) != dirs_.end()) return;
  dirs_.emplace_back(hostDir);
}

}  // namespace lumbra
