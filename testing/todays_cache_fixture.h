// Builds the caches of today's browsers for tests and the job benchmark: a Chromium Simple
// Cache and a Firefox cache2, one entry file per stored response, laid out as Chromium 156 and
// Firefox 153 wrote the caches in ../shared/realdata/browser-caches. Each entry's response
// head follows one of those real entries (the same headers, pickle fields and metadata
// elements); its key, body, Content-Length, times, hashes and checksums are its own.
//
//   testing::ChromiumSimpleWriter chromium(dir + "/chromium");
//   testing::TodaysEntry page{.url = "http://host/a.html", .contentType = "text/html",
//                             .body = testing::Gzip("<html>"), .gzip = true};
//   chromium.Add(page);
//   chromium.Finish();  // index and index-dir/the-real-index
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra::testing {

// One stored response of a web server like the one the real caches were made from.
struct TodaysEntry {
  std::string url{};          // http or https, with its host
  std::string contentType{};  // the Content-Type header; none when empty
  std::string body{};         // the body as stored: gzip-encoded when `gzip`
  bool gzip = false;          // sent with Content-Encoding: gzip (and Vary: Accept-Encoding)
  std::int64_t fetched = 1767225600;  // when the response arrived, seconds since 1970
};

// `bytes` gzip-encoded, as a web server sends them.
std::string Gzip(std::string_view bytes);

// Chromium's cache key of a top-level load of `url`: "1/0/_dk_<site> <site> <url>", the site
// being the URL's scheme and host.
std::string ChromiumKey(std::string_view url);
// The whole entry file (<16 hex>_0) of `entry`.
std::string ChromiumSimpleEntryFile(const TodaysEntry& entry);

// Writes a Simple Cache into a directory, entry by entry.
class ChromiumSimpleWriter {
 public:
  // Makes `dir` (and its parents).
  explicit ChromiumSimpleWriter(std::string dir);
  // Writes the entry file of `entry`; false when it could not be written.
  bool Add(const TodaysEntry& entry);
  // Writes the marker `index` and index-dir/the-real-index listing every entry added.
  bool Finish();

 private:
  struct Listed {
    std::uint64_t hash;
    std::int64_t lastUsed;  // Chromium time
    std::uint64_t size;
  };
  std::string dir_;
  std::vector<Listed> listed_;
};

// Firefox's cache key of a top-level load of `url`: "O^partitionKey=%28<scheme>%2C<host>%29,:"
// then the URL.
std::string FirefoxKey(std::string_view url);
// The whole entry file (entries/<SHA-1 of the key>) of `entry`.
std::string FirefoxEntryFile(const TodaysEntry& entry);

// Writes a cache2 directory (entries/ and doomed/; no index, as a young profile has none)
// entry by entry.
class FirefoxCache2Writer {
 public:
  // Makes `dir`/entries and `dir`/doomed (and their parents).
  explicit FirefoxCache2Writer(std::string dir);
  // Writes the entry file of `entry`; false when it could not be written.
  bool Add(const TodaysEntry& entry);

 private:
  std::string dir_;
};

}  // namespace lumbra::testing
