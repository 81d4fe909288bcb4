// Builds Internet Explorer caches for tests: an index.dat of version 4.7 or 4.6 (Internet
// Explorer 4.0) or 5.2 (Internet Explorer 5 to 9) with its directory table and one URL record
// per entry, the cache subdirectories, and the cached files with their contents.
//
//   testing::Ie4Cache cache;
//   cache.subdirectories = {"AB12CD34"};
//   cache.entries.push_back({.url = "http://host/a.html", .fileName = "a[1].html",
//                            .content = "<html>"});
//   std::string index = testing::WriteIe4Cache(dir, cache);  // dir + "/index.dat"
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace lumbra::testing {

enum class Ie4Version { V47, V46, V52 };

struct Ie4Entry {
  std::string url{};
  std::string fileName{};  // the cached file's name inside its subdirectory
  // Index of the subdirectory in the directory table; any value is written as it is (its
  // low byte is what a reader takes), so a test can name a slot that does not exist.
  int subdirectory = 0;
  // Written as the line "Content-Type: " + type in the stored header; empty: no such line.
  std::string contentType = "text/html";
  // Replaces the whole stored header text when set (no Content-Type line is added).
  std::optional<std::string> headerText{};
  // Bytes of the cached file; no file is written when writeFile is false.
  std::string content{};
  bool writeFile = true;
  std::optional<long long> mtime{};  // modification time of the cached file, seconds
};

struct Ie4Cache {
  Ie4Version version = Ie4Version::V47;
  // Names of the cache subdirectories, 8 characters each (shorter names are padded with
  // NULs in the table, longer ones cut).
  std::vector<std::string> subdirectories{"CACHE001"};
  std::vector<Ie4Entry> entries;
};

// An entry whose cached file holds `content`, with a Content-Type line of `contentType`.
Ie4Entry CachedEntry(std::string url, std::string fileName, std::string contentType,
                     std::string content, std::optional<long long> mtime = std::nullopt);

// A record of `url` naming the file `fileName` in the subdirectory slot `subdirectory`.
Ie4Entry Ie4Record(std::string url, std::string fileName, int subdirectory,
                   std::string contentType);

// The bytes of an index.dat and where each entry's record begins.
struct Ie4Index {
  std::string bytes;
  std::vector<std::size_t> recordOffsets;  // one per entry, multiples of 128
};

// The whole index: header with signature and directory table (at 80 for version 4.6, else at
// 72), then one URL record per entry from offset 0x800 on: "URL ", the 25 fields, URL,
// aligned file name and header text, padded with NULs to whole 128-byte blocks. Version 5.2
// keeps the subdirectory index in the byte at 56 and the offsets of name and header (with the
// header's length, its NUL included) in the fields at 60, 68 and 72; the 4.x versions keep
// the subdirectory index at 60. NUL-padded so that every record has at least 512 bytes in the
// file and the size is a multiple of 4096.
Ie4Index BuildIe4Index(const Ie4Cache& cache);

// Writes dir/index.dat (its directories made), makes dir/<subdirectory> for every name, and
// writes each entry's file (with its mtime) into its subdirectory when that index names one.
// Returns the index path.
std::string WriteIe4Cache(const std::string& dir, const Ie4Cache& cache);

}  // namespace lumbra::testing
