// The disk cache of Firefox (cache2): a directory `entries/` with one file per stored response,
// named by the SHA-1 of its cache key in 40 upper-case hex digits. The `index` beside it is
// written late or not at all, so the reader scans `entries/` and never needs it.
//
// An entry file, all numbers big-endian:
//   data      the body as received (still content-encoded), then the alternative data that
//             the `alt-data` element points into (compiled script, say), in chunks of
//             kFirefoxChunkSize; `dataSize` bytes
//   metadata  u32 hash of what follows up to the trailer, one u16 hash per chunk of data,
//             the header (u32 version, fetch count, last fetched, last modified, frecency,
//             expiration, key size, and from version 2 on flags), the key and a NUL, then
//             the elements: NUL-ended name and value pairs (`response-head`, `alt-data`, ...)
//   trailer   u32 version (4) and u32 dataSize with the high bit set for an encrypted entry;
//             entries of older versions end with the bare u32 dataSize alone
//
// An encrypted entry holds every chunk and the metadata as AES-256-GCM blocks laid out as
// ciphertext, 16-byte tag, 12-byte nonce; each block authenticates its number (the chunk's
// index, 2^64-1 for the metadata; a u64, little-endian as the browser wrote it) and the
// metadata also the trailer. The key is the pref `browser.cache.disk.encryption.key` (base64
// of 32 bytes) in the profile's prefs.js. Hashes are those of the plain bytes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cache/cache_layout.h"

namespace lumbra {

inline constexpr std::uint32_t kFirefoxChunkSize = 256 * 1024;

// The key of an encrypted cache.
using FirefoxCacheKey = std::array<unsigned char, 32>;

// What one entry file holds.
struct FirefoxEntry {
  std::string key;  // the cache key, with the URL inside it
  bool hasResponseHead = false;
  std::string responseHead;        // the `response-head` element: status line and headers
  std::uint32_t lastModified = 0;  // seconds since 1970, when the browser last wrote it
  std::uint32_t dataSize = 0;      // body and alternative data
  std::uint32_t bodySize = 0;      // the body alone: up to the alternative data
  bool encrypted = false;
};

enum class FirefoxEntryCheck {
  Good,
  Damaged,       // not an entry, or damaged, cut or changing: `why` says which
  NoKey,         // encrypted, and no key was given
  NotDecrypted,  // encrypted, and the key given does not open it
};

// Reads the entry file `bytes`: trailer, metadata (decrypted with `key` when encrypted) and,
// when `body` is given, the body without the alternative data, every chunk checked against
// its hash. A document (status 200/203) whose Content-Length differs from its stored body is
// Damaged: the browser kept only part of it.
FirefoxEntryCheck ParseFirefoxEntry(std::string_view bytes, const FirefoxCacheKey* key,
                                    FirefoxEntry& entry, std::string* body, std::string& why);

// The hash the cache keeps of its metadata and (the low 16 bits) of each chunk: Bob Jenkins'
// lookup2 with the initial value 0.
std::uint32_t FirefoxCacheHash(std::string_view bytes);

// The layout of a Firefox cache2 directory (marker "/entries", a directory).
std::unique_ptr<CacheLayout> FirefoxCache2Layout();

}  // namespace lumbra
