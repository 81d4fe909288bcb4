// The small path and file operations that every subsystem leans on. None of them reports
// anything to the user; each answers with a value. Paths use '/'; on this platform there is
// no drive letter, so the drive part of a path is empty and the drive root is "/".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "platform/path_table.h"

namespace lumbra {

inline constexpr std::size_t kStatPathMax = 999;       // longer paths do not exist

// Status of a path after removing one trailing '/' from a path longer than 3 characters.
// Returns -1 when the entry does not exist (or the path is longer than kStatPathMax), 0
// otherwise; `status` is filled in either case.
int StatPath(std::string_view path, platform::FileStatus& status);
// Whether StatPath finds the entry.
bool PathExists(std::string_view path);
// The type of the entry StatPath finds (links followed), answered by the job's `table`
// when one is given; Missing when there is none.
platform::EntryType TypeOfPath(std::string_view path, platform::PathTable* table);

// The parts of a path, split as _splitpath does: either '/' or '\' separates. The drive is a
// leading letter and ':' (a path typed for Windows); dir ends in a separator when not empty;
// ext starts at the last '.' of the last component.
struct PathParts {
  std::string drive, dir, name, ext;
};
PathParts SplitPath(std::string_view path);

// CheckPath results.
enum : int {
  kPathOk = 0,
  kDriveMissing = 1,
  kDirectoryMissing = 2,
  kFileMissing = 3,
};
// Tests the drive root, then drive + directory, then (when the path has a file-name part)
// the whole path; the first missing one decides. A path with a drive letter names a drive
// that does not exist on this platform, so it answers kDriveMissing.
int CheckPath(std::string_view path);

// Creates every missing directory along the directory part of `filePath` (which ends in '/'
// for a path naming a directory). Existing directories are left alone. With `realBelow` (a
// LogTree root) nothing is created through a symbolic link below that root. True when the
// directory part now exists. Only what is missing is made; the job's `table`, when given,
// answers for what it knows and learns what is made.
bool MakeDirectories(std::string_view filePath, std::string_view realBelow = {},
                     platform::PathTable* table = nullptr);

// Copies `source` onto `target` and gives the target the normal mode. The target is replaced
// safely: written to a temporary file beside it and renamed over it only when complete. A
// read-only target (no owner write bit) is not replaced, and only a regular file is read
// (see platform::ReadableFile). Returns true when the target now holds the source's bytes.
bool CopyReplace(const std::string& target, const std::string& source);
// The same from a file already open (read from its start). On failure `error`, when given,
// receives the errno of the cause.
// `targetStatus`, when given, is the target's status as the caller has just seen it (links
// followed), so it is not asked again.
bool CopyReplace(const std::string& target, platform::ReadableFile& source, int* error = nullptr,
                 const platform::FileStatus* targetStatus = nullptr);

// True when both files are regular files that can be read and pathB's bytes equal pathA's
// over the length of pathA (callers compare the sizes first).
bool SameFileContent(const std::string& pathA, const std::string& pathB);

// The local link to a file: "file://" followed by the absolute path, so that it reads
// file:///home/user/save/log/host/page.html (three slashes, as a browser expects).
std::string FileUrl(std::string_view absolutePath);

// The number of regular files directly in `dir`; 0 when it cannot be listed.
int CountFiles(const std::string& dir);

}  // namespace lumbra
