// The copies the cache readers work on: an index file of the browser is copied into a
// private directory made for the read (never the start or the cache directory, which may be
// the same), read there, and removed, so the browser's own file is never held open.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/frontend.h"

namespace lumbra {

// Runs `read` on a copy of `indexFile` named `copyName` in a private directory made for this
// read, and removes the copy afterwards. An index that cannot be opened gives `read` a path
// that names no file, so the reader reports the index as in use. False, with the cause shown,
// when the index is a link or no regular file (a FIFO, a device), or when the copy itself
// cannot be made (no room in $TMPDIR, say; the directory is shown): `read` is not called then.
bool ReadFromPrivateCopy(Frontend& frontend, const std::string& indexFile,
                         std::string_view copyName,
                         const std::function<void(const std::string& copy)>& read);

// ReadFromPrivateCopy for the index file `indexName` ("/index.dat") of the cache in
// `cacheDir`; when there is no such entry (not even a dangling link) nothing is read, and the
// answer is true.
bool ReadIndexCopy(Frontend& frontend, const std::string& cacheDir, std::string_view indexName,
                   std::string_view copyName,
                   const std::function<void(const std::string& copy)>& read);

}  // namespace lumbra
