#include "jobs/add_job.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>

#include "cache/cache_index.h"
#include "core/ascii.h"
#include "core/content_type.h"
#include "core/exec_log.h"
#include "core/secure_hosts.h"
#include "index/index_pages.h"
#include "jobs/tree_walk.h"
#include "jobs/waiting_pages.h"
#include "logstore/excluded_hosts.h"
#include "logstore/log_copy.h"
#include "logstore/log_path.h"
#include "platform/language.h"
#include "platform/paths.h"
#include "rebuild/page_io.h"

namespace lumbra {
namespace {

constexpr std::string_view kCopyFailed = "ファイルコピー失敗";
// A document up to this size is copied on a page thread, held in memory until it is; a larger
// one is copied at once. At most kPagesUnderWay are under way.
constexpr std::uint64_t kCopiedLaterMax = std::uint64_t{256} << 10;

// The progress text of an entry: its URL from the seventh character on (/host/...).
std::string_view ProgressText(const std::string& url) {
  return url.size() > 6 ? std::string_view(url).substr(6) : std::string_view();
}

bool IsPage(const CacheEntry& entry) { return IsHtmlType(entry.contentType); }

// A style sheet is rewritten in its log, after every entry is stored, relative to its own
// place there. Its stored path ends as its URL does.
bool IsStyleSheet(const CacheEntry& entry) {
  return !IsPage(entry) &&
         (MediaTypeOf(entry.contentType) == "text/css" || IsStyleSheetPath(entry.url));
}

class AddJob {
 public:
  AddJob(JobTarget& job, CacheEntryTable& cache) : job_(job), ctx_(job.ctx), cache_(cache) {}
  // The page threads may still hold this job's documents.
  ~AddJob() { SettlePages(); }
  AddJob(const AddJob&) = delete;
  AddJob& operator=(const AddJob&) = delete;

  // The cache's entries into the table, and the excluded hosts. False when the cache's index
  // could not be read: without it nothing is known.
  bool ReadIndex(const CacheLayouts& layouts);
  // Every entry stored or passed over. False when the user stopped the job.
  bool FirstPass();
  // The pages stored, rewritten and indexed, and the style sheets rewritten. False when the
  // user stopped the job.
  bool SecondPass();
  // Adds the hosts met over https to their trees' lists (see core/secure_hosts.h).
  void SaveSecureHosts();

 private:
  // What the first pass did with an entry.
  enum class Met {
    NoPlace,     // no place in the logs: not looked at
    Vanished,    // its document is gone: not looked at
    PassedOver,  // looked at, not stored (excluded, not selected, refused, or failed)
    Stored,      // copied into its log
    Copying,     // being copied into its log on a page thread: counted once copied
    Waiting,     // a page that waits for the second pass
  };
  Met StoreEntry(int i, const CacheEntry& entry, const LogPath& where);
  platform::OpenError OpenDocument(const CacheEntry& entry,
                                   std::unique_ptr<DocumentSource>& document);
  // The document of `entry` as the page thread `thread` (or the job's, kJobThread) opens it;
  // null when it cannot be opened.
  std::unique_ptr<DocumentSource> OpenOnThread(const CacheEntry& entry, std::size_t thread);
  // A stop leaves every page stored so far in its log copied, not rewritten (a rebuild
  // rewrites it).
  bool Stop();
  // Copies the waiting page of entry `i` as the first pass would have copied it, unrewritten:
  // for a page whose path another entry meets, and for the pages still waiting at a stop.
  void CopyWaitingPage(int i);
  // Stores the waiting page of entry `i` (at `where`) rewritten, and counts and indexes it;
  // one that fails is not stored. With the job's PageReplacements, the page is replaced, and
  // counted or not, while the job goes on (see SettlePages).
  void StoreWaitingPage(int i, const LogPath& where, const WaitingPages::Page& page);
  // Ends the pages being replaced: before anything else is counted, logged or stored.
  void SettlePages();
  // An entry that was to be stored but whose copy failed: not stored.
  void Unstore(int i, const std::string& localPath);
  // Records a failure of the first pass, after those of the copies under way.
  void Fail(std::string_view what, std::string_view path);
  // Copies the document of entry `i`, whose log copy is missing, on a page thread while the
  // job goes on; what follows (its count, or its failure) runs in the order of the entries.
  void CopyLater(int i, const LogPath& where, std::unique_ptr<DocumentSource> cached);
  // The stored pages and style sheets, as the second pass takes them: grouped by the
  // directory of their URL, in the order the first entry of each was met, and in cache order
  // within it. The pages of one directory then follow each other while the answers to their
  // links, mostly alike, are at hand.
  std::vector<int> InDirectoryOrder() const;

  JobTarget& job_;
  const JobContext& ctx_;
  CacheEntryTable& cache_;
  ExcludedHosts excluded_;
  const CacheLayout* layout_ = nullptr;         // null when no layout holds the cache
  std::unique_ptr<CachedDocuments> documents_;  // null when no layout holds the cache
  // Each page thread's own, made by that thread when it first opens a document.
  std::vector<std::unique_ptr<CachedDocuments>> threadDocuments_;
  // Pages wait only where nothing of the first pass looks into the files it stored: an old
  // copy is kept by comparing contents, and READ_DOM walks the disk.
  const bool pagesWait_ = !ctx_.readBak && !ctx_.readDom;
  WaitingPages waiting_;
  std::unordered_set<std::string> copying_;  // the paths of the copies under way
  RelatedHosts related_;
  std::map<std::string, std::set<std::string>> secureHosts_;  // by tree root
};

bool AddJob::ReadIndex(const CacheLayouts& layouts) {
  const CacheLayout* layout = layouts.Find(ctx_.cacheDir);
  if (!ReadCacheIndex(ctx_, job_.frontend, layout, cache_, ctx_.cacheDir)) {
    RecordFileFailure(ctx_, job_.counters, kCopyFailed, ctx_.cacheIndexFile);
    return false;
  }
  // An entry file the reader refused (a link, a FIFO) counts as a refused cached file.
  for (const RefusedCacheFile& refused : cache_.refusedFiles()) {
    RecordFileFailure(ctx_, job_.counters, refused.why, ctx_.cacheDir + "/" + refused.file);
  }
  layout_ = layout;
  if (layout != nullptr) documents_ = layout->Documents(ctx_.cacheDir);
  if (job_.later != nullptr) threadDocuments_.resize(job_.later->pageThreads());
  LoadExcludedHosts(ctx_, excluded_);
  job_.counters.entryCount = GetCacheEntryCount(cache_);
  return true;
}

bool AddJob::FirstPass() {
  JobCounters& counters = job_.counters;
  const int n = GetCacheEntryCount(cache_);
  for (int i = 0; i < n; ++i) {
    const CacheEntry& entry = cache_.row(i);
    LogPath where;
    MapEntryToLogPath(ctx_, job_.paths, entry.url, where);
    if (job_.frontend.ReportProgress(ProgressText(entry.url)) == 0) {
      ++counters.scannedEntries;  // the entry met at the stop counts as looked at
      return Stop();
    }
    const Met met = StoreEntry(i, entry, where);
    if (met != Met::NoPlace && met != Met::Vanished) ++counters.scannedEntries;
    if (met == Met::Stored) ++counters.loggedFiles;  // a waiting page counts once written
    if (met != Met::Copying) {
      SetCacheEntryStatus(cache_, i, met == Met::Stored || met == Met::Waiting ? 1 : 0);
    }
  }
  SettlePages();
  AppendExecLog(ctx_,
                "ファイルコピー　終了 ( " + std::to_string(counters.scannedEntries) + " 件 )\n");
  return true;
}

AddJob::Met AddJob::StoreEntry(int i, const CacheEntry& entry, const LogPath& where) {
  if (where.leadsOutside) {
    Fail("ログの外を指す URL のため保存しません", entry.url);
    return Met::PassedOver;
  }
  if (where.localPath.empty()) return Met::NoPlace;
  if (entry.url.size() > kCacheUrlMax) {
    Fail("URL が長すぎるため保存しません", entry.url);
    return Met::PassedOver;
  }
  if (IsExcludedHostDir(excluded_, where.hostDir)) return Met::PassedOver;
  // A copy under way to this path ends first, so this entry meets the copy it makes.
  if (copying_.contains(where.localPath)) SettlePages();
  // A page waiting at this path is copied first, so this entry meets the copy it would have
  // met.
  if (int earlier = waiting_.EntryAt(where.localPath); earlier >= 0) CopyWaitingPage(earlier);

  // A log copy the job's table knows to be missing is not asked for again.
  platform::PathTable& paths = job_.paths;
  platform::FileStatus logCopy;
  if (paths.KindOf(where.localPath) != platform::PathTable::Kind::Missing) {
    logCopy = platform::StatPath(where.localPath);
  }
  const bool html = IsPage(entry);
  // A page waits for the second pass; one that the copy would refuse (a read-only file or
  // no file in the way) or the rewriting would (not writable by its owner) is copied now,
  // so that it fails or stays unrewritten in the same way.
  auto waits = [&](LogState state) {
    return pagesWait_ && html && (!logCopy.exists() || logCopy.isRegular()) &&
           !platform::IsReadOnly(logCopy) && (LogCopyMode(state, logCopy) & S_IWUSR) != 0;
  };

  // The cache index names the document; only what lies inside the cache is ever read,
  // whatever the index says. A page its reader has just read whole is not read again when it
  // will wait: nothing of it is needed before the second pass, which reads it to rewrite it.
  std::unique_ptr<DocumentSource> cached;
  if (!entry.readWhole || logCopy.exists() || !waits(LogState::LogMissing)) {
    platform::OpenError opened = OpenDocument(entry, cached);
    if (opened == platform::OpenError::Missing) return Met::Vanished;
    if (opened != platform::OpenError::None) {
      Fail(documents_->RefusalOf(opened), entry.cacheFile);
      return Met::PassedOver;
    }
  }
  if (StartsWithNoCase(entry.url, "https:")) {
    secureHosts_[where.treeRoot].insert(where.hostDir.substr(where.treeRoot.size() + 1));
  }

  const LogState state =
      cached != nullptr ? CompareStatus(cached->status(), logCopy) : LogState::LogMissing;
  const StoreDecision decision = DecideStore(ctx_, state, html);
  if (decision == StoreDecision::Skip) {
    return state == LogState::CacheMissing ? Met::Vanished : Met::PassedOver;
  }
  // Below a LogTree root files are written only through real directories: a link there
  // could lead anywhere.
  if (platform::CrossesSymbolicLink(where.treeRoot, where.localPath, &paths) ||
      !platform::MakeDirectories(where.localPath, paths, where.treeRoot)) {
    Fail("シンボリックリンクを経由するため保存しません", where.localPath);
    return Met::PassedOver;
  }
  if (decision == StoreDecision::DirectoryOnly) return Met::PassedOver;

  if (waits(state)) {
    waiting_.Add(i, where.localPath, {state, logCopy});
    paths.Remember(where.localPath, platform::PathTable::Kind::File);
    return Met::Waiting;
  }

  bool keep = decision == StoreDecision::Store && ctx_.readBak &&
              (state == LogState::CacheNewer || (state == LogState::SizeDiffers && !html));
  if (!keep && !logCopy.exists() && cached->status().size <= kCopiedLaterMax &&
      job_.later != nullptr && job_.later->RewritesPagesOf(job_.rewriting())) {
    CopyLater(i, where, std::move(cached));
    return Met::Copying;
  }
  // When the old copy cannot be kept it must not be overwritten either.
  std::string keptAs;
  bool copied = (!keep || KeepOldCopy(where.localPath, *cached, &keptAs)) &&
                CopyIntoLog(where.localPath, *cached, state,
                            keptAs.empty() ? logCopy : platform::FileStatus{});
  // The job's table learns what the copy made: the log copy, and the old copy renamed.
  if (!keptAs.empty()) paths.Remember(keptAs, platform::PathTable::Kind::File);
  if (!copied) {
    paths.Forget(where.localPath);  // renamed away, and no copy in its place
    Fail(kCopyFailed, where.localPath);
    return Met::PassedOver;
  }
  paths.Remember(where.localPath, platform::PathTable::Kind::File);
  if (ctx_.readDom) related_.Remember(where.hostDir);
  return Met::Stored;
}

platform::OpenError AddJob::OpenDocument(const CacheEntry& entry,
                                         std::unique_ptr<DocumentSource>& document) {
  if (documents_ == nullptr) return platform::OpenError::Missing;
  return documents_->Open(entry, document);
}

bool AddJob::Stop() {
  SettlePages();
  for (int entry : waiting_.Entries()) CopyWaitingPage(entry);
  return false;
}

void AddJob::SettlePages() {
  if (job_.later != nullptr) job_.later->Settle();
}

void AddJob::CopyWaitingPage(int i) {
  SettlePages();  // its failure is told after those of the copies under way
  const CacheEntry& entry = cache_.row(i);
  LogPath where;
  MapEntryToLogPath(ctx_, job_.paths, entry.url, where);
  std::optional<WaitingPages::Page> page = waiting_.Take(i, where.localPath);
  if (!page) return;
  std::unique_ptr<DocumentSource> cached;
  if (OpenDocument(entry, cached) != platform::OpenError::None ||
      !CopyIntoLog(where.localPath, *cached, page->state, page->old)) {
    Unstore(i, where.localPath);
    return;
  }
  ++job_.counters.loggedFiles;
}

std::unique_ptr<DocumentSource> AddJob::OpenOnThread(const CacheEntry& entry, std::size_t thread) {
  std::unique_ptr<DocumentSource> document;
  if (thread == PageReplacements::kJobThread) {
    if (OpenDocument(entry, document) != platform::OpenError::None) return nullptr;
    return document;
  }
  std::unique_ptr<CachedDocuments>& documents = threadDocuments_.at(thread);
  if (documents == nullptr && layout_ != nullptr) documents = layout_->Documents(ctx_.cacheDir);
  if (documents == nullptr || documents->Open(entry, document) != platform::OpenError::None) {
    return nullptr;
  }
  return document;
}

void AddJob::StoreWaitingPage(int i, const LogPath& where, const WaitingPages::Page& page) {
  // The page's document is opened where the page is rewritten: on a page thread, from a copy
  // of its row, which the job may change meanwhile.
  StoreRewrittenPageThen(
      job_.rewriting(), where.treeRoot, where.localPath, ctx_.readRef,
      [this, entry = cache_.row(i)](std::size_t thread) { return OpenOnThread(entry, thread); },
      LogCopyMode(page.state, page.old),
      [this, i, where](PageRewrite result, std::string title, TitleCharset charset) {
        if (result != PageRewrite::Rewritten) {
          Unstore(i, where.localPath);
          return;
        }
        ++job_.counters.loggedFiles;
        IndexPage(job_, where.treeRoot, where.localPath, std::move(title), std::move(charset),
                  cache_.row(i).contentType);
      });
}

void AddJob::Fail(std::string_view what, std::string_view path) {
  SettlePages();
  RecordFileFailure(ctx_, job_.counters, what, path);
}

void AddJob::CopyLater(int i, const LogPath& where, std::unique_ptr<DocumentSource> cached) {
  copying_.insert(where.localPath);
  job_.paths.Remember(where.localPath, platform::PathTable::Kind::File);
  SetCacheEntryStatus(cache_, i, 1);
  // Held by the work, which a std::function copies.
  std::shared_ptr<DocumentSource> document = std::move(cached);
  job_.later->StartPage(
      job_.rewriting(), nullptr,
      [document, path = where.localPath](const RewriteContext&, std::size_t, PageOutcome& outcome) {
        const bool copied = CopyIntoLog(path, *document, LogState::LogMissing, {});
        outcome.result = copied ? PageRewrite::Rewritten : PageRewrite::WriteFailed;
      },
      [this, i, where](PageRewrite result, std::string, TitleCharset) {
        copying_.erase(where.localPath);
        if (result != PageRewrite::Rewritten) {
          Unstore(i, where.localPath);
          return;
        }
        ++job_.counters.loggedFiles;
        if (ctx_.readDom) related_.Remember(where.hostDir);
      });
}

void AddJob::Unstore(int i, const std::string& localPath) {
  RecordFileFailure(ctx_, job_.counters, kCopyFailed, localPath);
  job_.paths.Forget(localPath);  // the old copy, or nothing: asked again
  SetCacheEntryStatus(cache_, i, 0);
}

bool AddJob::SecondPass() {
  if (ctx_.readDom) {
    // Only host directories that received a file are remembered, and no file is stored
    // through a link, so no walk starts in a linked host directory.
    for (const std::string& dir : related_.dirs()) {
      if (!WalkLogTree(job_, dir)) return false;
    }
  } else {
    for (int i : InDirectoryOrder()) {
      const CacheEntry& entry = cache_.row(i);
      const bool sheet = IsStyleSheet(entry);
      if (job_.frontend.ReportProgress(ProgressText(entry.url)) == 0) return Stop();
      LogPath where;
      MapEntryToLogPath(ctx_, job_.paths, entry.url, where);
      if (sheet) {
        RewriteStyleSheet(job_, where.treeRoot, where.localPath);
      } else if (std::optional<WaitingPages::Page> page = waiting_.Take(i, where.localPath)) {
        StoreWaitingPage(i, where, *page);
      } else {
        RewriteAndIndex(job_, where.treeRoot, where.localPath, nullptr, entry.contentType);
      }
    }
  }
  SettlePages();
  AppendExecLog(ctx_, "HTML 変更書き換え　終了 ( " + std::to_string(job_.counters.convertedPages) +
                          " 件 )\n");
  return true;
}

std::vector<int> AddJob::InDirectoryOrder() const {
  std::unordered_map<std::string_view, std::size_t> groupOf;
  std::vector<std::vector<int>> groups;
  const int n = GetCacheEntryCount(cache_);
  for (int i = 0; i < n; ++i) {
    const CacheEntry& entry = cache_.row(i);
    if (entry.status == 0 || (!IsPage(entry) && !IsStyleSheet(entry))) continue;
    const std::string_view url = entry.url;
    auto [at, added] = groupOf.try_emplace(url.substr(0, url.rfind('/') + 1), groups.size());
    if (added) groups.emplace_back();
    groups[at->second].push_back(i);
  }
  std::vector<int> order;
  for (const std::vector<int>& group : groups) {
    order.insert(order.end(), group.begin(), group.end());
  }
  return order;
}

void AddJob::SaveSecureHosts() {
  for (const auto& [root, hosts] : secureHosts_) {
    const std::string file = root + "/" + std::string(kSecureHostsName);
    switch (AddSecureHosts(root, hosts)) {
      case SecureHostsUpdate::Done:
        break;
      case SecureHostsUpdate::Full:
        // The hosts not listed link to their http address until the list has room.
        RecordFileFailure(ctx_, job_.counters, "https ホスト一覧が上限を超えるため追加しません",
                          file);
        break;
      case SecureHostsUpdate::WriteFailed:
        RecordFileFailure(ctx_, job_.counters, "ファイル書き込み失敗", file);
        break;
    }
  }
}

}  // namespace

bool AddEntriesToLogs(JobTarget& job, const CacheLayouts& layouts, CacheEntryTable& cache) {
  AddJob add(job, cache);
  const bool completed = add.ReadIndex(layouts) && add.FirstPass() && add.SecondPass();
  add.SaveSecureHosts();  // a stopped job's pages were fetched over https all the same
  return completed;
}

bool RunAddJob(JobTarget& job, const CacheLayouts& layouts, CacheEntryTable& cache) {
  job.frontend.ShowStatus(platform::Tr("キャッシュからデータを読みとり中"));
  if (!AddEntriesToLogs(job, layouts, cache)) return false;
  job.frontend.ShowStatus(platform::Tr("インデクス　ファイル　の　書き込み中"));
  job.counters.failedFiles += WriteIndexPages(job.ctx, job.frontend, job.index, "newidx_");
  return true;
}

}  // namespace lumbra
