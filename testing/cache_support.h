// What the cache fixtures and reader tests share: the rows of a cache entry table as whole
// values, the stored response header of a cached document, and the world of a reader's file
// test.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cache/cache_table.h"
#include "core/job_context.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra::testing {

// url, cacheFile, contentType of a row.
using Row = std::array<std::string, 3>;

inline std::vector<Row> RowsOf(const CacheEntryTable& table) {
  std::vector<Row> rows;
  for (int i = 0; i < table.count(); ++i) {
    rows.push_back({table.row(i).url, table.row(i).cacheFile, table.row(i).contentType});
  }
  return rows;
}

// `headerText` when set, else a status line, the line "Content-Type: " + `contentType`
// (none when it is empty) and the blank line.
inline std::string StoredHeader(const std::string& contentType,
                                const std::optional<std::string>& headerText) {
  if (headerText) return *headerText;
  std::string header = "HTTP/1.1 200 OK\r\n";
  if (!contentType.empty()) header += "Content-Type: " + contentType + "\r\n";
  return header + "\r\n";
}

// A reader run on a file: its start directory "start" (execution log and debug dump), a
// front end and the table it fills.
class ReaderFileTest : public TempDirTest {
 protected:
  JobContext Context(bool execLog) const {
    JobContext ctx;
    ctx.startDir = MakeDir("start");
    ctx.execLog = execLog;
    return ctx;
  }
  ScriptedFrontend frontend;
  CacheEntryTable table;
};

}  // namespace lumbra::testing
