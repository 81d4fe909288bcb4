// Builds Internet Explorer 2.0 caches for tests: an iexplore.cif with one 'F' line per
// entry (or the entry's raw line), and the cached files with their contents.
//
//   testing::Ie2Cache cache;
//   cache.entries.push_back({.url = "http://host/a.html", .fileName = "A0001.HTM",
//                            .content = "<html>"});
//   std::string index = testing::WriteIe2Cache(dir, cache);  // dir + "/iexplore.cif"
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumbra::testing {

struct Ie2Entry {
  std::string url{};  // field 2
  // Field 11: the cached file's path relative to the cache directory ('/' separated).
  std::string fileName{};
  std::string contentType = "text/html";  // field 10
  std::string content{};                  // the bytes of the cached file
  std::string rest{};                     // written after the comma that ends field 11
  // The whole line (without its line end) in place of the fields when set; the cached file
  // is still written when fileName is set.
  std::optional<std::string> rawLine{};
};

struct Ie2Cache {
  std::vector<Ie2Entry> entries;
  std::string lineEnd = "\r\n";  // after every line
};

// "F," + url + ",0,0,0,0,0,0,0," (fields 3 to 9) + contentType + "," + fileName + "," + rest,
// or the raw line.
std::string Ie2Line(const Ie2Entry& entry);

// The whole iexplore.cif: every entry's line followed by the line end.
std::string BuildIe2Index(const Ie2Cache& cache);

// Writes dir/iexplore.cif and every entry's cached file below dir (directories made).
// Returns the index path.
std::string WriteIe2Cache(const std::string& dir, const Ie2Cache& cache);

}  // namespace lumbra::testing
