#include "cache/cache_table.h"

#include <set>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/exec_log.h"

namespace lumbra {

void CacheEntryTable::RemoveRepeatedRows() {
  // The rows seen are looked up by views into the rows themselves, not copies of their three
  // strings: nothing moves until every repeat is known.
  std::vector<bool> repeated(rows_.size());
  {
    std::set<std::tuple<std::string_view, std::string_view, std::string_view>> seen;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const CacheEntry& row = rows_[i];
      repeated[i] = !seen.emplace(row.url, row.cacheFile, row.contentType).second;
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (repeated[i]) continue;
    if (kept != i) rows_[kept] = std::move(rows_[i]);
    ++kept;
  }
  rows_.resize(kept);
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
