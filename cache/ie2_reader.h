// The reader of the Internet Explorer 2.0 cache list iexplore.cif: a text file with one
// comma-separated line per cached file. How the fields of a record line are walked, and what
// drops a line, is described in ie2_reader.cpp.
//
// Lines: CR LF counts as one LF. The file is taken in pieces that end after an LF or at 4,999
// characters, whichever comes first, and every piece counts as a line of its own: the rest of
// a longer line is read as a record when it begins with 'F', and a line of exactly 4,999
// characters leaves its LF as an empty line. Every line of the file is looked at.
//
// Record line: a line whose first character is 'F'; every other line is passed over. Its
// fields are separated by ',' and counted from 1:
//   1       record type, from the 'F' up to the first comma
//   2       URL                                              -> url
//   3       unknown, passed over; may be empty
//   4 - 9   unknown, passed over
//   10      content type                                     -> contentType, cut at 150
//   11      name of the cached file, relative to the cache directory, followed by a comma
//                                                            -> cacheFile
//   12 ...  not read
#pragma once

#include <string>
#include <string_view>

#include "cache/cache_layout.h"
#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

// Decodes a cache list held in memory and appends one row per record line that has all its
// fields: url, cacheFile (relative to the cache directory) and contentType; status is left
// alone. When `dump` is not null the debug-dump line of every row is appended to it ('\n'
// line ends, values as they came).
void ParseExplorer2Index(std::string_view bytes, CacheEntryTable& table, std::string* dump);

// Reads the cache list `indexFile` (the private copy ReadCacheIndex made) into `table`. A
// file that cannot be read is passed over without a message. It writes its start line to
// the execution log; with `debugDump` on it then creates fat.txt in the start directory and
// returns without reading when it cannot.
void ReadExplorer2Cache(const JobContext& ctx, Frontend& frontend, bool debugDump,
                        const std::string& indexFile, CacheEntryTable& table);

// The layout of an Internet Explorer 2 cache (marker "/iexplore.cif"), whose list is read
// from a private copy.
std::unique_ptr<CacheLayout> Explorer2Layout();

}  // namespace lumbra
