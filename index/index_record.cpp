#include "index/index_record.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "index/title_text.h"

namespace lumbra {
namespace {

// The exchange sort takes time in the square of the records, and all it decides is which of
// the records of one path an index page shows. Up to as many records as a job could once hold
// it runs as ever; in a larger table the records of one path keep the order they were
// recorded in, so that no job waits minutes for its index pages.
constexpr std::size_t kExchangeOrderMax = 20000;

}  // namespace

std::string CutRecordText(std::string_view text, std::size_t max) {
  std::size_t end = text.find('\0');
  if (end == std::string_view::npos) end = text.size();
  return std::string(text.substr(0, std::min(end, max)));
}

void AddIndexRecord(IndexRecordTable& table, std::string_view /*logRoot*/,
                    std::string_view pagePath, std::string title, const TitleCharset& charset) {
  IndexRecord record;
  record.path = CutRecordText(pagePath, kIndexPathMax);
  record.title = IndexTitle(title, charset, kIndexTitleMax);
  table.Append(std::move(record));
}

std::vector<int> SortIndexRecords(const IndexRecordTable& table) {
  const std::size_t n = table.size();
  std::vector<int> byPath(n);
  for (std::size_t i = 0; i < n; ++i) byPath[i] = static_cast<int>(i);
  // std::string compares its chars as unsigned bytes, as strcmp does.
  auto less = [&](int a, int b) { return table[a].path < table[b].path; };
  std::vector<int> sorted = byPath;
  std::stable_sort(sorted.begin(), sorted.end(), less);

  // Rank of each row's path among the distinct paths.
  std::vector<std::uint32_t> rank(n);
  bool duplicates = false;
  for (std::size_t k = 0; k < n; ++k) {
    if (k == 0) {
      rank[sorted[k]] = 0;
    } else if (table[sorted[k - 1]].path == table[sorted[k]].path) {
      rank[sorted[k]] = rank[sorted[k - 1]];
      duplicates = true;
    } else {
      rank[sorted[k]] = rank[sorted[k - 1]] + 1;
    }
  }
  // Without equal paths the ascending order is unique: any sort gives the exchange sort's.
  if (!duplicates || n > kExchangeOrderMax) return sorted;

  // With equal paths their order matters, so run the exchange sort itself; it compares the
  // ranks, which order the rows exactly as their paths do, at the cost of an int compare.
  std::vector<int> order = byPath;
  std::vector<std::uint32_t> key(n);
  for (std::size_t i = 0; i < n; ++i) key[i] = rank[i];
  for (std::size_t i = 0; i + 1 < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      if (key[i] > key[j]) {
        std::swap(key[i], key[j]);
        std::swap(order[i], order[j]);
      }
    }
  }
  return order;
}

int NextIndexRecord::Next(std::string_view filter) {
  const int count = order_ == nullptr ? 0 : static_cast<int>(order_->size());
  ++position_;
  while (position_ < count && table_[(*order_)[position_]].path.find(filter) == std::string::npos) {
    ++position_;
  }
  if (position_ >= count) {
    position_ = count;
    return -1;
  }
  return (*order_)[position_];
}

}  // namespace lumbra
