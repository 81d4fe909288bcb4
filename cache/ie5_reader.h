// The reader of the cache index index.dat of Internet Explorer 5 to 9 (signature
// "Client UrlCache MMF Ver 5.2"). Like the 4.x reader it follows no index structure: it takes
// the subdirectory names from the header and scans the file in 128-byte steps for URL
// records, but each record says how long it is and where its texts lie. ReadExplorer4Cache
// reaches it through ParseExplorer4Index. Numbers are little-endian; offsets in bytes.
//
// Header, at file offset 0:
//   0     28   signature "Client UrlCache MMF Ver 5.2" and its NUL
//   28    44   not read (file size, hash table offset, block counts, cache sizes)
//   72    ...  directory table, as in version 4.7 (ie_directory_table.h); its count and each
//              name are taken when they lie wholly in the file, names stop at the first that
//              does not
//
// URL record, at any file offset that is a multiple of 128 and holds "URL ":
//   0     4    "URL "
//   4     4    length of the record in 128-byte blocks; a record of 0 blocks, or one that runs
//              past the end of the file, is not read
//   8     44   not read (times, the cached file's size, unknown)
//   52    4    offset of the URL in the record
//   56    1    index of the subdirectory holding the cached file, unsigned
//   57    3    unknown
//   60    4    offset of the cached file's name in the record
//   64    4    not read (flags)
//   68    4    offset of the stored HTTP response header in the record
//   72    4    length of the stored header
//   76    ...  not read (times, a hit count, unknown); the texts follow, the URL usually at 104
#pragma once

#include <string>
#include <string_view>

#include "cache/cache_table.h"

namespace lumbra {

// The first 28 bytes of a version 5.2 index, its NUL included.
inline constexpr std::string_view kExplorer5Signature("Client UrlCache MMF Ver 5.2\0", 28);

// Decodes a version 5.2 index held in memory and appends one row per URL record that is
// whole, names a file and has a content type: url, cacheFile (subdirectory + "/" + file name,
// or the bare name when the record names no subdirectory slot; relative to the cache
// directory) and contentType; status is left alone. When `dump` is not null one debug-dump
// line per URL record read is appended to it ('\n' line ends, values as they came).
void ParseExplorer5Index(std::string_view bytes, CacheEntryTable& table, std::string* dump);

}  // namespace lumbra
