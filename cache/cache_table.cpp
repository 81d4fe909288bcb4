#include "cache/cache_table.h"

#include <set>
#include <tuple>

#include "core/exec_log.h"

namespace lumbra {

void CacheEntryTable::RemoveRepeatedRows() {
  std::set<std::tuple<std::string, std::string, std::string>> seen;
  std::erase_if(rows_, [&seen](const CacheEntry& row) {
    return !seen.emplace(row.url, row.cacheFile, row.contentType).second;
  });
}

bool GetCacheEntry(const CacheEntryTable& table, int index, CacheEntry& out) {
  if (index < 0 || index >= table.count()) return false;
  out = table.row(index);
  return true;
}

void SetCacheEntryStatus(CacheEntryTable& table, int index, int status) {
  if (index < 0 || index >= table.count()) return;
  table.row(index).status = status;
}

int GetCacheEntryCount(const CacheEntryTable& table) { return table.count(); }

void LogReaderMessage(const JobContext& ctx, std::string_view text) {
  if (!ctx.execLog) return;
  std::string line = "    ";
  line += text;
  line += '\n';
  AppendExecLog(ctx, line);
}

}  // namespace lumbra
