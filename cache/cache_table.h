// The cache entry table: every document a cache reader found in the browser's index, one row
// each, filled by ReadCacheIndex at the start of a log-add job and walked by index afterwards.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/job_context.h"

namespace lumbra {

// One document of the cache.
struct CacheEntry {
  // Path of the cached file: relative to the cache directory as a reader stores it (for
  // example subdirectory + "/" + name), absolute after ReadCacheIndex.
  std::string cacheFile;
  // The URL as the index gives it; after ReadCacheIndex cut, normalised and given an
  // extension, so that it can serve as a relative file path.
  std::string url;
  // The MIME type as the index gives it, parameters included.
  std::string contentType;
  // 0 after reading; the log-add job sets 1 for an entry it stored into a log.
  int status = 0;
  // The reader has just read this page's document whole and found it sound (checked and
  // decoded as its cache keeps it), so the add job need not open it only to learn that.
  bool readWhole = false;
};

// URLs of up to this many bytes are read and stored; the add job refuses a longer one and
// reports it (a URL cut short would name another document).
inline constexpr std::size_t kCacheUrlMax = 8192;
// ReadCacheIndex cuts every contentType to this length before normalising.
inline constexpr std::size_t kContentTypeMax = 150;

// The debug dump the readers write into the start directory while the execution log is on.
inline constexpr std::string_view kDebugDumpName = "fat.txt";

// A file of a cache that its reader refused without reading an entry from it: a link, a FIFO
// or a device where an entry file lies. Such a file is counted by the job, as a cached file
// refused.
struct RefusedCacheFile {
  std::string file;  // as the reader names it, relative to the cache directory
  std::string why;
};

class CacheEntryTable {
 public:
  // Forgets every row and every refused file.
  void Reset() {
    rows_.clear();
    refusedFiles_.clear();
  }

  // Appends `entry` as the next row. Every record of the index is kept: the table grows with
  // the cache, row by row.
  void Append(CacheEntry entry) { rows_.push_back(std::move(entry)); }

  // Drops every row that repeats an earlier one in url, cacheFile and contentType, keeping the
  // order of the others. A Netscape index can give one record twice (a record the database
  // moved when it split a bucket stays readable in the page it left); one document is one
  // entry of a job.
  void RemoveRepeatedRows();

  int count() const { return static_cast<int>(rows_.size()); }
  // A valid row (0 <= index < count()); callers check the index.
  CacheEntry& row(int index) { return rows_[static_cast<std::size_t>(index)]; }
  const CacheEntry& row(int index) const { return rows_[static_cast<std::size_t>(index)]; }

  void NoteRefusedFile(RefusedCacheFile file) { refusedFiles_.push_back(std::move(file)); }
  const std::vector<RefusedCacheFile>& refusedFiles() const { return refusedFiles_; }

 private:
  // Rows are added one at a time without moving the ones held.
  std::deque<CacheEntry> rows_;
  std::vector<RefusedCacheFile> refusedFiles_;
};

// Copies the row at `index` into `out` and answers true; for an index outside the valid rows
// answers false and leaves `out` untouched.
bool GetCacheEntry(const CacheEntryTable& table, int index, CacheEntry& out);

// Stores the status in the row at `index`; an index outside the valid rows is ignored.
void SetCacheEntryStatus(CacheEntryTable& table, int index, int status);

// The number of valid rows.
int GetCacheEntryCount(const CacheEntryTable& table);

// A reader's error or progress line: "    " + text + "\n" appended to the execution log
// while it is on, nothing otherwise. `text` is in the system's own words (UTF-8 in the
// source).
void LogReaderMessage(const JobContext& ctx, std::string_view text);

}  // namespace lumbra
