// The reader of the cache index index.dat of Internet Explorer 5 to 9 (signature
// "Client UrlCache MMF Ver 5.2"). Like the 4.x reader it follows no index structure: it takes
// the subdirectory names from the header and scans the file in 128-byte steps for URL
// records, but each record says how long it is and where its texts lie. ReadExplorer4Cache
// reaches it through ParseExplorer4Index. The layout is described in ie5_reader.cpp.
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
