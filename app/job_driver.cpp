#include "app/job_driver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "cache/cache_index.h"
#include "core/ascii.h"
#include "core/exec_log.h"
#include "core/log_tree.h"
#include "core/setting_line.h"
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
#include "rebuild/page_io.h"

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
bool RefuseTooLong(const std::string& path, std::string_view setting, Frontend& frontend) {
  if (path.size() <= kJobPathMax) return false;
  frontend.ShowMessage(platform::Fill(platform::Tr("パスが長すぎます（%1 文字まで）"),
                                      {std::to_string(kJobPathMax)}) +
                       SettingLine(setting, path));
  return true;
}

std::string LogSettingName(std::size_t k) {
  return "LOG_DIR_" + std::string(1, static_cast<char>('A' + k));
}

// Asks whether to make the missing directory `dir` of `setting` and makes it; false when the
// user declines or it cannot be made (the reason has been shown).
bool MakeAfterYes(const std::string& dir, std::string_view setting, std::string_view question,
                  std::string_view failure, Frontend& frontend) {
  const int missing = platform::StatError(dir);
  if (!frontend.AskYesNo(platform::Fill(platform::Tr(question), {dir}) +
                         SettingLine(setting, dir, missing))) {
    return false;
  }
  if (const int error = platform::MakeDirectoryPath(dir); error != 0) {
    frontend.ShowMessage(platform::Tr(failure) + SettingLine(setting, dir, error));
    return false;
  }
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
                  std::string_view setting, Frontend& frontend, bool& missing) {
  missing = false;
  dest = std::string(typed);
  if (dest.empty()) return true;
  ReplaceBackslashes(dest);
  DropTrailingSlash(dest);
  if (!EndsInLog(dest)) {
    frontend.ShowMessage(platform::Tr("ログパスの最後は「ｌｏｇ］でなければなりません") +
                         SettingLine(setting, dest));
    return false;
  }
  MakeAbsolute(dest, startDir);
  if (RefuseTooLong(dest, setting, frontend)) return false;
  // "log/" in a path marks the end of its tree root, so no root may hold it earlier.
  if (FindLogMarker(dest + "/") != dest.size() - 3) {
    frontend.ShowMessage(platform::Tr("ログパスの途中に「log/」を含むことはできません") +
                         SettingLine(setting, dest));
    return false;
  }
  switch (platform::CheckPath(dest + "/")) {
    case platform::PathCheck::DriveMissing:
      frontend.ShowMessage(platform::Tr("ログ　ドライブが存在しません") +
                           SettingLine(setting, dest, platform::StatError(dest)));
      return false;
    case platform::PathCheck::DirectoryMissing:
      missing = true;
      return true;
    default:
      return true;
  }
}

bool MakeLogPath(const std::string& dest, std::string_view setting, Frontend& frontend) {
  return MakeAfterYes(dest, setting,
                      platform::TrLater("ログ　パス\r%1\rが存在しません　作成しますか"),
                      platform::TrLater("ログ　パスを作成できません"), frontend);
}

bool PrepareCachePath(JobContext& ctx, std::string_view typed, const std::string& startDir,
                      const CacheLayouts& layouts, const UserDirs& user, Frontend& frontend,
                      std::string* execLogLines) {
  // One trailing '/' goes before the backslashes are turned; a trailing backslash stays.
  ctx.cacheDir = std::string(typed);
  DropTrailingSlash(ctx.cacheDir);
  ReplaceBackslashes(ctx.cacheDir);
  MakeAbsolute(ctx.cacheDir, startDir);
  if (RefuseTooLong(ctx.cacheDir, "CACHE_DIR", frontend)) return false;
  switch (platform::CheckPath(ctx.cacheDir + "/")) {
    case platform::PathCheck::DriveMissing:
      frontend.ShowMessage(
          platform::Tr("キャッシュ　ドライブが存在しません") +
          SettingLine("CACHE_DIR", ctx.cacheDir, platform::StatError(ctx.cacheDir)));
      return false;
    case platform::PathCheck::DirectoryMissing:
      frontend.ShowMessage(
          platform::Tr("キャッシュ　パスが存在しません") +
          SettingLine("CACHE_DIR", ctx.cacheDir, platform::StatError(ctx.cacheDir)));
      return false;
    default:
      break;
  }
  ctx.cacheIndexFile.clear();
  const CacheLocation location = LocateCache(layouts, ctx.cacheDir, user);
  if (!location.found()) {
    frontend.ShowMessage(NoCacheMessage(layouts, location) +
                         SettingLine("CACHE_DIR", ctx.cacheDir));
    return false;
  }
  if (location.cache.dir != ctx.cacheDir) {
    ctx.cacheDir = location.cache.dir;
    if (RefuseTooLong(ctx.cacheDir, "CACHE_DIR", frontend)) return false;
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
    frontend.ShowMessage(platform::Tr("リンクの形式は absolute か relative でなければなりません") +
                         SettingLine("LINK_STYLE", s.linkStyle));
    return false;
  }
  ctx.linkStyle = *linkStyle;

  ctx.unreferencedDir = s.unreferencedDir;
  DropTrailingSlash(ctx.unreferencedDir);
  ReplaceBackslashes(ctx.unreferencedDir);
  MakeAbsolute(ctx.unreferencedDir, session.startDir);
  // The root of the unreferenced links is chosen for the job (lumbra-cli's `unreferenced DIR`),
  // not kept in lumbra.ini. One that names no directory would give empty lists, not an error.
  if (ctx.unreferencedJob) {
    if (RefuseTooLong(ctx.unreferencedDir, "unreferenced DIR", frontend)) return false;
    if (!platform::GetStatus(ctx.unreferencedDir).isDirectory()) {
      const int error = platform::StatError(ctx.unreferencedDir);
      frontend.ShowMessage(
          platform::Tr("未参照リンクを調べるディレクトリーが存在しません") +
          SettingLine("unreferenced DIR", ctx.unreferencedDir, error != 0 ? error : ENOTDIR));
      return false;
    }
  }

  for (std::size_t from = 0; from <= s.surfDirs.size();) {
    std::size_t end = std::min(s.surfDirs.find(';', from), s.surfDirs.size());
    std::string dir = s.surfDirs.substr(from, end - from);
    MakeAbsolute(dir, session.startDir);
    if (!dir.empty()) ctx.surfDirs.push_back(std::move(dir));
    from = end + 1;
  }

  // Every check that creates nothing runs first, so that a refusal leaves the disk as it was;
  // the missing directories are made (each after a yes) only once all of them have passed.
  // A collection is rebuilt, listed or surfed wherever it lies, with or without a browser's
  // cache on the machine.
  if (kind == JobKind::AddToLogs &&
      !PrepareCachePath(ctx, s.cacheDir, session.startDir, session.layouts, session.user, frontend,
                        execLogLines)) {
    return false;
  }

  bool anyLog = false;
  std::array<bool, kLogTreeCount> logMissing{};
  for (std::size_t k = 0; k < logMissing.size(); ++k) {
    ctx.logSetting[k] = s.logDir[k];
    if (!CheckLogPath(ctx.logDir[k], s.logDir[k], session.startDir, LogSettingName(k), frontend,
                      logMissing[k])) {
      return false;
    }
    anyLog = anyLog || !ctx.logDir[k].empty();
  }
  if (!anyLog) {
    frontend.ShowMessage(
        platform::Tr("ログ用のパスが存在しません\rパス設定を確認してください\r"
                     "LOG_DIR_A～LOG_DIR_E がすべて空です"));
    return false;
  }

  ctx.indexDir = s.indexDir;
  if (ctx.indexDir.empty()) {
    frontend.ShowMessage(platform::Tr("インデックス　ドライブが存在しません\rINDEX_DIR が空です"));
    return false;
  }
  DropTrailingSlash(ctx.indexDir);
  ReplaceBackslashes(ctx.indexDir);
  DropTrailingSlash(ctx.indexDir);
  MakeAbsolute(ctx.indexDir, session.startDir);
  if (RefuseTooLong(ctx.indexDir, "INDEX_DIR", frontend)) return false;
  if (platform::CheckPath(ctx.indexDir + "/") == platform::PathCheck::DriveMissing) {
    frontend.ShowMessage(platform::Tr("インデックス　ドライブが存在しません") +
                         SettingLine("INDEX_DIR", ctx.indexDir, platform::StatError(ctx.indexDir)));
    return false;
  }
  const bool indexMissing =
      !platform::StatPath(ctx.indexDir).exists() && ctx.indexDir.size() + 1 > 3;

  for (std::size_t k = 0; k < logMissing.size(); ++k) {
    if (logMissing[k] && !MakeLogPath(ctx.logDir[k], LogSettingName(k), frontend)) return false;
  }
  if (indexMissing &&
      !MakeAfterYes(ctx.indexDir, "INDEX_DIR",
                    platform::TrLater("インデックス　パスが存在しません\r　　　作成しますか"),
                    platform::TrLater("インデックス　パスを作成できません"), frontend)) {
    return false;
  }
  return true;
}

std::string FormatJobEnd(const JobCounters& counters, long long seconds, bool stopped,
                         std::string_view page) {
  const auto line = [](const char* text, int value) {
    return platform::Fill(platform::Tr(text), {Printf6(value)}) + "\r";
  };
  const char* checked = platform::TrLater("チェック総ファイル数　\t%1件");
  std::string report;
  if (counters.entryCount != 0) {
    report = platform::Tr(stopped ? platform::TrLater("ログ追加処理　中止")
                                  : platform::TrLater("ログ追加処理　終了")) +
             "\r\r" + line(checked, counters.scannedEntries) +
             line(platform::TrLater("ログ登録ファイル数　　\t%1件"), counters.loggedFiles);
  } else {
    report = platform::Tr(stopped ? platform::TrLater("ＨＴＭＬ 再構成　中止")
                                  : platform::TrLater("ＨＴＭＬ 再構成　終了")) +
             "\r\r" + line(checked, counters.scannedFiles);
  }
  report += line(platform::TrLater("変換ファイル数　　　　\t%1件"), counters.convertedPages) +
            line(platform::TrLater("総経過時間　　　　　　\t%1秒"), static_cast<int>(seconds));
  if (!page.empty()) report += "\r" + platform::Tr("結果のページ") + "\r" + std::string(page);
  return report;
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
               pid > 0 ? platform::Fill(platform::Tr("ディレクトリーを使用中の処理（プロセスID "
                                                     "%1）の終了を待っています　%2"),
                                        {std::to_string(pid), dir})
                       : platform::Fill(
                             platform::Tr("ディレクトリーを使用中の処理の終了を待っています　%1"),
                             {dir})) != 0;
  };
  const platform::LockOutcome outcome = locks_.Take(dirs, waitForLocks ? &wait : nullptr);
  switch (outcome.state) {
    case platform::LockState::Taken:
      return true;
    case platform::LockState::Busy:
      frontend_.ShowMessage(
          (outcome.pid > 0
               ? platform::Fill(
                     platform::Tr("ディレクトリーを他の処理（プロセスID %1）が使用中です\r%2\r"
                                  "終了してから実行してください"),
                     {std::to_string(outcome.pid), outcome.dir})
               : platform::Fill(platform::Tr("ディレクトリーを他の処理が使用中です\r%1\r"
                                             "終了してから実行してください"),
                                {outcome.dir})) +
          SettingLine(SettingOfDirectory(outcome.dir), outcome.dir));
      return false;
    case platform::LockState::Failed:
      frontend_.ShowMessage(platform::Tr("ディレクトリーをロックできません") +
                            SettingLine(SettingOfDirectory(outcome.dir),
                                        outcome.dir + "/" + std::string(platform::kJobLockName),
                                        outcome.error));
      return false;
    case platform::LockState::Stopped:
      return false;
  }
  return false;
}

std::string JobDriver::SettingOfDirectory(const std::string& dir) const {
  const auto names = [&dir](const std::string& candidate) {
    if (candidate.empty()) return false;
    if (candidate == dir) return true;
    char* real = ::realpath(candidate.c_str(), nullptr);
    const bool same = real != nullptr && dir == real;
    std::free(real);
    return same;
  };
  if (names(session_.startDir)) return platform::Tr("開始ディレクトリー");
  const JobContext& ctx = session_.ctx;
  if (names(ctx.indexDir)) return "INDEX_DIR";
  for (std::size_t k = 0; k < ctx.logDir.size(); ++k) {
    if (names(ctx.logDir[k])) return LogSettingName(k);
  }
  return platform::Tr("ディレクトリー");
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

namespace {

// Passes everything on to the front end and remembers whether its progress call asked the
// job to stop, so that a stopped job is told from one that failed.
class StopWatchingFrontend : public Frontend {
 public:
  explicit StopWatchingFrontend(Frontend& inner) : inner_(inner) {}
  int ReportProgress(std::string_view text) override {
    const int goOn = inner_.ReportProgress(text);
    if (goOn == 0) stopped_ = true;
    return goOn;
  }
  void ShowStatus(std::string_view text) override { inner_.ShowStatus(text); }
  void ShowMessage(std::string_view text) override { inner_.ShowMessage(text); }
  bool AskYesNo(std::string_view text) override { return inner_.AskYesNo(text); }
  void ShowJobEnd(std::string_view text) override { inner_.ShowJobEnd(text); }
  bool stopped() const { return stopped_; }

 private:
  Frontend& inner_;
  bool stopped_ = false;
};

}  // namespace

bool JobDriver::RunWork(JobKind kind, int logNumber, bool& stopped) {
  platform::PathTable paths;  // what this job learns of the paths it looks at
  StopWatchingFrontend watching(frontend_);
  const bool completed = RunKind(kind, logNumber, watching, paths);
  stopped = watching.stopped();
  return completed;
}

bool JobDriver::RunKind(JobKind kind, int logNumber, Frontend& frontend,
                        platform::PathTable& paths) {
  LinkAnswers answers;  // the job's own, as its table is
  JobTarget job{session_.ctx, session_.counters, session_.index, frontend, paths};
  job.answers = &answers;
  PageReplacements later;  // settled, and gone, before the job's target
  job.later = &later;
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
    lastStopped_ = false;
    return false;
  }
  std::int64_t start = platform::WaitNextSecond(clock_);
  bool stopped = false;
  bool completed = RunWork(kind, logNumber, stopped);
  // The frame pages are written whether or not the work completed.
  session_.counters.failedFiles += WriteFramePages(session_.ctx, frontend_);
  std::int64_t end = platform::WaitNextSecond(clock_);
  frontend_.ShowStatus(kIdleText);
  ReportJobEnd(kind, end - start, completed, stopped);
  EndBusy();
  lastCompleted_ = completed;
  lastStopped_ = stopped;
  return completed;
}

void JobDriver::ReportJobEnd(JobKind kind, long long seconds, bool completed, bool stopped) {
  // The page of the result no other page links to: the unreferenced links' list, and the
  // surf index (written by a stopped surf job too, from what it reached).
  std::string page;
  if (kind == JobKind::ListUnreferenced && completed) {
    page = session_.ctx.indexDir + "/www_l.htm";
  } else if (kind == JobKind::RebuildSurf && (completed || stopped)) {
    page = session_.ctx.indexDir + "/surfidx.htm";
  }
  if (!page.empty() && !platform::GetStatus(page).isRegular()) page.clear();
  frontend_.ShowJobEnd(FormatJobEnd(session_.counters, seconds, stopped, page));
  AppendExecLog(session_.ctx, "実行処理終了　" + std::to_string(seconds) + " 秒\n");
}

void JobDriver::EndBusy() {
  locks_.Release();
  session_.busy = false;
  if (onBusyChanged) onBusyChanged(false);
}

}  // namespace lumbra
