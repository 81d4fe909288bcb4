// Reading a browser's cache into the entry table: the layout that holds the cache directory
// reads its entries, and every row is brought into the form the log store expects.
#pragma once

#include <string>
#include <string_view>

#include "cache/cache_layout.h"
#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"
#include "platform/fs.h"
#include "platform/language.h"

namespace lumbra {

// Reads the cache in `cacheDir` with `layout` (null: no layout holds it, and the table stays
// empty) into `table`, which it empties first; a row repeated by the index is kept once, and
// the rows are then normalised by NormaliseCacheEntry. The end line goes to the execution log.
// False when the layout could not copy its index for reading (no room in the temporary
// directory, say): the cause and the directory have been shown, and the table holds what was
// read before.
bool ReadCacheIndex(const JobContext& ctx, Frontend& frontend, const CacheLayout* layout,
                    CacheEntryTable& table, const std::string& cacheDir);

// The form the log store expects of a row read from the cache in `cacheDir`: contentType
// cut to its limit, repeated slashes and '?', ':', '*' of the url turned into
// '-' from index 6 on, an extension added by content type (a page without one as `pages`
// says), cacheFile made absolute (a drive letter dropped), status 0.
void NormaliseCacheEntry(CacheEntry& entry, const std::string& cacheDir,
                         PageWithoutExtension pages);

// Whether the name of a cached file as a reader gives it stays below the cache directory:
// relative (no leading '/' or '\\'), no NUL, no "." or ".." segment between '/' or '\\'.
bool CacheNameStaysInside(std::string_view name);

// Why a cached document is not read, for the execution log (`why` is not None or Missing);
// shown through platform::Tr.
std::string_view RefusalText(platform::OpenError why);

// The message of a cache index that cannot be read (the browser holds it, or it vanished).
inline constexpr const char* kCacheInUse = platform::TrLater("キャッシュファイルが使用中です");

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
