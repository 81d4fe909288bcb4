// The Netscape index reader on arbitrary bytes with both page sizes: no fault, the page size
// is one it may use, every message is one of its own, and every row holds a URL that lies in
// the input and texts within their limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/netscape_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (int pageSize : {4096, 16384}) {
    lumbra::CacheEntryTable table;
    std::string dump;
    int used = lumbra::ParseNetscapeIndex(bytes, pageSize, table, &dump, [](std::string_view m) {
      if (!m.starts_with("fat read ")) std::abort();
    });
    if (used != (size < 4098 ? 0 : bytes[4096] != 0 || bytes[4097] != 0 ? 4096 : pageSize)) {
      std::abort();
    }
    for (int i = 0; i < table.count(); ++i) {
      const lumbra::CacheEntry& row = table.row(i);
      // The lengths the records give are checked: the URL's (its NUL included) against
      // kCacheUrlMax + 1, the name's against 512.
      if (row.url.size() > lumbra::kCacheUrlMax + 1 || row.cacheFile.size() > 512 ||
          row.contentType.size() > lumbra::kContentTypeMax ||
          bytes.find(row.url) == std::string_view::npos) {
        std::abort();
      }
    }
  }
  return 0;
}
