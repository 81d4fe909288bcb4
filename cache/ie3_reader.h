// The reader of the Internet Explorer 3.0 cache: every cache<d> subdirectory (d = 1 to 19)
// keeps index files mm256.dat, mm2048.dat and mm4096.dat of records of 256, 2,048 and 4,096
// bytes. R, the record size, is 256, 2,048 or 4,096 by the file's name.
//
// File:
//   0        256   header; its first line names the version; not read here
//   S        R     the first record
//   S + k*R  R     the following records, up to the last one that lies whole in the file
//
// S is found by a search for the text "http": windows of 288 bytes are taken at file
// offsets 256, 512, 768, ..., and in each the positions 0 to 271 are tested in order; the
// first position where "http" begins is S. A last window shorter than 288 bytes is searched
// over the bytes it has, so that a file holding one record after its header is read too. A
// file without "http" there has no records.
//
// Record, from its start:
//   0       text   the URL, up to its NUL; the record is read only when it begins with
//                  "http" or "ftp"
//   after   text   the name of the cached file in cache<d>, directly after the URL's NUL, up
//                  to its NUL
//   after   text   the stored response header lines, each ended by "\r\n", directly after
//                  the name's NUL, up to a NUL; the content type is the value of the first
//                  "Content-Type:" line (any case) that starts less than 256 bytes in
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cache/cache_layout.h"
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

// Which caches with a cache1/mm256.dat a layout takes: those whose first line names version
// 3.0, or the others. Version 3.0 keeps the URL of a page without an extension as a directory.
enum class Explorer3Version { V30, Other };

// The layout of an Internet Explorer 3 cache of `version` (marker "/cache1/mm256.dat").
std::unique_ptr<CacheLayout> Explorer3Layout(Explorer3Version version);

}  // namespace lumbra
