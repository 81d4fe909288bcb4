// The Internet Explorer 2 cache list reader on arbitrary bytes: no fault, and every row it
// takes holds texts that lie in the input, within one line of at most 4,999 characters, and a
// content type within its limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/ie2_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumbra::CacheEntryTable table;
  std::string dump;
  lumbra::ParseExplorer2Index(bytes, table, &dump);
  for (int i = 0; i < table.count(); ++i) {
    const lumbra::CacheEntry& row = table.row(i);
    if (row.url.empty() || row.url.size() >= 4999 || row.cacheFile.empty() ||
        row.cacheFile.size() >= 4999 || row.contentType.empty() ||
        row.contentType.size() > lumbra::kContentTypeMax ||
        bytes.find(row.url) == std::string_view::npos ||
        bytes.find(row.cacheFile) == std::string_view::npos) {
      std::abort();
    }
  }
  return 0;
}
