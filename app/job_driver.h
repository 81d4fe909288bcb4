// The job driver: the start checks that turn the settings into the job snapshot, the job
// sequence, the end report and the busy state. Toolkit-free; every front end (the window,
// lumbra-cli, the tests' scripted double) drives jobs through it.
//
// A job command is StartJob followed by RunJob. "ログ追加" queues its RunJob so that it runs
// after the command has returned (PostedJobs); every other kind runs inside the command.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "cache/cache_layout.h"
#include "cache/cache_places.h"
#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"
#include "index/index_record.h"
#include "platform/clock.h"
#include "platform/job_lock.h"
#include "platform/language.h"
#include "platform/path_table.h"
#include "surf/surf_database.h"

namespace lumbra {

inline constexpr std::string_view kIdleText =
    platform::TrLater("パスを設定して、処理ボタンをクリックしてください");

// Everything a run of the program keeps between jobs: owned by main(), passed by reference.
struct Session {
  std::string startDir;  // absolute; the directory current at program start
  JobSettings settings;
  JobContext ctx;
  JobCounters counters;
  CacheEntryTable cache;
  CacheLayouts layouts = CacheLayouts::BuiltIn();  // the caches the add job can read
  UserDirs user = UserDirs::ForThisProcess();      // where the user's browsers keep theirs
  IndexRecordTable index;
  SurfSession surf;  // the surf database handles, all absent between jobs
  bool busy = false;
  bool surfAvailable = false;
};

// Whether surf data exists in `startDir`: lumbra.mdb exists or lumbrasurf.txt can be read.
bool DetectSurfData(const std::string& startDir);

// Copies the switches and normalises the paths of `settings` into ctx, resets the counters,
// and runs every start check of a job of `kind` with its message or question. A message or
// question about a path ends with a line naming its setting, the path and, where a system
// call failed, its reason. The checks that create nothing all run before a missing directory
// is made. Only the add
// job reads the cache, so only its start checks the cache path: every other job starts
// without one (ctx.cacheDir stays empty). True when the job may run. With `execLogLines`, the
// lines the checks have for the execution log are gathered there instead of written (the
// driver writes them once the job holds its locks).
bool PrepareJob(Session& session, Frontend& frontend, JobKind kind,
                std::string* execLogLines = nullptr);

// Normalises the cache path into ctx.cacheDir and checks it: the directory must exist, and
// it or a directory LocateCache reaches from it (the cache below a profile, say) must hold
// the marker of one of `layouts`. ctx.cacheDir becomes that directory (the execution log
// names it when it is not the one typed), ctx.cacheIndexFile its marker. Without one, the
// message says what was looked for, or what was found instead. With `execLogLines`, the
// execution log's line is gathered there instead of written.
bool PrepareCachePath(JobContext& ctx, std::string_view typed, const std::string& startDir,
                      const CacheLayouts& layouts, const UserDirs& user, Frontend& frontend,
                      std::string* execLogLines = nullptr);

// How a read of the cache for a listing ended.
enum class CacheListing {
  Read,        // the table holds the cache's entries (none when no layout reads it)
  Refused,     // the cache path did not pass the start checks (the reason has been shown)
  Unreadable,  // the cache's index could not be copied for reading (the cause has been shown)
};

// Normalises one LogTree path of `setting` (LOG_DIR_A, ...) into `dest` and checks it: it
// must end in "log". Creates nothing: `missing` tells that the directory does not exist yet
// (MakeLogPath makes it). True when accepted or empty.
bool CheckLogPath(std::string& dest, std::string_view typed, const std::string& startDir,
                  std::string_view setting, Frontend& frontend, bool& missing);
// Makes the missing LogTree root `dest` after the user agrees; false when declined or when it
// cannot be made (the reason has been shown).
bool MakeLogPath(const std::string& dest, std::string_view setting, Frontend& frontend);

// The end report: the message box text for the counters and the elapsed seconds, titled as
// stopped when `stopped` (the abort button, a signal). `page`, when not empty, is the page of
// the job's result to open, said last.
std::string FormatJobEnd(const JobCounters& counters, long long seconds, bool stopped = false,
                         std::string_view page = {});

class JobDriver {
 public:
  JobDriver(Session& session, Frontend& frontend, platform::Clock& clock)
      : session_(session), frontend_(frontend), clock_(clock) {}

  // The entries of the cache in CACHE_DIR, read into `table` as the add job reads them, after
  // the start checks of the cache path (the execution log is emptied first while it is on).
  // Nothing is written into the logs.
  CacheListing ReadCache(CacheEntryTable& table);

  // The common start of every job command: the start checks of a job of `kind`, then the
  // job's locks (see TakeJobLocks). False when the job does not run: a job is already
  // running, a start check refused it, or another process uses one of its directories (the
  // reason has been shown). On true the session is busy, the job holds its locks and must be
  // run with RunJob (or queued, for "ログ追加").
  bool StartJob(JobKind kind);

  // StartJob in two halves, for the unreferenced-links command, which lets the user choose
  // its root between them. BeginStart refuses while busy, else sets busy and returns to the
  // start directory. FinishStart disables the commands, runs the start checks of a job of
  // `kind`, takes the job's locks and empties the execution log; on a refusal the busy state
  // ends. CancelStart ends a start that never reached FinishStart: busy is cleared, the
  // commands were never disabled.
  bool BeginStart();
  bool FinishStart(JobKind kind);
  void CancelStart() { session_.busy = false; }

  // A job command as the window gives it: StartJob, then RunJob at once, or queued for
  // "ログ追加". Returns whether the job started.
  bool Command(JobKind kind, int logNumber = 0);

  // The job of `kind` (`logNumber` 1..5 names the log of RebuildOneLog): its work and its
  // index pages, the frame pages, the end report and the end of the busy state. Returns
  // whether the work completed.
  bool RunJob(JobKind kind, int logNumber = 0);

  // Runs the queued "ログ追加" requests; the front end's event loop calls it after the
  // command handler has returned. Returns the number of jobs run.
  int RunPostedJobs();
  bool HasPostedJobs() const { return !posted_.empty(); }

  // The abort button: clears busy, so the next progress call answers 0.
  void Abort() { session_.busy = false; }

  // Told when the commands must be disabled (true) or enabled again (false).
  std::function<void(bool busy)> onBusyChanged;

  // Whether a job whose directory another process uses waits for it (lumbra-cli --wait)
  // instead of being refused. The wait shows its progress text, and ends, refused, when the
  // front end's progress call answers 0 (a signal interrupts it).
  bool waitForLocks = false;

  // Whether the last job completed (false when it was stopped or failed).
  bool lastJobCompleted() const { return lastCompleted_; }
  // Whether the last job was stopped (the front end's progress call answered 0).
  bool lastJobStopped() const { return lastStopped_; }

 private:
  struct Request {
    JobKind kind;
    int logNumber;
  };
  // The work of one kind and its index pages; false when it was stopped or failed.
  // `stopped` tells which.
  bool RunWork(JobKind kind, int logNumber, bool& stopped);
  bool RunKind(JobKind kind, int logNumber, Frontend& frontend, platform::PathTable& paths);
  // Locks every directory the prepared job writes in: the start directory, every LogTree
  // root and the index directory (platform::JobLocks). False, with the message shown, when
  // one is in use or cannot be locked.
  bool TakeJobLocks();
  // Locks `dirs` (waiting when waitForLocks is set); false, with the message shown, when any
  // is in use or cannot be locked.
  bool TakeLocks(const std::vector<std::string>& dirs);
  // The name a lock message gives `dir` (a real path): the start directory, INDEX_DIR or the
  // LOG_DIR_ setting that names it.
  std::string SettingOfDirectory(const std::string& dir) const;
  // Empties the execution log (while it is on) and writes the start checks' lines into it.
  void BeginExecLog(const std::string& lines);
  void EndBusy();
  void ReportJobEnd(JobKind kind, long long seconds, bool completed, bool stopped);

  Session& session_;
  Frontend& frontend_;
  platform::Clock& clock_;
  std::deque<Request> posted_;
  platform::JobLocks locks_;  // held from the start checks to the end of the job
  bool lastCompleted_ = false;
  bool lastStopped_ = false;
};

}  // namespace lumbra
