// The reader of the Internet Explorer 3.0 cache: every cache<d> subdirectory (d = 1 to 19)
// keeps index files mm256.dat, mm2048.dat and mm4096.dat of records of 256, 2,048 and 4,096
// bytes. The layout is described in ie3_reader.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

// Decodes one index file held in memory, of records of `recordSize` bytes (0 reads
// nothing), and appends one row per whole record that has a URL, a file name and a content
// type: url, cacheFile (`prefix` + the file name, relative to the cache directory) and
// contentType; status is left alone. When `dump` is not null the debug-dump text of every
// record read is appended to it ('\n' line ends, values as they came).
void ParseExplorer3Segment(std::string_view bytes, std::size_t recordSize, std::string_view prefix,
                           CacheEntryTable& table, std::string* dump);

// Reads every cache<d>/mm256.dat, mm2048.dat and mm4096.dat of `cacheDir` (d = 1 to 19, in
// this order), each from a private copy, into `table`. With `debugDump` on it first creates
// fat.txt in the start directory and returns true at once when it cannot; then it writes its
// start line to the execution log. An index file that cannot be read is reported with
// "キャッシュファイルが使用中です" and the next one is tried. False when the private copy of
// an index file could not be made (the cause has been shown): the read stops there, and the
// rows read before stay.
bool ReadExplorer3Cache(const JobContext& ctx, Frontend& frontend, bool debugDump,
                        const std::string& cacheDir, CacheEntryTable& table);

}  // namespace lumbra
