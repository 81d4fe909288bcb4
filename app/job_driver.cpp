#include "app/job_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "cache/cache_index.h"
#include "core/ascii.h"
#include "core/exec_log.h"
#include "core/log_tree.h"
#include "index/frame_pages.h"
#include "index/index_pages.h"
#include "jobs/add_job.h"
#include "jobs/job.h"
#include "jobs/rebuild_job.h"
#include "jobs/surf_job.h"
#include "jobs/unreferenced_job.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

void ReplaceBackslashes(std::string& path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
}

void DropTrailingSlash(std::string& path) {
  if (!path.empty() && path.back() == '/') path.pop_back();
}

// A relative path is taken below the start directory, so every path of the snapshot is
// absolute and its file:// links lead somewhere. A path typed with a drive letter is left
// alone: the checks answer that its drive does not exist.
void MakeAbsolute(std::string& path, const std::string& startDir) {
  if (path.empty() || path.front() == '/' || platform::HasDriveLetter(path)) return;
  path = startDir + "/" + path;
}

// Paths of the snapshot are limited; a longer one is refused with its own message instead
// of being cut to another directory.
bool RefuseTooLong(const std::string& path, Frontend& frontend) {
  if (path.size() <= kJobPathMax) return false;
  frontend.ShowMessage("パスが長すぎます（" + std::to_string(kJobPathMax) + " 文字まで）\r" + path);
  return true;
}

// A LogTree root ends in "log" (any case, written in lower case): its marker "log/" is what
// every path of the logs is cut at.
bool EndsInLog(std::string& path) {
  if (path.size() < 3 || LowerAscii(std::string_view(path).substr(path.size() - 3)) != "log") {
    return false;
  }
  path.replace(path.size() - 3, 3, "log");
  return true;
}

// Whether `kind` names one of the five jobs; a request of any other value only ends the busy
// state.
bool IsJobKind(JobKind kind) {
  switch (kind) {
    case JobKind::AddToLogs:
    case JobKind::RebuildAllLogs:
    case JobKind::ListUnreferenced:
    case JobKind::RebuildOneLog:
    case JobKind::RebuildSurf:
      return true;
  }
  return false;
}

std::string Printf6(int value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%6d", value);
  return buffer;
}

}  // namespace

bool DetectSurfData(const std::string& startDir) {
  if (platform::GetStatus(startDir + "/lumbra.mdb").exists()) return true;
  // The next surf job makes good an upkeep killed between its renames.
  if (SurfUpkeepInterrupted(startDir)) return true;
  platform::TextReader reader;
  return reader.Open(startDir + "/lumbrasurf.txt");
}

bool CheckLogPath(std::string& dest, std::string_view typed, const std::string& startDir,
                  Frontend& frontend) {
  dest = std::string(typed);
  if (dest.empty()) return true;
  ReplaceBackslashes(dest);
  DropTrailingSlash(dest);
  if (!EndsInLog(dest)) {
    frontend.ShowMessage("ログパスの最後は「ｌｏｇ］でなければなりません");
    return false;
  }
  MakeAbsolute(dest, startDir);
  if (RefuseTooLong(dest, frontend)) return false;
  // "log/" in a path marks the end of its tree root, so no root may hold it earlier.
  if (FindLogMarker(dest + "/") != dest.size() - 3) {
    frontend.ShowMessage("ログパスの途中に「log/」を含むことはできません\r" + dest);
    return false;
  }
  switch (platform::CheckPath(dest + "/")) {
    case platform::PathCheck::DriveMissing:
      frontend.ShowMessage("ログ　ドライブが存在しません");
      return false;
    case platform::PathCheck::DirectoryMissing:
      if (!frontend.AskYesNo("ログ　パス\r" + dest + "\rが存在しません　作成しますか"))
        return false;
      platform::MakeDirectories(dest + "/");
      if (!platform::GetStatus(dest).isDirectory()) {
        frontend.ShowMessage("ログ　パスを作成できません\r" + dest);
        return false;
      }
      return true;
    default:
      return true;
  }
}

bool PrepareCachePath(JobContext& ctx, std::string_view typed, const std::string& startDir,
                      const CacheLayouts& layouts, const UserDirs& user, Frontend& frontend,
                      std::string* execLogLines) {
  // One trailing '/' goes before the backslashes are turned; a trailing backslash stays.
  ctx.cacheDir = std::string(typed);
  DropTrailingSlash(ctx.cacheDir);
  ReplaceBackslashes(ctx.cacheDir);
  MakeAbsolute(ctx.cacheDir, startDir);
  if (RefuseTooLong(ctx.cacheDir, frontend)) return false;
  switch (platform::CheckPath(ctx.cacheDir + "/")) {
    case platform::PathCheck::DriveMissing:
      frontend.ShowMessage("キャッシュ　ドライブが存在しません");
      return false;
    case platform::PathCheck::DirectoryMissing:
      frontend.ShowMessage("キャッシュ　パスが存在しません");
      return false;
    default:
      break;
  }
  ctx.cacheIndexFile.clear();
  const CacheLocation location = LocateCache(layouts, ctx.cacheDir, user);
  if (!location.found()) {
    frontend.ShowMessage(NoCacheMessage(layouts, location));
    return false;
  }
  if (location.cache.dir != ctx.cacheDir) {
    ctx.cacheDir = location.cache.dir;
    if (RefuseTooLong(ctx.cacheDir, frontend)) return false;
    const std::string line =
        platform::ToCp932("キャッシュ　ディレクトリー　(" +
                          std::string(location.cache.layout->name()) + ") : ") +
        ctx.cacheDir + "\n";
    if (execLogLines != nullptr) {
      *execLogLines += line;
    } else {
      AppendExecLogBytes(ctx, line);
    }
  }
  ctx.cacheIndexFile = ctx.cacheDir + std::string(location.cache.layout->marker());
  return true;
}

bool PrepareJob(Session& session, Frontend& frontend, JobKind kind, std::string* execLogLines) {
  const JobSettings& s = session.settings;
  JobContext& ctx = session.ctx;
  ctx = JobContext{};
  ctx.startDir = session.startDir;
  static_cast<JobSwitches&>(ctx) = s;
  ctx.surfAvailable = session.surfAvailable;
  session.counters = JobCounters{};
  session.index.Clear();

  // Checked before anything is made: a job would otherwise write links of a form nobody chose.
  const std::optional<LinkStyle> linkStyle = ParseLinkStyle(s.linkStyle);
  if (!linkStyle) {
    frontend.ShowMessage("リンクの形式（LINK_STYLE）の値が正しくありません\rLINK_STYLE=" +
                         s.linkStyle + "\rabsolute か relative を指定してください");
    return false;
  }
  ctx.linkStyle = *linkStyle;

  ctx.unreferencedDir = s.unreferencedDir;
  DropTrailingSlash(ctx.unreferencedDir);
  ReplaceBackslashes(ctx.unreferencedDir);
  MakeAbsolute(ctx.unreferencedDir, session.startDir);
  if (ctx.unreferencedJob && RefuseTooLong(ctx.unreferencedDir, frontend)) return false;

  for (std::size_t from = 0; from <= s.surfDirs.size();) {
    std::size_t end = std::min(s.surfDirs.find(';', from), s.surfDirs.size());
    std::string dir = s.surfDirs.substr(from, end - from);
    MakeAbsolute(dir, session.startDir);
    if (!dir.empty()) ctx.surfDirs.push_back(std::move(dir));
    from = end + 1;
  }

  // A collection is rebuilt, listed or surfed wherever it lies, with or without a browser's
  // cache on the machine.
  if (kind == JobKind::AddToLogs &&
      !PrepareCachePath(ctx, s.cacheDir, session.startDir, session.layouts, session.user, frontend,
                        execLogLines)) {
    return false;
  }

  bool anyLog = false;
  for (int i = 0; i < kLogTreeCount; ++i) {
    std::size_t k = static_cast<std::size_t>(i);
    ctx.logSetting[k] = s.logDir[k];
    if (!CheckLogPath(ctx.logDir[k], s.logDir[k], session.startDir, frontend)) return false;
    anyLog = anyLog || !ctx.logDir[k].empty();
  }
  if (!anyLog) {
    frontend.ShowMessage("ログ用のパスが存在しません\rパス設定を確認してください");
    return false;
  }

  ctx.indexDir = s.indexDir;
  if (ctx.indexDir.empty()) {
    frontend.ShowMessage("インデックス　ドライブが存在しません");
    return false;
  }
  DropTrailingSlash(ctx.indexDir);
  ReplaceBackslashes(ctx.indexDir);
  DropTrailingSlash(ctx.indexDir);
  MakeAbsolute(ctx.indexDir, session.startDir);
  if (RefuseTooLong(ctx.indexDir, frontend)) return false;
  if (platform::CheckPath(ctx.indexDir + "/") == platform::PathCheck::DriveMissing) {
    frontend.ShowMessage("インデックス　ドライブが存在しません");
    return false;
  }
  if (!platform::StatPath(ctx.indexDir).exists() && ctx.indexDir.size() + 1 > 3) {
    if (!frontend.AskYesNo("インデックス　パスが存在しません\r　　　作成しますか")) return false;
    platform::MakeDirectories(ctx.indexDir + "/");
    if (!platform::GetStatus(ctx.indexDir).isDirectory()) {
      frontend.ShowMessage("インデックス　パスを作成できません\r" + ctx.indexDir);
      return false;
    }
  }
  return true;
}

std::string FormatJobEnd(const JobCounters& counters, long long seconds) {
  std::string elapsed = "総経過時間　　　　　　\t" + Printf6(static_cast<int>(seconds)) + "秒\r";
  std::string converted = "変換ファイル数　　　　\t" + Printf6(counters.convertedPages) + "件\r";
  if (counters.entryCount != 0) {
    return "ログ追加処理　終了\r\r"
           "チェック総ファイル数　\t" +
           Printf6(counters.scannedEntries) +
           "件\r"
           "ログ登録ファイル数　　\t" +
           Printf6(counters.loggedFiles) + "件\r" + converted + elapsed;
  }
  return "ＨＴＭＬ 再構成　終了\r\r"
         "チェック総ファイル数　\t" +
         Printf6(counters.scannedFiles) + "件\r" + converted + elapsed;
}

CacheListing JobDriver::ReadCache(CacheEntryTable& table) {
  JobContext ctx;
  ctx.startDir = session_.startDir;
  ctx.execLog = session_.settings.execLog;
  // With the execution log on, the listing writes the start directory's lumbralog.txt and
  // fat.txt: only under its lock, never while a job writes them.
  if (ctx.execLog) {
    if (!TakeLocks({ctx.startDir})) return CacheListing::Refused;
    TruncateExecLog(ctx);
  }
  CacheListing listing = CacheListing::Refused;
  if (PrepareCachePath(ctx, session_.settings.cacheDir, session_.startDir, session_.layouts,
                       session_.user, frontend_)) {
    const CacheLayout* layout = session_.layouts.Find(ctx.cacheDir);
    listing = ReadCacheIndex(ctx, frontend_, layout, table, ctx.cacheDir)
                  ? CacheListing::Read
                  : CacheListing::Unreadable;
  }
  locks_.Release();
  return listing;
}

bool JobDriver::StartJob(JobKind kind) { return BeginStart() && FinishStart(kind); }

bool JobDriver::BeginStart() {
  if (session_.busy) return false;
  session_.busy = true;
  platform::ChangeDirectory(session_.startDir);
  return true;
}

bool JobDriver::FinishStart(JobKind kind) {
  if (onBusyChanged) onBusyChanged(true);
  // The execution log is the start directory's, so it is emptied only under that lock: never
  // while another job writes it.
  std::string execLogLines;
  if (!PrepareJob(session_, frontend_, kind, &execLogLines)) {
    platform::JobLocks startOnly;
    if (startOnly.Take({session_.startDir}, nullptr).state == platform::LockState::Taken) {
      BeginExecLog(execLogLines);
    }
    EndBusy();
    return false;
  }
  if (!TakeJobLocks()) {
    EndBusy();
    return false;
  }
  BeginExecLog(execLogLines);
  frontend_.ShowStatus(kIdleText);
  return true;
}

bool JobDriver::TakeJobLocks() {
  const JobContext& ctx = session_.ctx;
  std::vector<std::string> dirs{ctx.startDir, ctx.indexDir};
  for (const std::string& dir : ctx.logDir) {
    if (!dir.empty()) dirs.push_back(dir);
  }
  return TakeLocks(dirs);
}

bool JobDriver::TakeLocks(const std::vector<std::string>& dirs) {
  const platform::DirectoryLock::WaitHook wait = [this](const std::string& dir, long pid) {
    return frontend_.ReportProgress(
               "ディレクトリーを使用中の処理" +
               (pid > 0 ? "（プロセスID " + std::to_string(pid) + "）" : std::string()) +
               "の終了を待っています　" + dir) != 0;
  };
  const platform::LockOutcome outcome = locks_.Take(dirs, waitForLocks ? &wait : nullptr);
  switch (outcome.state) {
    case platform::LockState::Taken:
      return true;
    case platform::LockState::Busy:
      frontend_.ShowMessage(
          "ディレクトリーを他の処理" +
          (outcome.pid > 0 ? "（プロセスID " + std::to_string(outcome.pid) + "）" : std::string()) +
          "が使用中です\r" + outcome.dir + "\r終了してから実行してください");
      return false;
    case platform::LockState::Failed:
      frontend_.ShowMessage("ディレクトリーをロックできません\r" + outcome.dir + "/" +
                            std::string(platform::kJobLockName) + "\r" +
                            std::strerror(outcome.error));
      return false;
    case platform::LockState::Stopped:
      return false;
  }
  return false;
}

void JobDriver::BeginExecLog(const std::string& lines) {
  if (!session_.settings.execLog) return;
  JobContext logOnly;
  logOnly.startDir = session_.startDir;
  logOnly.execLog = true;
  TruncateExecLog(logOnly);
  if (!lines.empty()) AppendExecLogBytes(logOnly, lines);
}

bool JobDriver::Command(JobKind kind, int logNumber) {
  if (!StartJob(kind)) return false;
  if (kind == JobKind::AddToLogs) {
    posted_.push_back({kind, logNumber});
  } else {
    RunJob(kind, logNumber);
  }
  return true;
}

int JobDriver::RunPostedJobs() {
  int ran = 0;
  while (!posted_.empty()) {
    Request request = posted_.front();
    posted_.pop_front();
    RunJob(request.kind, request.logNumber);
    ++ran;
  }
  return ran;
}

bool JobDriver::RunWork(JobKind kind, int logNumber) {
  platform::PathTable paths;  // what this job learns of the paths it looks at
  JobTarget job{session_.ctx, session_.counters, session_.index, frontend_, paths};
  switch (kind) {
    case JobKind::AddToLogs:
      return RunAddJob(job, session_.layouts, session_.cache);
    case JobKind::RebuildAllLogs:
      return RunRebuildJob(job, std::nullopt);
    case JobKind::RebuildOneLog:
      return RunRebuildJob(job, logNumber);
    case JobKind::ListUnreferenced:
      return RunUnreferencedJob(job);
    case JobKind::RebuildSurf:
      return RunSurfJob(job, session_.surf);
  }
  return false;
}

bool JobDriver::RunJob(JobKind kind, int logNumber) {
  if (!IsJobKind(kind)) {
    EndBusy();
    lastCompleted_ = false;
    return false;
  }
  std::int64_t start = platform::WaitNextSecond(clock_);
  bool completed = RunWork(kind, logNumber);
  // The frame pages are written whether or not the work completed.
  session_.counters.failedFiles += WriteFramePages(session_.ctx, frontend_);
  std::int64_t end = platform::WaitNextSecond(clock_);
  frontend_.ShowStatus(kIdleText);
  ReportJobEnd(end - start);
  EndBusy();
  lastCompleted_ = completed;
  return completed;
}

void JobDriver::ReportJobEnd(long long seconds) {
  frontend_.ShowMessage(FormatJobEnd(session_.counters, seconds));
  AppendExecLog(session_.ctx, "実行処理終了　" + std::to_string(seconds) + " 秒\n");
}

void JobDriver::EndBusy() {
  locks_.Release();
  session_.busy = false;
  if (onBusyChanged) onBusyChanged(false);
}

}  // namespace lumbra
