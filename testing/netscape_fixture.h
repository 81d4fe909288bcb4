// Builds Netscape Navigator caches for tests: a fat.db written by the real Berkeley DB 1.85
// hash code (the tool mkhash, built with the tests), one record per entry, and the cached
// files in the cache directory. The key and data bytes of a record are laid out as the reader
// reads them; EncodeNetscapeRecord gives them with the offset of every field, so a test can
// damage one field before the record is stored.
//
//   testing::NetscapeCache cache;
//   cache.entries.push_back(testing::NetscapeFile("http://host/a.html", "M0001", "text/html"));
//   std::string index = testing::WriteNetscapeCache(dir, cache);  // dir + "/fat.db"
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace lumbra::testing {

struct NetscapeEntry {
  std::string url{};
  std::string fileName{};  // the cached file, relative to the cache directory
  std::string contentType = "text/html";
  std::string content = "<html></html>";  // the cached file's bytes
  std::int32_t time1 = 0;
  std::int32_t time2 = 0;
  std::int32_t mem = 0;
  std::int32_t n5 = 0;
  std::int32_t n3 = 0;
  bool n7Zero = false;     // N7 written as 0, so that an N8 follows it
  bool textNuls = true;    // URL, name and type each followed by a NUL inside its length
  std::string keyRest{};   // bytes at the end of the key
  std::string dataRest{};  // bytes at the end of the data record
  // The whole key, written in place of the encoded one (IntEntry makes one).
  std::optional<std::string> rawKey{};
  bool writeFile = true;  // whether WriteNetscapeCache writes the cached file
};

// An entry whose cached file `fileName` holds `content`.
NetscapeEntry NetscapeFile(std::string url, std::string fileName, std::string contentType,
                           std::string content = "<html></html>");

// A record whose key begins with "INT" (the browser's own settings), followed by `name`.
NetscapeEntry IntEntry(std::string name);

// The bytes of one record, and where each field begins. Key fields: "key size",
// "url length", "url", "key int", "key rest"; data fields: "record size", "N1", "time1",
// "time2", "N4", "mem", "N5", "c", "name length", "name", "mid N1" to "mid N7", "N8" (only
// when N7 is 0), "c2", "type length", "type", "last N1", "last N2", "N3", "data rest".
struct NetscapeRecord {
  std::string key;
  std::string data;
  std::vector<std::pair<std::string, std::size_t>> keyFields;
  std::vector<std::pair<std::string, std::size_t>> dataFields;

  // Overwrites the 32-bit field `field` (of the key or the data record) with `value`.
  void SetInt(std::string_view field, std::int32_t value);
  // Adds `delta` to the 32-bit field `field`.
  void AddInt(std::string_view field, std::int32_t delta);
  // Ends the key or the data record one byte before the end of `field`.
  void CutInside(std::string_view field);

 private:
  // The key or the data record holding `field`, where the field begins and where it ends.
  std::tuple<std::string*, std::size_t, std::size_t> Find(std::string_view field);
};

NetscapeRecord EncodeNetscapeRecord(const NetscapeEntry& entry);

// The bytes of a fat.db holding `records` (in this order of storing) with pages of
// `pageSize` bytes, written by the database code; with `deleteEvery` above 0 every
// deleteEvery-th record (the first, then deleteEvery + 1, ...) is deleted again afterwards.
std::string BuildNetscapeIndex(const std::vector<NetscapeRecord>& records, int pageSize,
                               int deleteEvery = 0);

struct NetscapeCache {
  int pageSize = 4096;
  std::vector<NetscapeEntry> entries;
  int deleteEvery = 0;
};

std::string BuildNetscapeIndex(const NetscapeCache& cache);

// Writes dir/fat.db and every entry's cached file below dir (directories made). Returns the
// index path.
std::string WriteNetscapeCache(const std::string& dir, const NetscapeCache& cache);

// A file laid by hand, as the database never writes one but a truncated copy can be: a
// header page of 4,096 zero bytes, then a page with the entry count 2 and one offset pair,
// the two items right after it, and the file ending with the last item (the data record,
// or the key when `keyLast`). The page begins at kLaidPage: the count there, the key offset
// at +2 and the data offset at +4.
std::string LayNetscapeIndex(std::string_view key, std::string_view data, bool keyLast);
inline constexpr std::size_t kLaidPage = 4096;

}  // namespace lumbra::testing
