#include "platform/path_helpers.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

namespace lumbra {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasDriveLetter(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

namespace {

// The name StatPath asks about: one trailing '/' dropped from a path longer than 3
// characters; nullopt for a path longer than kStatPathMax, which does not exist.
std::optional<std::string_view> StatName(std::string_view path) {
  if (path.size() > kStatPathMax) return std::nullopt;
  if (path.size() > 3 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

int StatPath(std::string_view path, platform::FileStatus& status) {
  status = {};
  std::optional<std::string_view> name = StatName(path);
  if (!name) return -1;
  status = platform::GetStatus(std::string(*name));
  return status.exists() ? 0 : -1;
}

bool PathExists(std::string_view path) {
  platform::FileStatus status;
  return StatPath(path, status) == 0;
}

platform::EntryType TypeOfPath(std::string_view path, platform::PathTable* table) {
  using Kind = platform::PathTable::Kind;
  using Type = platform::EntryType;
  std::optional<std::string_view> name = StatName(path);
  if (!name) return Type::Missing;
  if (table != nullptr) {
    switch (table->KindOf(*name)) {
      case Kind::Missing:
        return Type::Missing;
      case Kind::File:
        return Type::Regular;
      case Kind::Directory:
        return Type::Directory;
      case Kind::Other:
        return Type::Other;
      case Kind::Link:
        break;  // where it leads is asked every time
    }
  }
  return platform::GetStatus(std::string(*name)).type;
}

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  if (HasDriveLetter(path)) {
    parts.drive = std::string(path.substr(0, 2));
    path.remove_prefix(2);
  }
  std::size_t lastSep = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) lastSep = i;
  }
  std::string_view file = path;
  if (lastSep != std::string_view::npos) {
    parts.dir = std::string(path.substr(0, lastSep + 1));
    file = path.substr(lastSep + 1);
  }
  std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) {
    parts.name = std::string(file);
  } else {
    parts.name = std::string(file.substr(0, dot));
    parts.ext = std::string(file.substr(dot));
  }
  return parts;
}

int CheckPath(std::string_view path) {
  PathParts parts = SplitPath(path);
  // No drive letters here: a typed "c:" names a drive that does not exist.
  if (!parts.drive.empty()) return kDriveMissing;
  if (!PathExists("/")) return kDriveMissing;
  if (!parts.dir.empty() && !PathExists(parts.dir)) return kDirectoryMissing;
  if (!parts.name.empty() || !parts.ext.empty()) {
    if (!PathExists(path)) return kFileMissing;
  }
  return kPathOk;
}

bool MakeDirectories(std::string_view filePath, std::string_view realBelow,
                     platform::PathTable* table) {
  using Kind = platform::PathTable::Kind;
  if (TypeOfPath(filePath, table) != platform::EntryType::Missing) return true;
  platform::PathTable once;
  platform::PathTable& kinds = table != nullptr ? *table : once;
  PathParts parts = SplitPath(filePath);
  std::string dir = parts.drive + parts.dir;
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
    Kind kind = kinds.KindOf(level);
    if (!realBelow.empty() && level.size() > realBelow.size() && level.starts_with(realBelow) &&
        kind == Kind::Link) {
      return false;
    }
    if (kind != Kind::Missing) continue;
    if (platform::MakeDirectory(level)) {
      kinds.RememberNewDirectory(level);
    } else {
      kinds.Forget(level);  // made by someone else meanwhile, or not at all: asked again
    }
  }
  return parts.dir.empty() || TypeOfPath(dir, table) != platform::EntryType::Missing;
}

namespace {

bool CopyInto(const std::string& target, platform::ReadableFile& source, int* error,
              const platform::FileStatus* targetStatus) {
  int cause = EACCES;  // a read-only target
  bool ok = targetStatus != nullptr ? !platform::IsReadOnly(*targetStatus)
                                    : !platform::IsReadOnly(target);
  platform::AtomicFileWriter writer;
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
  ok = ok && writer.Commit(platform::NormalFileMode());
  if (!ok && error != nullptr) *error = writer.error() != 0 ? writer.error() : cause;
  return ok;
}

}  // namespace

bool CopyReplace(const std::string& target, const std::string& source) {
  platform::ReadableFile in;
  if (in.Open(source, platform::FollowLinks::Yes) != platform::OpenError::None) return false;
  return CopyInto(target, in, nullptr, nullptr);
}

bool CopyReplace(const std::string& target, platform::ReadableFile& source, int* error,
                 const platform::FileStatus* targetStatus) {
  return source.isOpen() && CopyInto(target, source, error, targetStatus);
}

bool SameFileContent(const std::string& pathA, const std::string& pathB) {
  platform::ReadableFile a;
  platform::ReadableFile b;
  if (a.Open(pathA, platform::FollowLinks::Yes) != platform::OpenError::None ||
      b.Open(pathB, platform::FollowLinks::Yes) != platform::OpenError::None) {
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

int CountFiles(const std::string& dir) {
  auto names = platform::ListDirectory(dir);
  if (!names) return 0;
  std::string prefix = dir;
  if (prefix.empty() || !IsSeparator(prefix.back())) prefix += '/';
  int count = 0;
  for (const std::string& name : *names) {
    if (platform::GetStatus(prefix + name).isRegular()) ++count;
  }
  return count;
}

}  // namespace lumbra
