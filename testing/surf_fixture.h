// Surf databases for the tests: an SQLite connection that makes and fills one with the schema
// of docs/surf-schema.sql, and that can hold the database the way another program does.
#pragma once

#include <string>
#include <string_view>

struct sqlite3;

namespace lumbra::testing {

class SqlConnection {
 public:
  // Opens `path`, creating the file when it is missing.
  explicit SqlConnection(const std::string& path);
  ~SqlConnection();
  SqlConnection(const SqlConnection&) = delete;
  SqlConnection& operator=(const SqlConnection&) = delete;

  // Runs the statements; a failing one fails the test.
  void Exec(std::string_view sql);

 private:
  sqlite3* db_ = nullptr;
};

// The documented schema (docs/surf-schema.sql).
std::string SurfSchema();

// Makes the database `path` with the documented schema and runs `sql` on it.
void WriteSurfDatabase(const std::string& path, std::string_view sql);

}  // namespace lumbra::testing
