// How the system names paths and asks about them. Paths use '/'; where a rule takes '\' for a
// separator too (a path typed for Windows, a name from a cache index) it says so. There is no
// drive letter on this platform: a path typed with one ("c:\x") names a drive that does not
// exist, and the root of every path is "/".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace lumbra::platform {

class PathTable;

// Longer paths name nothing: the file system takes paths up to this many bytes.
inline constexpr std::size_t kStatPathMax = 4095;

// The name the system asks the file system about for `path`: one trailing '/' dropped from
// a path longer than three characters; nullopt for a path longer than kStatPathMax.
std::optional<std::string_view> StatName(std::string_view path);
// The status of the entry `path` names (links followed), asked by its StatName; Missing when
// there is none or the path is too long to name one.
FileStatus StatPath(std::string_view path);

// Whether a path typed for Windows begins with a drive letter and ':'.
bool HasDriveLetter(std::string_view path);

// The parts of a path: either '/' or '\' separates; a leading drive letter and ':' is part of
// dir. dir ends in a separator when not empty; ext starts at the last '.' of the last
// component.
struct PathParts {
  std::string dir, name, ext;
};
PathParts SplitPath(std::string_view path);

// What CheckPath finds missing first.
enum class PathCheck { Ok, DriveMissing, DirectoryMissing, FileMissing };
// Tests the root, then the directory part, then (when the path has a file-name part) the
// whole path; the first missing one decides. A path with a drive letter answers DriveMissing.
PathCheck CheckPath(std::string_view path);

// Creates every missing directory along the directory part of `filePath` (which ends in '/'
// for a path naming a directory); existing ones are left alone, and the root is never made.
// `table` answers for what it knows and learns what is made. With `realBelow` (a LogTree
// root) nothing is created through a symbolic link below that root. True when the directory
// part now exists.
bool MakeDirectories(std::string_view filePath, PathTable& table, std::string_view realBelow = {});
// The same for the start checks, which have no job yet: the disk is asked.
bool MakeDirectories(std::string_view filePath);
// Makes the directory `dir` with every missing level above it, for a start check that must
// say why it failed: 0 when `dir` is now a directory, else the errno of the call that failed
// (ENOTDIR when a file stands in its place).
int MakeDirectoryPath(const std::string& dir);
// The errno of stat on `path`, 0 when it names an entry.
int StatError(const std::string& path);

// The local link to a file: "file://" followed by the absolute path, so that it reads
// file:///home/user/save/log/host/page.html (three slashes, as a browser expects).
std::string FileUrl(std::string_view absolutePath);

// An absolute path with its "." and ".." segments and empty segments taken out, as a browser
// reads the path of a file:// URL ("/a/b/../c" is "/a/c"; ".." at the root stays at the root).
// A trailing '/' stays.
std::string CleanAbsolutePath(std::string_view absolutePath);

// The relative link from a page in the directory `fromDir` to the file or directory `target`
// (both absolute; a target ending in '/' is a directory and its link ends in '/'): "../" for
// every level up, then the rest of the target's path, not escaped (as FileUrl does not
// escape). A link whose first segment a browser would read otherwise (a ':' would make it a
// scheme, a leading '#' or '?' a fragment or a query) starts with "./"; so does the link to
// `fromDir` itself.
std::string RelativeUrl(std::string_view fromDir, std::string_view target);

}  // namespace lumbra::platform
