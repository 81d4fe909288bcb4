// The surf database lumbra.mdb: an SQLite file in the start directory that a crawling
// program fills with the tables Param (one row per site) and Lumbra_log (one row per fetched
// URL); docs/surf-database.md gives the schema. Lumbra never adds, changes or deletes a row:
// it keeps the file in shape before every use (an integrity check, a compacted copy and a
// file swap), opens it and reads both tables through read-only queries.
//
// Every message about an engine error is one of the prefixes below followed by SQLite's own
// text: those of the upkeep go to lumbra_log.txt whatever the execution-log switch says, the
// others to lumbralog.txt while it is on. The file may come from another machine: no
// database, however damaged or hostile, makes anything here crash or write into it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/frontend.h"
#include "core/job_context.h"
#include "platform/language.h"

struct sqlite3;
struct sqlite3_stmt;

namespace lumbra {

// The files of the database, all in the start directory.
inline constexpr std::string_view kSurfDatabaseFile = "lumbra.mdb";
inline constexpr std::string_view kSurfCompactFile = "lumbra2.mdb";  // the compacted copy
inline constexpr std::string_view kSurfFallbackFile = "lumbra.odb";  // the file before it
inline constexpr std::string_view kSurfUpkeepLogFile = "lumbra_log.txt";

// A text value is used up to this many bytes; the rest of a longer one is ignored.
inline constexpr std::size_t kSurfTextMax = 299;

// The two queries, as the engine is given them.
inline constexpr std::string_view kParamQuery = "SELECT * FROM Param WHERE [ID] > 0 ORDER BY [No]";
std::string SiteRowsQuery(int paramId);

// The message prefixes (the system's own words, UTF-8).
inline constexpr std::string_view kDatabaseError = "データベース　エラー　: ";
inline constexpr std::string_view kRowSetError = "Qレコードセット　エラー　: ";
inline constexpr std::string_view kReadError = "未参照データベース　読み込みエラー　: ";
inline constexpr std::string_view kAlreadyOpen =
    "初期化処理\rデータベース は　すでに開かれています";
inline constexpr std::string_view kMemoryError =
    "Failed to open database--Memory exception thrown.";

// What the front end is shown while a query runs.
inline constexpr std::string_view kSurfReadingText =
    platform::TrLater("データベースを読み込んでいます");
// A running query asks the front end for a stop after this many engine steps.
inline constexpr int kSurfStopCheckSteps = 100000;

// An open lumbra.mdb. A query can run without end (a recursive view) before it gives a row:
// while one runs, the front end is asked for a stop every kSurfStopCheckSteps engine steps,
// and a stop interrupts it.
class SurfDatabase {
 public:
  SurfDatabase(sqlite3* db, Frontend& frontend);
  ~SurfDatabase();
  SurfDatabase(const SurfDatabase&) = delete;
  SurfDatabase& operator=(const SurfDatabase&) = delete;

  sqlite3* handle() const { return db_; }
  // Whether the front end answered a stop while a query ran (which then failed, interrupted).
  bool stopAsked() const { return stopAsked_; }

 private:
  static int OnEngineProgress(void* self);

  sqlite3* db_;
  Frontend& frontend_;
  bool stopAsked_ = false;
};

// The result of one query, read forward from its first row. Values are read from the current
// row by column name (any letter case): a text as the bytes it holds, cut to kSurfTextMax; an
// integer as a 32-bit number. A NULL, a value of another type or an integer outside 32 bits
// reads as an empty text or 0. An engine error, or a column the result does not have, makes
// the row set failed: from then on it is at its end and error() holds the engine's text.
class SurfRowSet {
 public:
  SurfRowSet(sqlite3* db, sqlite3_stmt* statement, std::string sql);
  ~SurfRowSet();
  SurfRowSet(const SurfRowSet&) = delete;
  SurfRowSet& operator=(const SurfRowSet&) = delete;

  // Moves onto the first row; false (failed) on an engine error. An empty result is no error.
  bool Start();
  // True when there is no current row: an empty result, past the last row, or failed.
  bool AtEnd() const { return !hasRow_; }
  void Next();
  std::string Text(std::string_view column);
  int Integer(std::string_view column);

  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  const std::string& sql() const { return sql_; }

 private:
  void Step();
  void Fail(std::string error);
  // The index of a column of the current row, or -1 (and failed) when there is none.
  int Column(std::string_view name);

  sqlite3* db_;
  sqlite3_stmt* statement_;
  std::string sql_;
  std::vector<std::string> columns_;
  bool hasRow_ = false;
  bool failed_ = false;
  std::string error_;
};

// The three handles of a run of the program, each absent or owning one engine object. While
// siteRows is open, paramRows stays open on its current row. A surf job starts and ends with
// all three absent.
struct SurfSession {
  std::unique_ptr<SurfDatabase> surfDatabase;
  std::unique_ptr<SurfRowSet> paramRows;
  std::unique_ptr<SurfRowSet> siteRows;
};

// The lumbra_log.txt lines of an upkeep that was killed between its two renames and is made
// good at the start of the next one.
inline constexpr std::string_view kUpkeepFinished =
    "データベース　復旧　: 中断された最適化を完了しました (lumbra2.mdb -> lumbra.mdb)";
inline constexpr std::string_view kUpkeepUndone =
    "データベース　復旧　: 中断された最適化を取り消しました (lumbra.odb -> lumbra.mdb)";

// Whether the files of `startDir` are as an upkeep killed between its two renames leaves
// them: no lumbra.mdb, the database as the regular file lumbra.odb and its compacted copy as
// the regular file lumbra2.mdb.
bool SurfUpkeepInterrupted(const std::string& startDir);

// Makes good such an interrupted upkeep, before anything else looks for lumbra.mdb: the copy
// becomes lumbra.mdb when it passes the integrity check (the upkeep is finished), otherwise
// lumbra.odb becomes lumbra.mdb again and the copy is removed (it is undone). Appends one line
// to lumbra_log.txt: kUpkeepFinished, kUpkeepUndone, or "データベース　エラー　: " + the
// system's text when the rename fails. Does nothing in any other state: every other step's
// leftover is a state the upkeep starts from anyway.
void RecoverSurfUpkeep(const JobContext& ctx);

// The upkeep before every use: RecoverSurfUpkeep, then removes lumbra2.mdb, checks lumbra.mdb (the
// repair), writes its compacted copy lumbra2.mdb (VACUUM INTO), then removes lumbra.odb and renames
// lumbra.mdb to lumbra.odb and lumbra2.mdb to lumbra.mdb. A rename never replaces an existing
// file, and a failed step of the three leaves the others to run. A failed check or copy, or a
// database another connection still writes or keeps in WAL mode (its -journal or -wal file is
// there, and would be taken for the new file's), skips the file steps and appends one line
// "データベース　エラー　: " + the engine's text to lumbra_log.txt.
void CompactSurfDatabase(const JobContext& ctx);

// Opens lumbra.mdb, shared and not read-only, never creating it. 1 when surfDatabase is open
// afterwards. 0 when it was already open (the execution-log line kAlreadyOpen), or when the
// file is missing, not a regular file, not an SQLite database or locked (the line
// "データベース　エラー　: " + the engine's text; surfDatabase stays absent).
int OpenSurfDatabase(SurfSession& session, const JobContext& ctx, Frontend& frontend);

// Runs the read-only query `sql` on surfDatabase into `handle` (paramRows or siteRows). 1 when
// rows may be read (an empty result included). 0 when the handle is taken or no database is
// open (kAlreadyOpen), or on an engine error (the line "Qレコードセット　エラー　: " + text;
// the handle stays absent). A query the user stopped gives 0 without a line.
int OpenSurfRows(SurfSession& session, std::unique_ptr<SurfRowSet>& handle, std::string_view sql,
                 const JobContext& ctx, Frontend& frontend);

// The execution-log line of a row set whose reading failed: its SQL text, a blank, and
// "未参照データベース　読み込みエラー　: " + the engine's text.
void LogSurfReadError(const JobContext& ctx, const SurfRowSet& rows);

// Releases siteRows, paramRows and surfDatabase, in this order, whichever exist.
void CloseSurfDatabase(SurfSession& session);

}  // namespace lumbra
