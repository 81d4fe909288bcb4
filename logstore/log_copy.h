// How a cached document stands against its copy in the log, what the add job does with it by
// the switches, and the copying into the logs: the copy itself and the keeping of old copies.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <sys/types.h>

#include "core/document.h"
#include "core/job_context.h"
#include "platform/fs.h"

namespace lumbra {

// How a cached document stands against its log copy; the numbers are the states the add job
// branches on.
enum class LogState : int {
  CacheMissing = 1,  // the cached file does not exist
  Same = 2,          // both exist, the cached file is not later, same size
  LogMissing = 6,    // the cached file exists, the log copy does not
  CacheNewer = 7,    // both exist, the cached file's modification time is later
  SizeDiffers = 8,   // both exist, the cached file is not later, the sizes differ
};

// The state of a cached document and a log copy whose status is known (Missing: absent).
LogState CompareStatus(const platform::FileStatus& cache, const platform::FileStatus& log);

// Whether an entry in state `state` is stored, by READ_ALL, READ_NEW and READ_HTM.
enum class StoreDecision {
  Skip,           // not stored
  Store,          // directories, old copy, copy
  DirectoryOnly,  // a changed page under NEW without READ_HTM: its directories only
  CopyOnly,       // a changed page under NEW with READ_HTM: copied, no old copy kept
};
StoreDecision DecideStore(const JobContext& ctx, LogState state, bool html);

// The mode a log copy gets: the old copy's (`old`, its status before the copy), or the normal
// one for a new file.
mode_t LogCopyMode(LogState state, const platform::FileStatus& old);

// Copies the cached document over the log copy `localPath`, replaced safely. A log copy that
// existed (`old`, its status before the copy; Missing when it was renamed to an old copy)
// keeps its mode. False when the copy failed; the old log copy then stays as it was.
bool CopyIntoLog(const std::string& localPath, DocumentSource& cached, LogState state,
                 const platform::FileStatus& old);

// Before the log copy is overwritten: renames it to the first free "%s-old%04d" name in its
// directory (page.html -> page-old0001.html, ...), unless it equals the cached document or a
// kept copy already holds the same bytes. Returns false only when a rename was needed and
// failed; `keptAs`, when given, receives the name the log copy was renamed to.
bool KeepOldCopy(const std::string& localPath, DocumentSource& cached,
                 std::string* keptAs = nullptr);

// The host directories that received files in one log-add job, each listed once, in the
// order first met, however many there are.
class RelatedHosts {
 public:
  void Remember(std::string_view hostDir);
  const std::vector<std::string>& dirs() const { return dirs_; }

 private:
  std::vector<std::string> dirs_;
  std::unordered_set<std::string> known_;  // dirs_, for the test of a directory met before
};

}  // namespace lumbra
