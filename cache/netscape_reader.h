// The reader of the Netscape Navigator cache index fat.db, a hash database of fixed-size
// pages. It does not follow the database's own structure: it walks every page after the first
// and decodes each key/data pair of the page's offset table as a cache entry. Numbers are
// little-endian and signed; offsets in bytes.
//
// File: pages of P bytes (4,096 or 16,384). The first page (the database's header) is not
// walked; pages are read at P, 2P, ... below the file length.
//   4096  2   page-size probe: not 0 means P = 4,096 whatever was asked (it is then the
//             entry count of the first bucket page); 0 keeps the caller's P
//
// Page, from its start J:
//   0     2        n, entries of the offset table; the page is used only when 1 <= n <= 1,000
//   2     4*(n/2)  n/2 pairs of 16-bit offsets from J: key offset, data offset. A pair with an
//                  offset of 0 or above 16,384 is passed over (the link to an overflow page
//                  has the data offset 0); so is a key that begins with "INT". A pair too
//                  large for one page lives on overflow pages behind marker offsets (1 to 3),
//                  which are read like any offset: an entry with a URL of some thousand bytes
//                  may lie there, and is then not read (the damaged-entry messages say so).
//
// Key, read one field after the other from J + key offset:
//   0     4    key size, this field included
//   4     4    URL length L, at most 8,193 (kCacheUrlMax and its NUL)
//   8     L    URL, text
//   8+L   4    unknown
//   12+L  R    rest, R = key size - 12 - L, 0 <= R <= 1,024; unknown
//
// Data record, read one field after the other from J + data offset:
//   0     4    record size, this field included
//   4     4    unknown (N1)
//   8     4    time1 (debug dump only)
//   12    4    time2 (debug dump only)
//   16    4    unknown (N4)
//   20    4    mem (debug dump only)
//   24    4    N5 (debug dump only)
//   28    1    unknown (c)
//   29    4    name length M, at most 512
//   33    M    name of the cached file relative to the cache directory, text
//   ...   28   N1 to N7, unknown
//   ...   4    N8, unknown; present only when N7 is 0
//   ...   1    unknown (c)
//   ...   4    content-type length T, at most 512
//   ...   T    content type, text
//   ...   12   N1, N2 unknown; N3 (debug dump only)
//   ...   R    rest, R = record size - every byte above, 0 <= R <= 1,024; unknown
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "cache/cache_layout.h"
#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

// Decodes an index held in memory with pages of `pageSize` bytes (4,096 instead when the
// 16-bit number at offset 4,096 is not 0) and appends one row per entry that is whole: url
// (whole), cacheFile (the file name, relative to the cache directory) and
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

// The index files of a Netscape cache: fat.db, and on Unix index.db, the same database.
inline constexpr std::string_view kNetscapeIndex = "/fat.db";
inline constexpr std::string_view kNetscapeUnixIndex = "/index.db";

// The layout of a Netscape cache whose index is `indexName` (kNetscapeIndex or
// kNetscapeUnixIndex). Its index is read from a private copy with 16,384-byte pages and, when
// that gives fewer than half as many rows as the cache directory holds files, again with
// 4,096-byte pages.
std::unique_ptr<CacheLayout> NetscapeLayout(std::string_view indexName);

}  // namespace lumbra
