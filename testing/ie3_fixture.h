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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra::testing {

struct Ie3Entry {
  std::string url{};
  std::string fileName{};  // the cached file's name inside cache<subdirectory>
  int subdirectory = 1;    // the d of cache<d>
  // Which index file holds the record: 256 (mm256.dat), 2048 or 4096.
  std::size_t recordSize = 256;
  // Written as the line "Content-Type: " + type in the stored header; empty: no such line.
  std::string contentType = "text/html";
  // Replaces the whole stored header text when set (no Content-Type line is added).
  std::optional<std::string> headerText{};
  std::string content{};  // the bytes of the cached file
};

// The bytes of one index file and where each record begins.
struct Ie3Index {
  std::string bytes;
  std::vector<std::size_t> recordOffsets;
};

// An index file: the header (versionLine, CR LF, NULs up to firstRecord), then one record
// of `recordSize` bytes for every entry (whatever its own recordSize and subdirectory): URL,
// NUL, name, NUL, header text, NUL, padded with NULs or cut at the record's end.
Ie3Index BuildIe3Index(const std::vector<Ie3Entry>& entries, std::size_t recordSize,
                       std::string_view versionLine = "MM Cache 3.0",
                       std::size_t firstRecord = 256);

// Writes the cache below dir: cache<d>/ and its index files for every subdirectory and record
// size the entries name, and each entry's cached file into its cache<d>.
void WriteIe3Cache(const std::string& dir, const std::vector<Ie3Entry>& entries);

}  // namespace lumbra::testing
