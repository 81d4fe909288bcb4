// Builds Internet Explorer 3.0 caches for tests: the cache<d> subdirectories with their
// index files mm256.dat, mm2048.dat and mm4096.dat (a header whose first line names the
// version, then one record of 256, 2,048 or 4,096 bytes per entry), and the cached files.
//
//   testing::Ie3Cache cache;
//   cache.entries.push_back({.url = "http://host/a.html", .fileName = "A0001.htm",
//                            .subdirectory = 2, .content = "<html>"});
//   testing::WriteIe3Cache(dir, cache);  // dir/cache2/mm256.dat, dir/cache2/A0001.htm
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra::testing {

struct Ie3Entry {
  std::string url;
  std::string fileName;  // the cached file's name inside cache<subdirectory>
  int subdirectory = 1;  // the d of cache<d>
  // Which index file holds the record: 256 (mm256.dat), 2048 or 4096.
  std::size_t recordSize = 256;
  // Written as the line "Content-Type: " + type in the stored header; empty: no such line.
  std::string contentType = "text/html";
  // Replaces the whole stored header text when set (no Content-Type line is added).
  std::optional<std::string> headerText;
  // Bytes of the cached file; no file is written when writeFile is false.
  std::string content;
  bool writeFile = true;
  std::optional<long long> mtime;  // modification time of the cached file, seconds
};

struct Ie3Cache {
  // The first line of every index file's header.
  std::string versionLine = "MM Cache 3.0";
  // Where the first record of every index file starts (256 or more).
  std::size_t firstRecord = 256;
  std::vector<Ie3Entry> entries;
  // Files written as given after the built ones (replacing them), by path relative to the
  // cache directory: "cache3/mm2048.dat" -> bytes.
  std::map<std::string, std::string> rawFiles;
};

// "mm256.dat", "mm2048.dat" or "mm4096.dat".
std::string Ie3IndexName(std::size_t recordSize);

// One record as it lies in the file: URL, NUL, name, NUL, header text, NUL, padded with
// NULs to `recordSize` bytes; texts that do not fit are cut at the record's end.
std::string BuildIe3Record(const Ie3Entry& entry, std::size_t recordSize);

// The bytes of one index file and where each record begins.
struct Ie3Index {
  std::string bytes;
  std::vector<std::size_t> recordOffsets;
};

// An index file: the header (versionLine, CR LF, NULs up to firstRecord), then one record
// of `recordSize` bytes for every entry (whatever its own recordSize and subdirectory).
Ie3Index BuildIe3Index(const std::vector<Ie3Entry>& entries, std::size_t recordSize,
                       std::string_view versionLine = "MM Cache 3.0",
                       std::size_t firstRecord = 256);

// Writes the cache below dir (made when missing; its parent must exist): cache<d>/ and its
// index files for every subdirectory and record size the entries name, each entry's cached
// file into its cache<d>, then the raw files.
void WriteIe3Cache(const std::string& dir, const Ie3Cache& cache);

}  // namespace lumbra::testing
