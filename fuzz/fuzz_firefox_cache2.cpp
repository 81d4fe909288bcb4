// The Firefox cache2 entry parser on arbitrary bytes, without a key and with the key of the
// real encrypted cache the seeds come from: no fault, and an entry it takes has its body
// within its data, the data within the file, and the body it gives of the size it names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/firefox_cache2.h"

namespace {

// browser.cache.disk.encryption.key of the real encrypted cache (firefox-encrypted/prefs.js).
constexpr lumbra::FirefoxCacheKey kKey = {
    0x32, 0x92, 0xf2, 0x1a, 0x37, 0x65, 0x06, 0x01, 0x9b, 0x08, 0x37, 0x03, 0x0c, 0xd0, 0xc2, 0x8c,
    0xa0, 0x4b, 0xb8, 0x21, 0xcc, 0xf3, 0x4e, 0xeb, 0x0e, 0x73, 0x4e, 0x64, 0x85, 0xae, 0x9b, 0xa1};

void Check(std::string_view bytes, const lumbra::FirefoxCacheKey* key, bool withBody) {
  lumbra::FirefoxEntry entry;
  std::string body;
  std::string why;
  const lumbra::FirefoxEntryCheck check =
      lumbra::ParseFirefoxEntry(bytes, key, entry, withBody ? &body : nullptr, why);
  if (check != lumbra::FirefoxEntryCheck::Good) return;
  if (entry.bodySize > entry.dataSize || entry.dataSize > bytes.size() ||
      (withBody && body.size() != entry.bodySize) ||
      (!entry.encrypted && bytes.find(entry.key) == std::string_view::npos)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Check(bytes, nullptr, false);
  Check(bytes, nullptr, true);
  Check(bytes, &kKey, true);
  return 0;
}
