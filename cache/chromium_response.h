// The response head that Chromium keeps as stream 0 of every cache entry, in each of its
// backends: a pickled HttpResponseInfo (a 32-bit payload size, then little-endian fields,
// each padded to 4 bytes): flags, extra flags, request and response times, the raw headers
// (status line and header lines, each ended by NUL), then fields this program does not read.
#pragma once

#include <cstdint>
#include <string_view>

#include "cache/stored_response.h"

namespace lumbra {

// Reads the status, the Content-Type and Content-Encoding headers and the response time of
// `pickle` into `out` (the URL is left alone). False when it is not a response head of a
// version this program knows.
bool ReadChromiumResponseInfo(std::string_view pickle, StoredResponse& out);

// Chromium's persistent hash (Paul Hsieh's SuperFastHash, its tail bytes taken as signed
// chars), which its caches keep for keys and records.
std::uint32_t ChromiumHash(std::string_view data);

// A Chromium time (microseconds since 1601-01-01 UTC) as seconds since 1970.
std::int64_t ChromiumTimeToUnix(std::int64_t microseconds);

}  // namespace lumbra
