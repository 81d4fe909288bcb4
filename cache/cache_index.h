// Finding and reading the browser's cache index: ReadCacheIndex probes the cache directory
// for the index file of a cache layout (Netscape, on Windows or Unix; Internet Explorer 2.0,
// 3.0, 4.0 and 5 to 9), lets the matching reader fill the cache entry table, and brings every
// row into the form the log store expects.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"
#include "platform/fs.h"

namespace lumbra {

// The cache layout, by the index file found in the cache directory.
enum class CacheKind : int {
  None = 0,
  Netscape = 1,        // "/fat.db", or "/index.db" of Netscape on Unix
  Explorer30 = 2,      // "/cache1/mm256.dat" whose first line contains "3.0"
  Explorer2 = 3,       // "/iexplore.cif"
  Explorer3Other = 4,  // "/cache1/mm256.dat" whose first line does not contain "3.0"
  Explorer4 = 5,       // "/index.dat" (versions 4.7, 4.6 and 5.2)
};

// The index files, probed in this order; the first that can be opened for reading decides.
inline constexpr std::string_view kNetscapeIndex = "/fat.db";
inline constexpr std::string_view kExplorer3Index = "/cache1/mm256.dat";
inline constexpr std::string_view kExplorer4Index = "/index.dat";
inline constexpr std::string_view kExplorer2Index = "/iexplore.cif";
// Netscape on Unix keeps the same database under this name; probed after the four above.
inline constexpr std::string_view kNetscapeUnixIndex = "/index.db";
// Every index file, in the order of the probe (the start checks look for them the same way).
inline constexpr std::array<std::string_view, 5> kCacheIndexFiles = {
    kNetscapeIndex, kExplorer3Index, kExplorer4Index, kExplorer2Index, kNetscapeUnixIndex};

// The layout of the cache in `cacheDir` (a directory path without a trailing '/').
CacheKind DetectCacheKind(const std::string& cacheDir);

// Reads the cache index in `cacheDir` into `table`, which it empties first; a row repeated
// by the index is kept once, and the rows are then normalised by NormaliseCacheEntry. A
// Netscape index is read with 16,384-byte pages and, when that gives fewer than half as many
// rows as the cache directory holds files, again with 4,096-byte pages. The reader works on a copy
// of the index made in a private temporary directory, never in the start or the cache directory.
// While execLog is on, the reader writes the debug dump fat.txt and the end line goes to the
// execution log. False when that copy could not be made (no room in the temporary directory, say):
// the cause and the directory have been shown, and the table is empty.
bool ReadCacheIndex(const JobContext& ctx, Frontend& frontend, CacheEntryTable& table,
                    const std::string& cacheDir);

// The form the log store expects of a row read from a cache of `kind` in `cacheDir`: url and
// contentType cut to their limits, repeated slashes and '?', ':', '*' of the url turned into
// '-' from index 6 on, an extension added by content type, cacheFile made absolute (the
// drive dropped), status 0.
void NormaliseCacheEntry(CacheEntry& entry, const std::string& cacheDir, CacheKind kind);

// Whether the name of a cached file as a reader gives it stays below the cache directory:
// relative (no leading '/' or '\\'), no NUL, no "." or ".." segment between '/' or '\\'.
bool CacheNameStaysInside(std::string_view name);

// Opens the cached file of a row (cacheFile as ReadCacheIndex made it: `cacheDir` + "/" + the
// reader's name) for copying. Only a regular file below the cache directory is opened, and
// only through real directories: a name that leads outside (CacheNameStaysInside), a link, a
// FIFO or a device is refused with its reason; a vanished file is Missing.
platform::OpenError OpenCachedFile(const std::string& cacheDir, const std::string& cacheFile,
                                   platform::ReadableFile& file);
// The same through `cache` (rooted at the cache directory), which keeps the directory it
// reached last open for the next file.
platform::OpenError OpenCachedFile(platform::FilesBelow& cache, const std::string& cacheFile,
                                   platform::ReadableFile& file);

}  // namespace lumbra
