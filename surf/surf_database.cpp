// The engine is SQLite, opened read-write (a hot journal is rolled back, as a repair should)
// but never with the create flag, so a missing file stays missing. Every connection runs in
// defensive mode with an untrusted schema, so a hostile file cannot make a query call more
// than the plain functions, and checks its cell sizes as it reads.
#include "surf/surf_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "core/ascii.h"
#include "core/exec_log.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

// An engine text on one line: the integrity check reports over several.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

std::string EngineText(sqlite3* db, int code) {
  return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
}

bool OutOfMemory(int code) { return (code & 0xff) == SQLITE_NOMEM; }

void LogEngineError(const JobContext& ctx, std::string_view prefix, std::string_view text) {
  AppendExecLogBytes(ctx, platform::ToCp932(prefix) + OneLine(text) + "\n");
}

void LogUpkeepError(const JobContext& ctx, std::string_view text) {
  platform::AppendText(ctx.StartFile(kSurfUpkeepLogFile),
                       platform::ToCp932(kDatabaseError) + OneLine(text) + "\n");
}

struct Connection {
  ~Connection() { sqlite3_close_v2(db); }
  sqlite3* db = nullptr;
};

// Opens `path` read-write without creating it and reads its schema, so that a file that is
// no database, or one locked by another connection, fails here. On failure returns the
// engine's code with its text in `error`, and `out` stays empty.
int OpenEngine(const std::string& path, Connection& out, std::string& error) {
  // SQLite would open a FIFO or a device and block on it.
  if (!platform::GetStatus(path).isRegular()) {
    error = sqlite3_errstr(SQLITE_CANTOPEN);
    return SQLITE_CANTOPEN;
  }
  Connection connection;
  int code = sqlite3_open_v2(path.c_str(), &connection.db, SQLITE_OPEN_READWRITE, nullptr);
  if (code == SQLITE_OK) {
    sqlite3_db_config(connection.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(connection.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    code = sqlite3_exec(connection.db, "PRAGMA cell_size_check=ON; PRAGMA schema_version", nullptr,
                        nullptr, nullptr);
  }
  if (code != SQLITE_OK) {
    error = EngineText(connection.db, code);
    return code;
  }
  std::swap(out.db, connection.db);
  return SQLITE_OK;
}

// The repair of the upkeep: SQLite's integrity check, whose first finding is the error.
bool CheckIntegrity(sqlite3* db, std::string& error) {
  sqlite3_stmt* statement = nullptr;
  int code = sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &statement, nullptr);
  if (code == SQLITE_OK) code = sqlite3_step(statement);
  bool ok = false;
  if (code == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    error = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    ok = error == "ok";
  } else {
    error = EngineText(db, code);
  }
  sqlite3_finalize(statement);
  return ok;
}

std::string SqlString(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

// Steps 2 and 3 of the upkeep; false with the engine's text when either fails or the file
// must not be swapped.
bool CheckAndCompact(const std::string& database, const std::string& copy, std::string& error) {
  {
    Connection connection;
    if (OpenEngine(database, connection, error) != SQLITE_OK) return false;
    if (!CheckIntegrity(connection.db, error)) return false;
    const std::string vacuum = "VACUUM INTO " + SqlString(copy);
    if (sqlite3_exec(connection.db, vacuum.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      error = sqlite3_errmsg(connection.db);
      return false;
    }
  }
  // The last connection to close removes the journal and the WAL. One still there belongs to
  // another connection, and SQLite would take it for the renamed file's and mix the two.
  for (std::string_view suffix : {"-wal", "-journal"}) {
    if (platform::GetLinkStatus(database + std::string(suffix)).exists()) {
      error = "database is in use by another connection (" + std::string(kSurfDatabaseFile) +
              std::string(suffix) + ")";
      return false;
    }
  }
  return true;
}

// A rename that never replaces an existing file: renameat2 with RENAME_NOREPLACE, or where the
// file system does not offer it, a hard link under the new name and the removal of the old.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  return ::unlink(from.c_str()) == 0;
}

}  // namespace

std::string SiteRowsQuery(int paramId) {
  char text[300];
  std::snprintf(text, sizeof text, "SELECT * FROM Lumbra_log WHERE [ParamID]=%d ORDER BY [URL]",
                paramId);
  return text;
}

SurfDatabase::SurfDatabase(sqlite3* db, Frontend& frontend) : db_(db), frontend_(frontend) {
  sqlite3_progress_handler(db_, kSurfStopCheckSteps, &SurfDatabase::OnEngineProgress, this);
}

SurfDatabase::~SurfDatabase() { sqlite3_close_v2(db_); }

int SurfDatabase::OnEngineProgress(void* self) {
  auto* database = static_cast<SurfDatabase*>(self);
  if (!database->stopAsked_ &&
      database->frontend_.ReportProgress(platform::Tr(kSurfReadingText)) == 0) {
    database->stopAsked_ = true;
  }
  return database->stopAsked_ ? 1 : 0;  // not 0: the engine interrupts the query
}

SurfRowSet::SurfRowSet(sqlite3* db, sqlite3_stmt* statement, std::string sql)
    : db_(db), statement_(statement), sql_(std::move(sql)) {
  const int count = sqlite3_column_count(statement_);
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(statement_, i);
    columns_.emplace_back(name != nullptr ? name : "");
  }
}

SurfRowSet::~SurfRowSet() { sqlite3_finalize(statement_); }

bool SurfRowSet::Start() {
  Step();
  return !failed_;
}

void SurfRowSet::Next() {
  if (hasRow_) Step();
}

void SurfRowSet::Step() {
  const int code = sqlite3_step(statement_);
  hasRow_ = code == SQLITE_ROW;
  if (code != SQLITE_ROW && code != SQLITE_DONE) Fail(sqlite3_errmsg(db_));
}

void SurfRowSet::Fail(std::string error) {
  if (failed_) return;
  failed_ = true;
  hasRow_ = false;
  error_ = std::move(error);
}

int SurfRowSet::Column(std::string_view name) {
  if (!hasRow_) return -1;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (EqualsNoCase(columns_[i], name)) return static_cast<int>(i);
  }
  Fail("no such column: " + std::string(name));
  return -1;
}

std::string SurfRowSet::Text(std::string_view column) {
  const int i = Column(column);
  if (i < 0 || sqlite3_column_type(statement_, i) != SQLITE_TEXT) return {};
  const unsigned char* text = sqlite3_column_text(statement_, i);
  if (text == nullptr) {
    Fail(sqlite3_errmsg(db_));
    return {};
  }
  std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(statement_, i));
  return std::string(reinterpret_cast<const char*>(text), std::min(size, kSurfTextMax));
}

int SurfRowSet::Integer(std::string_view column) {
  const int i = Column(column);
  if (i < 0 || sqlite3_column_type(statement_, i) != SQLITE_INTEGER) return 0;
  const sqlite3_int64 value = sqlite3_column_int64(statement_, i);
  if (value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<int>(value);
}

bool SurfUpkeepInterrupted(const std::string& startDir) {
  const std::string dir = startDir + "/";
  return !platform::GetLinkStatus(dir + std::string(kSurfDatabaseFile)).exists() &&
         platform::GetLinkStatus(dir + std::string(kSurfFallbackFile)).isRegular() &&
         platform::GetLinkStatus(dir + std::string(kSurfCompactFile)).isRegular();
}

void RecoverSurfUpkeep(const JobContext& ctx) {
  if (!SurfUpkeepInterrupted(ctx.startDir)) return;
  const std::string database = ctx.StartFile(kSurfDatabaseFile);
  const std::string copy = ctx.StartFile(kSurfCompactFile);
  const std::string fallback = ctx.StartFile(kSurfFallbackFile);
  // The copy was written whole before the first rename; it is checked all the same, as a
  // kill is not the only way to this state.
  bool copyGood = false;
  {
    Connection connection;
    std::string error;
    copyGood =
        OpenEngine(copy, connection, error) == SQLITE_OK && CheckIntegrity(connection.db, error);
  }
  const std::string& from = copyGood ? copy : fallback;
  if (!RenameNoReplace(from, database)) {
    LogUpkeepError(ctx, std::strerror(errno));
    return;
  }
  if (!copyGood) platform::DeleteFile(copy);
  platform::AppendText(ctx.StartFile(kSurfUpkeepLogFile),
                       platform::ToCp932(copyGood ? kUpkeepFinished : kUpkeepUndone) + "\n");
}

void CompactSurfDatabase(const JobContext& ctx) {
  const std::string database = ctx.StartFile(kSurfDatabaseFile);
  const std::string copy = ctx.StartFile(kSurfCompactFile);
  const std::string fallback = ctx.StartFile(kSurfFallbackFile);
  RecoverSurfUpkeep(ctx);
  platform::DeleteFile(copy);
  std::string error;
  if (!CheckAndCompact(database, copy, error)) {
    LogUpkeepError(ctx, error);
    return;
  }
  // Each step runs whatever the one before did: with the fallback still there, the database
  // keeps its name and the copy waits as lumbra2.mdb for the next upkeep to remove it.
  platform::DeleteFile(fallback);
  RenameNoReplace(database, fallback);
  RenameNoReplace(copy, database);
}

int OpenSurfDatabase(SurfSession& session, const JobContext& ctx, Frontend& frontend) {
  if (session.surfDatabase) {
    AppendExecLog(ctx, std::string(kAlreadyOpen) + "\n");
    return 0;
  }
  Connection connection;
  std::string error;
  const int code = OpenEngine(ctx.StartFile(kSurfDatabaseFile), connection, error);
  if (OutOfMemory(code)) {
    frontend.ShowMessage(kMemoryError);
    return 0;
  }
  if (code != SQLITE_OK) {
    LogEngineError(ctx, kDatabaseError, error);
    return 0;
  }
  session.surfDatabase = std::make_unique<SurfDatabase>(connection.db, frontend);
  connection.db = nullptr;
  return 1;
}

int OpenSurfRows(SurfSession& session, std::unique_ptr<SurfRowSet>& handle, std::string_view sql,
                 const JobContext& ctx, Frontend& frontend) {
  if (handle || !session.surfDatabase) {
    AppendExecLog(ctx, std::string(kAlreadyOpen) + "\n");
    return 0;
  }
  sqlite3* db = session.surfDatabase->handle();
  sqlite3_stmt* statement = nullptr;
  const int code =
      sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  if (OutOfMemory(code)) {
    frontend.ShowMessage(kMemoryError);
    return 0;
  }
  std::string error;
  if (code != SQLITE_OK) {
    error = sqlite3_errmsg(db);
  } else if (statement == nullptr || !sqlite3_stmt_readonly(statement)) {
    // Only a query that reads is run: the row sets are read-only.
    error = sqlite3_errstr(SQLITE_READONLY);
  }
  if (!error.empty()) {
    sqlite3_finalize(statement);
    LogEngineError(ctx, kRowSetError, error);
    return 0;
  }
  auto rows = std::make_unique<SurfRowSet>(db, statement, std::string(sql));
  if (!rows->Start()) {
    if (!session.surfDatabase->stopAsked()) LogEngineError(ctx, kRowSetError, rows->error());
    return 0;
  }
  handle = std::move(rows);
  return 1;
}

void LogSurfReadError(const JobContext& ctx, const SurfRowSet& rows) {
  AppendExecLogBytes(
      ctx, rows.sql() + " " + platform::ToCp932(kReadError) + OneLine(rows.error()) + "\n");
}

void CloseSurfDatabase(SurfSession& session) {
  session.siteRows.reset();
  session.paramRows.reset();
  session.surfDatabase.reset();
}

}  // namespace lumbra
