#include "cache/cache_table.h"

#include <set>
#include <tuple>
#include <utility>

#include "core/exec_log.h"

namespace lumbra {

void CacheEntryTable::Append(CacheEntry entry) {
  rows_[static_cast<std::size_t>(count_)] = std::move(entry);
  ++count_;
  if (count_ > kCacheEntryMax) count_ = kCacheEntryMax;
}

void CacheEntryTable::RemoveRepeatedRows() {
  std::set<std::tuple<std::string, std::string, std::string>> seen;
  int kept = 0;
  for (int i = 0; i < count_; ++i) {
    CacheEntry& row = rows_[static_cast<std::size_t>(i)];
    if (!seen.emplace(row.url, row.cacheFile, row.contentType).second) continue;
    if (kept != i) rows_[static_cast<std::size_t>(kept)] = std::move(row);
    ++kept;
  }
  count_ = kept;
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
