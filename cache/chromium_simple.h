// Chromium's Simple Cache (its default on Linux, macOS and Android): one file per entry,
// "<16 hex>_0", the hex being the first 8 bytes of SHA-1(key) read little-endian. The file
// holds, in this order:
//   header    u64 magic 0xfcfb6d1ba7725c30, u32 version (5), u32 key length, u32 key hash
//             (SuperFastHash of the key), 4 bytes padding: 24 bytes
//   key       the cache key ("1/0/_dk_site site URL"), key length bytes
//   stream 1  the body as it came over the wire (still content-encoded)
//   end of stream 1: u64 magic 0xf4fa6f45970d41d8, u32 flags, u32 CRC32 of the stream,
//             u32 stream size (0: not used for stream 1), 4 bytes padding: 24 bytes
//   stream 0  the response head (a pickled HttpResponseInfo, see chromium_response.h)
//   SHA-256 of the key, 32 bytes, when the last record's flags have bit 2
//   end of stream 0: as above, with the size of stream 0
// Flag bit 1 says the CRC32 is kept. The file is read from its end: the last record gives
// the size of stream 0, and what lies between the key and the record before stream 0 is the
// body. Stream 2 (`_1` files) and sparse data (`_s`) are not read; the `index` file and
// index-dir/ are not needed: the directory is scanned.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cache/cache_layout.h"
#include "cache/stored_response.h"

namespace lumbra {

// One entry file as its header and end records describe it.
struct ChromiumSimpleEntry {
  std::string key;
  StoredResponse response;  // its url is the URL inside the key
  // The body (stream 1) as stored: where it lies in the file.
  std::uint64_t bodyOffset = 0;
  std::uint64_t bodySize = 0;
};

// Entry files larger than this are not read.
inline constexpr std::uint64_t kChromiumSimpleFileMax = std::uint64_t{2} << 30;

// Reads and checks the entry file `bytes`, all of it: the magic numbers, the version, the
// lengths, the key's hash and SHA-256, both CRC32s where kept, and for a document (200, 203)
// that its body is whole (not marked cut off, as long as its Content-Length). False, with
// `why` set for the log, when any of it fails.
bool ParseChromiumSimpleEntry(std::string_view bytes, ChromiumSimpleEntry& entry, std::string& why);

// The name of the entry file of `key`: "<16 hex>_0".
std::string ChromiumSimpleFileName(std::string_view key);

// Whether `name` is the name of an entry file: 16 lowercase hex digits and "_0".
bool IsChromiumSimpleFileName(std::string_view name);

// The layout of a Chromium Simple Cache (marker "/index"). A directory is one when its `index`
// begins with the Simple Cache magic, or, without a readable index, when it holds an entry
// file that does: a blockfile `index` (0xC103CAC3) and the SQL backend's (text) are not.
// The locator of an entry is its file name.
std::unique_ptr<CacheLayout> ChromiumSimpleLayout();

}  // namespace lumbra
