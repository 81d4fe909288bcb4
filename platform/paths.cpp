#include "platform/paths.h"

#include <cerrno>
#include <optional>
#include <vector>

#include <sys/stat.h>

#include "platform/path_table.h"

namespace lumbra::platform {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::optional<std::string_view> StatName(std::string_view path) {
  if (path.size() > kStatPathMax) return std::nullopt;
  if (path.size() > 3 && path.back() == '/') path.remove_suffix(1);
  return path;
}

FileStatus StatPath(std::string_view path) {
  std::optional<std::string_view> name = StatName(path);
  return name ? GetStatus(std::string(*name)) : FileStatus{};
}

bool HasDriveLetter(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  std::size_t lastSep = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) lastSep = i;
  }
  // A drive letter without a separator after it ("c:x") still belongs to the directory.
  std::size_t fileStart = lastSep != std::string_view::npos ? lastSep + 1
                          : HasDriveLetter(path)            ? 2
                                                            : 0;
  parts.dir = std::string(path.substr(0, fileStart));
  std::string_view file = path.substr(fileStart);
  std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) {
    parts.name = std::string(file);
  } else {
    parts.name = std::string(file.substr(0, dot));
    parts.ext = std::string(file.substr(dot));
  }
  return parts;
}

PathCheck CheckPath(std::string_view path) {
  // No drive letters here: a typed "c:" names a drive that does not exist.
  if (HasDriveLetter(path) || !StatPath("/").exists()) return PathCheck::DriveMissing;
  PathParts parts = SplitPath(path);
  if (!parts.dir.empty() && !StatPath(parts.dir).exists()) return PathCheck::DirectoryMissing;
  if ((!parts.name.empty() || !parts.ext.empty()) && !StatPath(path).exists()) {
    return PathCheck::FileMissing;
  }
  return PathCheck::Ok;
}

bool MakeDirectories(std::string_view filePath, PathTable& table, std::string_view realBelow) {
  using Kind = PathTable::Kind;
  if (table.TypeOf(filePath) != EntryType::Missing) return true;
  const std::string dir = SplitPath(filePath).dir;
  // Cut before the k-th '/' for k = 2..99: the first prefix (the root) is never made.
  int seen = 0;
  for (std::size_t i = 0; i < dir.size(); ++i) {
    if (!IsSeparator(dir[i])) continue;
    ++seen;
    if (seen < 2) continue;
    if (seen > 99) break;
    std::string level = dir.substr(0, i);
    // Below the given root only real directories are entered: a link met there ends the
    // work, so nothing is ever made in the place it points to.
    Kind kind = table.KindOf(level);
    if (!realBelow.empty() && level.size() > realBelow.size() && level.starts_with(realBelow) &&
        kind == Kind::Link) {
      return false;
    }
    if (kind != Kind::Missing) continue;
    if (MakeDirectory(level)) {
      table.RememberNewDirectory(level);
    } else {
      table.Forget(level);  // made by someone else meanwhile, or not at all: asked again
    }
  }
  return dir.empty() || table.TypeOf(dir) != EntryType::Missing;
}

bool MakeDirectories(std::string_view filePath) {
  PathTable table;
  return MakeDirectories(filePath, table);
}

int MakeDirectoryPath(const std::string& dir) {
  struct stat st;
  for (std::size_t i = 1; i <= dir.size(); ++i) {
    if (i < dir.size() && dir[i] != '/') continue;
    const std::string level = dir.substr(0, i);
    if (::stat(level.c_str(), &st) == 0) continue;
    if (errno != ENOENT) return errno;
    if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  }
  if (::stat(dir.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int StatError(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? 0 : errno;
}

std::string FileUrl(std::string_view absolutePath) {
  std::string url = "file://";
  if (absolutePath.empty() || absolutePath.front() != '/') url += '/';
  url += absolutePath;
  return url;
}

namespace {

// The segments of an absolute path after CleanAbsolutePath's rules.
std::vector<std::string_view> CleanSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  return segments;
}

}  // namespace

std::string CleanAbsolutePath(std::string_view absolutePath) {
  std::string path;
  for (std::string_view segment : CleanSegments(absolutePath)) {
    path += '/';
    path += segment;
  }
  if (path.empty() || (absolutePath.size() > 1 && absolutePath.back() == '/')) path += '/';
  return path;
}

std::string RelativeUrl(std::string_view fromDir, std::string_view target) {
  const std::vector<std::string_view> from = CleanSegments(fromDir);
  const std::vector<std::string_view> to = CleanSegments(target);
  const bool toDirectory = !target.empty() && target.back() == '/';
  // The target's own name is never a level to go down into from fromDir.
  const std::size_t toDirs = toDirectory ? to.size() : (to.empty() ? 0 : to.size() - 1);
  std::size_t common = 0;
  while (common < from.size() && common < toDirs && from[common] == to[common]) ++common;
  std::string link;
  for (std::size_t i = common; i < from.size(); ++i) link += "../";
  for (std::size_t i = common; i < to.size(); ++i) {
    link += to[i];
    if (i + 1 < to.size() || toDirectory) link += '/';
  }
  const std::string_view first = std::string_view(link).substr(0, link.find('/'));
  if (link.empty() || first.find(':') != std::string_view::npos || link.front() == '#' ||
      link.front() == '?') {
    link.insert(0, "./");
  }
  return link;
}

}  // namespace lumbra::platform
