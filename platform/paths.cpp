#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

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

namespace {

bool CopyInto(const std::string& target, ReadableFile& source, int* error,
              const FileStatus* targetStatus) {
  int cause = EACCES;  // a read-only target
  bool ok = targetStatus != nullptr ? !IsReadOnly(*targetStatus) : !IsReadOnly(target);
  AtomicFileWriter writer;
  ok = ok && writer.Open(target);
  // From the start, however much of the source was read before.
  char buffer[65536];
  std::uint64_t at = 0;
  while (ok) {
    long n = source.ReadAt(buffer, sizeof buffer, at);
    if (n <= 0) {
      ok = n == 0;
      if (!ok) cause = errno;
      break;
    }
    at += static_cast<std::uint64_t>(n);
    ok = writer.Write(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  ok = ok && writer.Commit(NormalFileMode());
  if (!ok && error != nullptr) *error = writer.error() != 0 ? writer.error() : cause;
  return ok;
}

}  // namespace

bool CopyReplace(const std::string& target, const std::string& source) {
  ReadableFile in;
  if (in.Open(source, FollowLinks::Yes) != OpenError::None) return false;
  return CopyInto(target, in, nullptr, nullptr);
}

bool CopyReplace(const std::string& target, ReadableFile& source, int* error,
                 const FileStatus* targetStatus) {
  return source.isOpen() && CopyInto(target, source, error, targetStatus);
}

bool SameFileContent(const std::string& pathA, const std::string& pathB) {
  ReadableFile a;
  ReadableFile b;
  if (a.Open(pathA, FollowLinks::Yes) != OpenError::None ||
      b.Open(pathB, FollowLinks::Yes) != OpenError::None) {
    return false;
  }
  char blockA[4096];
  char blockB[4096];
  for (;;) {
    long n = a.Read(blockA, sizeof blockA);
    if (n < 0) return false;
    if (n == 0) return true;
    // pathB must give as many bytes as pathA's block, whatever its reads return at a time.
    long got = 0;
    while (got < n) {
      long m = b.Read(blockB + got, static_cast<std::size_t>(n - got));
      if (m <= 0) return false;
      got += m;
    }
    if (std::memcmp(blockA, blockB, static_cast<std::size_t>(n)) != 0) return false;
  }
}

std::string FileUrl(std::string_view absolutePath) {
  std::string url = "file://";
  if (absolutePath.empty() || absolutePath.front() != '/') url += '/';
  url += absolutePath;
  return url;
}

}  // namespace lumbra::platform
