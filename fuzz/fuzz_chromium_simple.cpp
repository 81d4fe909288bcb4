// The Simple Cache entry parser on arbitrary bytes: no fault, and an entry it takes has its key
// at byte 24, its body between the key and the end of the input, and a URL that ends its key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/chromium_simple.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumbra::ChromiumSimpleEntry entry;
  std::string why;
  if (!lumbra::ParseChromiumSimpleEntry(bytes, entry, why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (bytes.substr(24, entry.key.size()) != entry.key ||
      entry.bodyOffset != 24 + entry.key.size() || entry.bodyOffset + entry.bodySize > size ||
      !entry.key.ends_with(entry.response.url) || entry.response.status == 0) {
    std::abort();
  }
  return 0;
}
