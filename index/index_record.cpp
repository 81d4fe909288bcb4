#include "index/index_record.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "index/title_text.h"

namespace lumbra {
namespace {

// The exchange sort takes time in the square of the records, and all it decides is which of
// the records of one path an index page shows. Up to as many records as a job could once hold
// it runs as ever; in a larger table the records of one path keep the order they were
// recorded in, so that no job waits minutes for its index pages.
constexpr std::size_t kExchangeOrderMax = 20000;

// Bytes of one block of record text: large enough that blocks are few, small enough that the
// last one's unused part is nothing beside the records.
constexpr std::size_t kBlockBytes = std::size_t{64} << 10;

// The bytes of `a` and `b` (each up to three pieces, read as one string) compared as strcmp
// would compare them joined.
int CompareJoined(std::array<std::string_view, 3> a, std::array<std::string_view, 3> b) {
  std::size_t ia = 0;
  std::size_t ib = 0;
  std::string_view ca = a[0];
  std::string_view cb = b[0];
  for (;;) {
    while (ca.empty() && ia + 1 < a.size()) ca = a[++ia];
    while (cb.empty() && ib + 1 < b.size()) cb = b[++ib];
    if (ca.empty() || cb.empty()) return ca.empty() ? (cb.empty() ? 0 : -1) : 1;
    const std::size_t n = std::min(ca.size(), cb.size());
    if (const int c = std::memcmp(ca.data(), cb.data(), n); c != 0) return c;
    ca.remove_prefix(n);
    cb.remove_prefix(n);
  }
}

}  // namespace

const char* IndexRecordTable::Keep(std::string_view first, std::string_view second) {
  const std::size_t size = first.size() + second.size();
  if (size == 0) return nullptr;  // read back as empty views, never dereferenced
  if (blockUsed_ + size > blockSize_) {
    blockSize_ = std::max(kBlockBytes, size);
    blocks_.push_back(std::make_unique<char[]>(blockSize_));
    blockUsed_ = 0;
  }
  char* kept = blocks_.back().get() + blockUsed_;
  std::copy(first.begin(), first.end(), kept);
  std::copy(second.begin(), second.end(), kept + first.size());
  blockUsed_ += size;
  return kept;
}

std::uint32_t IndexRecordTable::DirectoryId(std::string_view directory) {
  if (lastDirectory_ != kNoDirectory && directories_[lastDirectory_] == directory) {
    return lastDirectory_;
  }
  auto found = directoryIds_.find(directory);
  if (found == directoryIds_.end()) {
    const std::string_view kept(Keep(directory), directory.size());
    const auto id = static_cast<std::uint32_t>(directories_.size());
    directories_.push_back(kept);
    found = directoryIds_.emplace(kept, id).first;
  }
  lastDirectory_ = found->second;
  return lastDirectory_;
}

void IndexRecordTable::Append(std::string_view path, std::string_view title) {
  path = path.substr(0, kIndexPathMax);
  title = title.substr(0, kIndexTitleMax);
  Row row{};
  std::string_view name = path;
  row.directory = kNoDirectory;
  if (const std::size_t slash = path.rfind('/'); slash != std::string_view::npos) {
    row.directory = DirectoryId(path.substr(0, slash));
    name = path.substr(slash + 1);
  }
  row.text = Keep(name, title);
  row.nameSize = static_cast<std::uint16_t>(name.size());
  row.titleSize = static_cast<std::uint8_t>(title.size());
  rows_.push_back(row);
}

void IndexRecordTable::Clear() {
  rows_.clear();
  directories_.clear();
  directoryIds_.clear();
  lastDirectory_ = kNoDirectory;
  blocks_.clear();
  blockUsed_ = blockSize_ = 0;
}

void IndexRecordTable::AppendPath(std::size_t row, std::string& out) const {
  const Row& r = rows_[row];
  if (r.directory != kNoDirectory) {
    out += directories_[r.directory];
    out += '/';
  }
  out += Name(r);
}

IndexRecord IndexRecordTable::operator[](std::size_t row) const {
  IndexRecord record;
  AppendPath(row, record.path);
  const Row& r = rows_[row];
  record.title.assign(r.text + r.nameSize, r.titleSize);
  return record;
}

int IndexRecordTable::ComparePaths(std::size_t a, std::size_t b) const {
  const Row& ra = rows_[a];
  const Row& rb = rows_[b];
  if (ra.directory == rb.directory) return Name(ra).compare(Name(rb));
  auto pieces = [&](const Row& r) -> std::array<std::string_view, 3> {
    if (r.directory == kNoDirectory) return {Name(r), {}, {}};
    return {directories_[r.directory], "/", Name(r)};
  };
  return CompareJoined(pieces(ra), pieces(rb));
}

std::string CutRecordText(std::string_view text, std::size_t max) {
  std::size_t end = text.find('\0');
  if (end == std::string_view::npos) end = text.size();
  return std::string(text.substr(0, std::min(end, max)));
}

void AddIndexRecord(IndexRecordTable& table, std::string_view /*logRoot*/,
                    std::string_view pagePath, std::string title, const TitleCharset& charset) {
  table.Append(CutRecordText(pagePath, kIndexPathMax), IndexTitle(title, charset, kIndexTitleMax));
}

std::vector<int> SortIndexRecords(const IndexRecordTable& table) {
  const std::size_t n = table.size();
  std::vector<int> byPath(n);
  for (std::size_t i = 0; i < n; ++i) byPath[i] = static_cast<int>(i);
  auto less = [&](int a, int b) { return table.ComparePaths(a, b) < 0; };
  std::vector<int> sorted = byPath;
  std::stable_sort(sorted.begin(), sorted.end(), less);

  // Rank of each row's path among the distinct paths.
  std::vector<std::uint32_t> rank(n);
  bool duplicates = false;
  for (std::size_t k = 0; k < n; ++k) {
    if (k == 0) {
      rank[sorted[k]] = 0;
    } else if (table.ComparePaths(sorted[k - 1], sorted[k]) == 0) {
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
  for (; position_ < count; ++position_) {
    path_.clear();
    table_.AppendPath((*order_)[position_], path_);
    if (path_.find(filter) != std::string::npos) break;
  }
  if (position_ >= count) {
    position_ = count;
    return -1;
  }
  return (*order_)[position_];
}

}  // namespace lumbra
