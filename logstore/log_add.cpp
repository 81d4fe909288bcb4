#include "logstore/log_add.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

#include "cache/cache_index.h"
#include "core/ascii.h"
#include "core/exec_log.h"
#include "core/log_tree.h"
#include "logstore/excluded_hosts.h"
#include "logstore/log_path.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "rebuild/page_io.h"
#include "rebuild/tree_walk.h"

namespace lumbra {
namespace {

// The progress text of an entry: its URL from the seventh character on (/host/...).
std::string_view ProgressText(const std::string& url) {
  return url.size() > 6 ? std::string_view(url).substr(6) : std::string_view();
}

bool IsExcluded(const ExcludedHosts& hosts, const std::string& hostDir) {
  std::optional<std::string_view> host = AfterLogMarker(hostDir);
  return host && hosts.count(LowerAscii(*host)) > 0;
}

// Why a cached file is not read, for the execution log.
std::string_view RefusalText(platform::OpenError why) {
  switch (why) {
    case platform::OpenError::OutsideRoot:
      return "キャッシュの外を指す名前のため読みません";
    case platform::OpenError::SymbolicLink:
      return "シンボリックリンクのため読みません";
    case platform::OpenError::NotRegular:
      return "通常のファイルでないため読みません";
    case platform::OpenError::None:
    case platform::OpenError::Missing:
    case platform::OpenError::Unreadable:
      break;
  }
  return "キャッシュファイルを読めません";
}

// The pages of an add that wait for the second pass, where each is copied from the cache and
// rewritten in one write rather than copied now and replaced then: a page is written once,
// and no file is made only to be deleted. Meanwhile the job's table holds each as a file, so
// the later entries and the links of every page see it as they would see its copy.
class WaitingPages {
 public:
  struct Page {
    LogState state;            // of the log copy when the entry was met
    platform::FileStatus old;  // the log copy then, whose mode the new page keeps
  };

  void Add(int entry, const std::string& path, Page page) {
    byPath_[path] = entry;
    byEntry_.emplace(entry, page);
  }
  // The entry waiting for `path`, or -1.
  int EntryAt(const std::string& path) const {
    auto it = byPath_.find(path);
    return it == byPath_.end() ? -1 : it->second;
  }
  // Takes the page of `entry` from the waiting ones; false when it was not waiting.
  bool Take(int entry, const std::string& path, Page& page) {
    auto it = byEntry_.find(entry);
    if (it == byEntry_.end()) return false;
    page = it->second;
    byEntry_.erase(it);
    byPath_.erase(path);
    return true;
  }
  // The entries still waiting, in cache order.
  std::vector<int> Entries() const {
    std::vector<int> entries;
    for (const auto& [entry, page] : byEntry_) entries.push_back(entry);
    std::sort(entries.begin(), entries.end());
    return entries;
  }

 private:
  std::unordered_map<std::string, int> byPath_;
  std::unordered_map<int, Page> byEntry_;
};

// A stored entry whose copy failed after all: not stored, not counted.
void UnstoreEntry(LogAddTarget& target, int i, const std::string& localPath) {
  RecordFileFailure(target.ctx, target.counters, "ファイルコピー失敗", localPath);
  target.paths.Forget(localPath);  // the old copy, or nothing: asked again
  SetCacheEntryStatus(target.cache, i, 0);
  --target.counters.loggedFiles;
}

// Copies the waiting page of entry `i` as the first pass would have copied it, unrewritten:
// for a page whose path another entry meets, and for the pages still waiting when the job
// stops.
void CopyWaitingPage(LogAddTarget& target, platform::FilesBelow& cacheFiles, WaitingPages& waiting,
                     int i) {
  CacheEntry entry;
  GetCacheEntry(target.cache, i, entry);
  LogPath where;
  MapEntryToLogPath(target.ctx, target.paths, entry.url, where);
  WaitingPages::Page page;
  if (!waiting.Take(i, where.localPath, page)) return;
  FileDocument cached;
  if (OpenCachedFile(cacheFiles, entry.cacheFile, cached.file()) != platform::OpenError::None ||
      !CopyIntoLog(where.localPath, cached, page.state, page.old)) {
    UnstoreEntry(target, i, where.localPath);
  }
}

// Stores the waiting page of entry `i` (at `where`) rewritten. False when it failed, and
// then the entry is not stored.
bool StoreWaitingPage(LogAddTarget& target, platform::FilesBelow& cacheFiles,
                      const WaitingPages::Page& page, int i, const CacheEntry& entry,
                      const LogPath& where, std::string& title) {
  FileDocument cached;
  const RewriteContext job{target.ctx, target.paths};
  if (OpenCachedFile(cacheFiles, entry.cacheFile, cached.file()) != platform::OpenError::None ||
      !StoreRewrittenPage(job, where.treeRoot, where.localPath, target.ctx.readRef, cached,
                          LogCopyMode(page.state, page.old), title)) {
    UnstoreEntry(target, i, where.localPath);
    return false;
  }
  return true;
}

}  // namespace

bool AddEntriesToLogs(LogAddTarget& target) {
  const JobContext& ctx = target.ctx;
  JobCounters& counters = target.counters;
  if (!ReadCacheIndex(ctx, target.frontend, target.cache, ctx.cacheDir)) {
    RecordFileFailure(ctx, counters, "ファイルコピー失敗", ctx.cacheIndexFile);
    return false;  // without the index nothing is known: the job did not do its work
  }
  ExcludedHosts excluded;
  LoadExcludedHosts(ctx, excluded);

  int n = GetCacheEntryCount(target.cache);
  counters.entryCount = n;
  RelatedHosts related;
  platform::FilesBelow cacheFiles(ctx.cacheDir);
  platform::PathTable& paths = target.paths;
  // Pages wait only where nothing of the first pass looks into the files it stored: an old
  // copy is kept by comparing contents, and READ_DOM walks the disk.
  const bool pagesWait = !ctx.readBak && !ctx.readDom;
  WaitingPages waiting;
  // A stop leaves every stored page in the log as a stop always did: copied, not rewritten.
  auto stop = [&] {
    for (int entry : waiting.Entries()) CopyWaitingPage(target, cacheFiles, waiting, entry);
    return false;
  };
  for (int i = 0; i < n; ++i) {
    CacheEntry entry;
    GetCacheEntry(target.cache, i, entry);
    LogPath where;
    MapEntryToLogPath(ctx, paths, entry.url, where);
    ++counters.scannedEntries;
    if (target.frontend.ReportProgress(ProgressText(entry.url)) == 0) return stop();

    // An excluded entry counts once in scannedEntries; one without a place in the logs not.
    bool hasPath = !where.localPath.empty();
    if (hasPath && !excluded.empty() && IsExcluded(excluded, where.hostDir)) {
      ++counters.scannedEntries;
      hasPath = false;
    }
    if (!hasPath) {
      --counters.scannedEntries;
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }
    // A page waiting at this path is copied first, so this entry meets the copy it would
    // have met.
    if (int earlier = waiting.EntryAt(where.localPath); earlier >= 0) {
      CopyWaitingPage(target, cacheFiles, waiting, earlier);
    }

    // The cache index names the file to copy; only a regular file below the cache directory
    // is ever read, whatever the index says.
    FileDocument cached;
    platform::OpenError opened = OpenCachedFile(cacheFiles, entry.cacheFile, cached.file());
    if (opened != platform::OpenError::None && opened != platform::OpenError::Missing) {
      RecordFileFailure(ctx, counters, RefusalText(opened), entry.cacheFile);
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }

    // The open cached file's own status: the name is not looked up a second time.
    // A log copy the job's table knows to be missing is not asked for again.
    platform::FileStatus logCopy;
    if (paths.KindOf(where.localPath) != platform::PathTable::Kind::Missing) {
      logCopy = platform::StatPath(where.localPath);
    }
    LogState state = CompareStatus(cached.status(), logCopy);
    bool html = entry.contentType == "text/html";
    StoreDecision decision = DecideStore(ctx, state, html);
    if (decision == StoreDecision::Skip) {
      if (state == LogState::CacheMissing) --counters.scannedEntries;
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }
    // Below a LogTree root files are written only through real directories: a link there
    // could lead anywhere.
    if (platform::CrossesSymbolicLink(where.treeRoot, where.localPath, &paths) ||
        !platform::MakeDirectories(where.localPath, paths, where.treeRoot)) {
      RecordFileFailure(ctx, counters, "シンボリックリンクを経由するため保存しません",
                        where.localPath);
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }
    if (decision == StoreDecision::DirectoryOnly) {
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }

    // A page waits for the second pass; one that the copy would refuse (a read-only file or
    // no file in the way) or the rewriting would (not writable by its owner) is copied now,
    // so that it fails or stays unrewritten as it always did.
    if (pagesWait && html && (!logCopy.exists() || logCopy.isRegular()) &&
        !platform::IsReadOnly(logCopy) && (LogCopyMode(state, logCopy) & S_IWUSR) != 0) {
      waiting.Add(i, where.localPath, {state, logCopy});
      paths.Remember(where.localPath, platform::PathTable::Kind::File);
      SetCacheEntryStatus(target.cache, i, 1);
      ++counters.loggedFiles;
      continue;
    }

    bool keep = decision == StoreDecision::Store && ctx.readBak &&
                (state == LogState::CacheNewer || (state == LogState::SizeDiffers && !html));
    // When the old copy cannot be kept it must not be overwritten either.
    std::string keptAs;
    bool copied = (!keep || KeepOldCopy(where.localPath, cached, &keptAs)) &&
                  CopyIntoLog(where.localPath, cached, state,
                              keptAs.empty() ? logCopy : platform::FileStatus{});
    // The job's table learns what the copy made: the log copy, and the old copy renamed.
    if (!keptAs.empty()) paths.Remember(keptAs, platform::PathTable::Kind::File);
    if (copied) {
      paths.Remember(where.localPath, platform::PathTable::Kind::File);
    } else {
      paths.Forget(where.localPath);  // renamed away, and no copy in its place
    }
    if (!copied) {
      RecordFileFailure(ctx, counters, "ファイルコピー失敗", where.localPath);
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }
    if (ctx.readDom) related.Remember(where.hostDir);
    SetCacheEntryStatus(target.cache, i, 1);
    ++counters.loggedFiles;
  }
  AppendExecLog(ctx,
                "ファイルコピー　終了 ( " + std::to_string(counters.scannedEntries) + " 件 )\n");

  if (ctx.readDom) {
    // Only host directories that received a file are remembered, and no file is stored
    // through a link, so no walk starts in a linked host directory.
    RebuildTarget walk{ctx, counters, target.index, target.frontend, paths};
    for (const std::string& dir : related.dirs()) {
      if (!WalkLogTree(walk, dir)) return false;
    }
  } else {
    for (int i = 0; i < n; ++i) {
      CacheEntry entry;
      GetCacheEntry(target.cache, i, entry);
      if (entry.status == 0) continue;
      LogPath where;
      MapEntryToLogPath(ctx, paths, entry.url, where);
      if (entry.contentType != "text/html") continue;
      if (target.frontend.ReportProgress(ProgressText(entry.url)) == 0) return stop();
      std::string title;
      if (WaitingPages::Page page; waiting.Take(i, where.localPath, page)) {
        if (!StoreWaitingPage(target, cacheFiles, page, i, entry, where, title)) continue;
      } else if (ReconstructPage(RewriteContext{ctx, paths}, target.frontend, where.treeRoot,
                                 where.localPath, ctx.readRef, title) != PageRewrite::Rewritten) {
        RecordFileFailure(ctx, counters, kRewriteFailed, where.localPath);
      }
      if (title.empty()) title = "No Title";
      AddIndexRecord(target.index, where.treeRoot, where.localPath, title);
      ++counters.convertedPages;
    }
  }
  AppendExecLog(ctx,
                "HTML 変更書き換え　終了 ( " + std::to_string(counters.convertedPages) + " 件 )\n");
  return true;
}

}  // namespace lumbra
