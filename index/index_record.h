// The pages a job saved or rewrote, recorded with their titles for the index pages, and the
// order in which the index pages list them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/title_charset.h"

namespace lumbra {

// Bytes of a recorded path: as long as a path can be (every component of a stored page's
// path fits a file name, see ShortNames), so that an index page links every page it lists.
inline constexpr std::size_t kIndexPathMax = 4095;
inline constexpr std::size_t kIndexTitleMax = 99;  // bytes of a recorded title

// One saved page: its full path in its LogTree and its title in Shift-JIS.
struct IndexRecord {
  std::string path;
  std::string title;
};

// The records of one job, in the order they were added: every page the job recorded. A job
// of a million pages keeps a million records, so they are kept compact: each directory's path
// once, and each record's file name and title side by side in large blocks that never move.
class IndexRecordTable {
 public:
  IndexRecordTable() = default;
  IndexRecordTable(const IndexRecordTable&) = delete;
  IndexRecordTable& operator=(const IndexRecordTable&) = delete;
  IndexRecordTable(IndexRecordTable&&) = default;  // the blocks move, the bytes stay
  IndexRecordTable& operator=(IndexRecordTable&&) = default;

  // `path` of at most kIndexPathMax bytes, `title` of at most kIndexTitleMax.
  void Append(std::string_view path, std::string_view title);
  // Empties the table for a new job.
  void Clear();

  std::size_t size() const { return rows_.size(); }
  // A copy of one record.
  IndexRecord operator[](std::size_t row) const;
  // The path of a record put after `out`'s text, so that one buffer serves a walk.
  void AppendPath(std::size_t row, std::string& out) const;
  // The paths of two records compared byte-wise (unsigned, as strcmp): <0, 0 or >0.
  int ComparePaths(std::size_t a, std::size_t b) const;

 private:
  static constexpr std::uint32_t kNoDirectory = UINT32_MAX;  // a path without '/'

  struct Row {
    const char* text;  // the file name, then the title
    std::uint32_t directory;
    std::uint16_t nameSize;
    std::uint8_t titleSize;
  };

  // Bytes kept until Clear, never moved.
  const char* Keep(std::string_view first, std::string_view second = {});
  std::uint32_t DirectoryId(std::string_view directory);
  std::string_view Name(const Row& row) const { return {row.text, row.nameSize}; }

  std::deque<Row> rows_;
  std::vector<std::string_view> directories_;  // by id, each kept in the blocks
  std::unordered_map<std::string_view, std::uint32_t> directoryIds_;
  std::uint32_t lastDirectory_ = kNoDirectory;  // pages come directory by directory
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockUsed_ = 0;
  std::size_t blockSize_ = 0;
};

// The text before its first NUL byte, where a recorded text ends, cut to `max` bytes.
std::string CutRecordText(std::string_view text, std::size_t max);

// Records one page: the path is cut to kIndexPathMax bytes, the title, read by `charset`,
// becomes Shift-JIS of at most kIndexTitleMax bytes (IndexTitle; a title of a page that
// declares nothing is cut and then converted by ConvertTitleCode, as always). The log root is
// not used.
void AddIndexRecord(IndexRecordTable& table, std::string_view logRoot, std::string_view pagePath,
                    std::string title, const TitleCharset& charset = {});

// The row numbers of the table ordered by path, ascending byte-wise (unsigned, as strcmp).
// Rows of the same path come in the order an exchange sort leaves them (for each position
// in turn, swap with every later position whose path is smaller); that order decides which
// title the index pages show for a duplicated path. In a table of more than 20,000 rows they
// come in the order they were recorded.
std::vector<int> SortIndexRecords(const IndexRecordTable& table);

// Walks the rows of an order in sequence, yielding those whose path contains a filter.
class NextIndexRecord {
 public:
  explicit NextIndexRecord(const IndexRecordTable& table) : table_(table) {}

  // Back to the position before the first row.
  void Reset() { position_ = -1; }
  // The order to walk (kept by reference: it must outlive the walk). Also resets.
  void SetOrder(const std::vector<int>& order) {
    order_ = &order;
    Reset();
  }
  // The row number of the next record in order whose path contains `filter` (exact,
  // case-sensitive substring), or -1 when none is left.
  int Next(std::string_view filter);

  const IndexRecordTable& table() const { return table_; }

 private:
  const IndexRecordTable& table_;
  const std::vector<int>* order_ = nullptr;
  int position_ = -1;
  std::string path_;  // the path of the row at hand
};

}  // namespace lumbra
