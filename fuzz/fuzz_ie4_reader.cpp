// The Internet Explorer 4 index reader (and through it the 5.2 reader) on arbitrary bytes: no
// fault, and every row it takes holds a URL that lies in the input and a content type within
// its limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/ie4_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumbra::CacheEntryTable table;
  std::string dump;
  lumbra::ParseExplorer4Index(bytes, table, &dump);
  for (int i = 0; i < table.count(); ++i) {
    const lumbra::CacheEntry& row = table.row(i);
    if (row.contentType.empty() || row.contentType.size() > lumbra::kContentTypeMax ||
        bytes.find(row.url) == std::string_view::npos) {
      std::abort();
    }
  }
  return 0;
}
