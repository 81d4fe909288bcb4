// The reader of the Internet Explorer 4.0 cache index index.dat. It follows no index
// structure inside the file: it takes the cache subdirectory names from the header and scans
// the whole file in 128-byte steps for URL records. The layout is described in
// ie4_reader.cpp.
#pragma once

#include <string>
#include <string_view>

#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

// Decodes an index held in memory and appends one row per URL record that is whole and has
// a content type: url, cacheFile (subdirectory + "/" + file name, or the bare name when the
// record names no subdirectory slot; relative to the cache directory) and contentType;
// status is left alone. When `dump` is not null the debug-dump text of every URL record is
// appended to it ('\n' line ends, values as they came). An index that begins with
// kExplorer5Signature is handed whole to ParseExplorer5Index (ie5_reader.h).
void ParseExplorer4Index(std::string_view bytes, CacheEntryTable& table, std::string* dump);

// Reads the index file `indexFile` (the private copy ReadCacheIndex made) into `table`.
// With `debugDump` on it first creates fat.txt in the start directory and returns at once
// when it cannot. It writes its start line to the execution log and shows the message
// "キャッシュファイルが使用中です" when the file cannot be read.
void ReadExplorer4Cache(const JobContext& ctx, Frontend& frontend, bool debugDump,
                        const std::string& indexFile, CacheEntryTable& table);

}  // namespace lumbra
