// The reader of the Internet Explorer 4.0 cache index index.dat. It follows no index
// structure inside the file: it takes the cache subdirectory names from the header and scans
// the whole file in 128-byte steps for URL records. Numbers are little-endian; offsets in
// bytes.
//
// Header, at file offset 0:
//   0     NUL-terminated  signature "Client UrlCache MMF Ver 4.7" or "... Ver 4.6"; a file
//                         that begins with kExplorer5Signature is read by ie5_reader.h
//   72    1024            directory table of version 4.7 (ie_directory_table.h)
//   80    1024            directory table of version 4.6
//   1024  1024            directory table for any other signature, after the first 1,024
//                         bytes; a file shorter than 2,048 bytes has none
//   The table is used only when all of its 1,024 bytes lie inside the file.
//
// URL record, at any file offset that is a multiple of 128 and holds "URL "; 512 bytes are
// taken from there, and a record with fewer than 512 bytes left in the file is not read:
//   0     4    "URL "
//   4     100  25 four-byte fields; only the low byte of each is taken, signed. The one at
//              offset 60 is the index of the subdirectory holding the cached file; the others
//              are unknown and go only to the debug dump.
//   104   text the URL, up to its NUL; NUL bytes follow
//   ...   text the cached file's name, at the first file offset that is a multiple of 4 at or
//              after the end of those NULs, up to its NUL; NUL bytes follow
//   ...   text the stored HTTP response header lines, each ended by "\r\n"
#pragma once

#include <string>
#include <string_view>

#include "cache/cache_layout.h"
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

// The layout of an Internet Explorer 4 to 9 cache (marker "/index.dat"), whose index is read
// from a private copy.
std::unique_ptr<CacheLayout> Explorer4Layout();

}  // namespace lumbra
