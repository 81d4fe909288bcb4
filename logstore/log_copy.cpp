#include "logstore/log_copy.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "platform/paths.h"

namespace lumbra {
namespace {

bool IsOneOf(LogState state, std::initializer_list<LogState> states) {
  return std::find(states.begin(), states.end(), state) != states.end();
}

// Whether the file at `path` is held over its whole length by `document` from its start.
bool FileHeldBy(const std::string& path, DocumentSource& document) {
  FileDocument file;
  return file.file().Open(path, platform::FollowLinks::Yes) == platform::OpenError::None &&
         SameContent(file, document);
}

}  // namespace

LogState CompareStatus(const platform::FileStatus& cache, const platform::FileStatus& log) {
  if (!cache.exists()) return LogState::CacheMissing;
  if (!log.exists()) return LogState::LogMissing;
  if (cache.mtime > log.mtime) return LogState::CacheNewer;
  return cache.size == log.size ? LogState::Same : LogState::SizeDiffers;
}

StoreDecision DecideStore(const JobContext& ctx, LogState state, bool html) {
  using S = LogState;
  if (ctx.readAll && IsOneOf(state, {S::Same, S::LogMissing, S::CacheNewer, S::SizeDiffers})) {
    return StoreDecision::Store;
  }
  if (ctx.readNew && IsOneOf(state, {S::LogMissing, S::CacheNewer, S::SizeDiffers})) {
    if (state == S::SizeDiffers && html) {
      return ctx.readHtm ? StoreDecision::CopyOnly : StoreDecision::DirectoryOnly;
    }
    return StoreDecision::Store;
  }
  if (ctx.readHtm && html &&
      IsOneOf(state, {S::Same, S::LogMissing, S::CacheNewer, S::SizeDiffers})) {
    return StoreDecision::Store;
  }
  return StoreDecision::Skip;
}

mode_t LogCopyMode(LogState state, const platform::FileStatus& old) {
  return state != LogState::LogMissing && old.isRegular() ? old.mode & 07777
                                                          : platform::NormalFileMode();
}

bool CopyIntoLog(const std::string& localPath, DocumentSource& cached, LogState state,
                 const platform::FileStatus& old) {
  if (!CopyDocument(localPath, cached, nullptr, &old)) return false;
  if (mode_t mode = LogCopyMode(state, old); mode != platform::NormalFileMode()) {
    platform::SetFileMode(localPath, mode);
  }
  return true;
}

bool KeepOldCopy(const std::string& localPath, DocumentSource& cached, std::string* keptAs) {
  const platform::FileStatus log = platform::StatPath(localPath);
  if (!cached.status().exists() || !log.exists()) return true;
  if (log.size == cached.status().size && FileHeldBy(localPath, cached)) return true;
  platform::PathParts parts = platform::SplitPath(localPath);
  for (unsigned long n = 1;; ++n) {
    char number[32];
    std::snprintf(number, sizeof number, "-old%04lu", n);
    std::string candidate = parts.dir + parts.name + number + parts.ext;
    platform::FileStatus kept = platform::StatPath(candidate);
    if (!kept.exists()) {
      if (!platform::RenameFile(localPath, candidate)) return false;
      if (keptAs != nullptr) *keptAs = candidate;
      return true;
    }
    if (kept.size == log.size) {
      FileDocument keptCopy;
      if (keptCopy.file().Open(candidate, platform::FollowLinks::Yes) ==
              platform::OpenError::None &&
          FileHeldBy(localPath, keptCopy)) {
        return true;
      }
    }
  }
}

void RelatedHosts::Remember(std::string_view hostDir) {
  if (!known_.emplace(hostDir).second) return;
  dirs_.emplace_back(hostDir);
}

}  // namespace lumbra
