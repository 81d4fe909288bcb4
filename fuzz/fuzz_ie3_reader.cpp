// The Internet Explorer 3 index reader on arbitrary bytes, with each record size: no fault,
// and every row it takes holds a URL and a file name that lie in the input and within one
// record, and a content type within its limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/ie3_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kPrefix = "cache7/";
  for (std::size_t recordSize : {256, 2048, 4096}) {
    lumbra::CacheEntryTable table;
    std::string dump;
    lumbra::ParseExplorer3Segment(bytes, recordSize, kPrefix, table, &dump);
    for (int i = 0; i < table.count(); ++i) {
      const lumbra::CacheEntry& row = table.row(i);
      std::string_view name = row.cacheFile;
      if (!name.starts_with(kPrefix)) std::abort();
      name.remove_prefix(kPrefix.size());
      if (row.url.size() >= recordSize || name.size() >= recordSize || row.contentType.empty() ||
          row.contentType.size() > lumbra::kContentTypeMax ||
          bytes.find(row.url) == std::string_view::npos ||
          bytes.find(name) == std::string_view::npos) {
        std::abort();
      }
    }
  }
  return 0;
}
