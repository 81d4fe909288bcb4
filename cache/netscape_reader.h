// The reader of the Netscape Navigator cache index fat.db, a hash database of fixed-size
// pages. It does not follow the database's own structure: it walks every page after the first
// and decodes each key/data pair of the page's offset table as a cache entry. The layout is
// described in netscape_reader.cpp.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

// Decodes an index held in memory with pages of `pageSize` bytes (4,096 instead when the
// 16-bit number at offset 4,096 is not 0) and appends one row per entry that is whole: url
// (cut to 200), cacheFile (the file name, relative to the cache directory, cut to 200) and
// contentType (cut to 150); status is left alone. Every damaged page or entry is passed to
// `report` as its "fat read ..." message (UTF-8) and skipped. When `dump` is not null the
// debug-dump text is appended to it ('\n' line ends, values as they came). Returns the page
// size used, or 0 when the file is too short to hold the number at 4,096 (nothing read).
// `pageSize` must be positive.
int ParseNetscapeIndex(std::string_view bytes, int pageSize, CacheEntryTable& table,
                       std::string* dump, const std::function<void(std::string_view)>& report);

// Reads the index file `indexFile` (the private copy ReadCacheIndex made) into `table` as
// ParseNetscapeIndex does, with the messages going to the execution log. Writes the start
// line to the execution log; with `debugDump` on it replaces fat.txt in the start directory.
// Returns the page size used, or 0 when nothing was read: the file cannot be read (shown as
// "キャッシュファイルが使用中です"), it is too short for the page-size number, or fat.txt
// cannot be created (shown).
int ReadNetscapeCache(const JobContext& ctx, Frontend& frontend, bool debugDump,
                      const std::string& indexFile, int pageSize, CacheEntryTable& table);

}  // namespace lumbra
