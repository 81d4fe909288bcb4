#include "testing/surf_fixture.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "platform/fs.h"

namespace lumbra::testing {

SqlConnection::SqlConnection(const std::string& path) {
  EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK) << path;
}

SqlConnection::~SqlConnection() { sqlite3_close_v2(db_); }

void SqlConnection::Exec(std::string_view sql) {
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error != nullptr ? error : "") << "\n"
      << sql;
  sqlite3_free(error);
}

std::string SurfSchema() {
  std::optional<std::string> schema = platform::ReadFile(LUMBRA_SOURCE_DIR "/docs/surf-schema.sql");
  EXPECT_TRUE(schema.has_value());
  return schema.value_or("");
}

void WriteSurfDatabase(const std::string& path, std::string_view sql) {
  SqlConnection db(path);
  db.Exec(SurfSchema());
  db.Exec(sql);
}

}  // namespace lumbra::testing
