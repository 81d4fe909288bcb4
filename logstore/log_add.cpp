#include "logstore/log_add.h"

#include "cache/cache_index.h"
#include "core/exec_log.h"
#include "logstore/excluded_hosts.h"
#include "logstore/link_resolver.h"
#include "platform/fs.h"
#include "platform/path_helpers.h"
#include "rebuild/page_rewriter.h"
#include "rebuild/tree_walk.h"

namespace lumbra {
namespace {

bool IsOneOf(LogState state, std::initializer_list<LogState> states) {
  for (LogState s : states) {
    if (state == s) return true;
  }
  return false;
}

// The progress text of an entry: its URL from the seventh character on (/host/...).
std::string_view ProgressText(const std::string& url) {
  return url.size() > 6 ? std::string_view(url).substr(6) : std::string_view();
}

bool IsExcluded(const ExcludedHosts& hosts, const std::string& hostDir) {
  std::size_t at = FindNoCase(hostDir, "log/");
  if (at == std::string::npos) return false;
  return hosts.count(LowerAscii(std::string_view(hostDir).substr(at + 4))) > 0;
}

// Copies the open cached file over the log copy. A log copy that existed (`old`, its status
// before the copy; Missing when it was renamed to an old copy) keeps its mode.
// False when the copy failed; the old log copy then stays as it was.
bool CopyIntoLog(const std::string& localPath, platform::ReadableFile& cached, LogState state,
                 const platform::FileStatus& old) {
  if (!CopyReplace(localPath, cached, nullptr, &old)) return false;
  if (state != LogState::LogMissing && old.isRegular()) {
    platform::SetFileMode(localPath, old.mode);
  }
  return true;
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

}  // namespace

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
  for (int i = 0; i < n; ++i) {
    CacheEntry entry;
    GetCacheEntry(target.cache, i, entry);
    LogPath where;
    MapEntryToLogPath(ctx, entry.url, where);
    ++counters.scannedEntries;
    if (target.frontend.ReportProgress(ProgressText(entry.url)) == 0) return false;

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

    // The cache index names the file to copy; only a regular file below the cache directory
    // is ever read, whatever the index says.
    platform::ReadableFile cached;
    platform::OpenError opened = OpenCachedFile(cacheFiles, entry.cacheFile, cached);
    if (opened != platform::OpenError::None && opened != platform::OpenError::Missing) {
      RecordFileFailure(ctx, counters, RefusalText(opened), entry.cacheFile);
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }

    // The open cached file's own status: the name is not looked up a second time.
    // A log copy the job's table knows to be missing is not asked for again.
    platform::FileStatus logCopy;
    if (ctx.paths == nullptr ||
        ctx.paths->KindOf(where.localPath) != platform::PathTable::Kind::Missing) {
      StatPath(where.localPath, logCopy);
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
    if (platform::CrossesSymbolicLink(where.treeRoot, where.localPath, ctx.paths.get()) ||
        !MakeDirectories(where.localPath, where.treeRoot, ctx.paths.get())) {
      RecordFileFailure(ctx, counters, "シンボリックリンクを経由するため保存しません",
                        where.localPath);
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }
    if (decision == StoreDecision::DirectoryOnly) {
      SetCacheEntryStatus(target.cache, i, 0);
      continue;
    }

    bool keep = decision == StoreDecision::Store && ctx.readBak &&
                (state == LogState::CacheNewer || (state == LogState::SizeDiffers && !html));
    // When the old copy cannot be kept it must not be overwritten either.
    std::string keptAs;
    bool copied = (!keep || KeepOldCopy(where.localPath, entry.cacheFile, &keptAs)) &&
                  CopyIntoLog(where.localPath, cached, state,
                              keptAs.empty() ? logCopy : platform::FileStatus{});
    if (ctx.paths != nullptr) {
      // The job's table learns what the copy made: the log copy, and the old copy renamed.
      if (!keptAs.empty()) ctx.paths->Remember(keptAs, platform::PathTable::Kind::File);
      if (copied) {
        ctx.paths->Remember(where.localPath, platform::PathTable::Kind::File);
      } else {
        ctx.paths->Forget(where.localPath);  // renamed away, and no copy in its place
      }
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
    RebuildTarget walk{ctx, counters, target.index, target.frontend};
    for (const std::string& dir : related.dirs()) {
      if (!WalkLogTree(walk, dir)) return false;
    }
  } else {
    for (int i = 0; i < n; ++i) {
      CacheEntry entry;
      GetCacheEntry(target.cache, i, entry);
      if (entry.status == 0) continue;
      LogPath where;
      MapEntryToLogPath(ctx, entry.url, where);
      if (entry.contentType != "text/html") continue;
      if (target.frontend.ReportProgress(ProgressText(entry.url)) == 0) return false;
      std::string title;
      if (ReconstructPage(ctx, target.frontend, where.treeRoot, where.localPath, ctx.readRef,
                          title) != PageRewrite::Rewritten) {
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
