#include "logstore/path_helpers.h"

#include <cstdio>
#include <cstring>

namespace lumbra {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasDriveLetter(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

std::size_t FindNoCase(std::string_view text, std::string_view needle) {
  if (text.size() > kFindNoCaseMax || needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < needle.size() && Lower(text[i + k]) == needle[k]) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

int StatPath(std::string_view path, platform::FileStatus& status) {
  status = {};
  if (path.size() > kStatPathMax) return -1;
  std::string copy(path);
  if (copy.size() > 3 && copy.back() == '/') copy.pop_back();
  status = platform::GetStatus(copy);
  return status.exists() ? 0 : -1;
}

bool PathExists(std::string_view path) {
  platform::FileStatus status;
  return StatPath(path, status) == 0;
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

void MakeDirectories(std::string_view filePath) {
  if (PathExists(filePath)) return;
  PathParts parts = SplitPath(filePath);
  std::string dir = parts.drive + parts.dir;
  // Cut before the k-th '/' for k = 2..99: the first prefix (the root) is never made.
  int seen = 0;
  for (std::size_t i = 0; i < dir.size(); ++i) {
    if (!IsSeparator(dir[i])) continue;
    ++seen;
    if (seen < 2) continue;
    if (seen > 99) break;
    platform::MakeDirectory(dir.substr(0, i));
  }
}

bool CopyReplace(const std::string& target, const std::string& source) {
  if (platform::IsReadOnly(target)) return false;
  std::FILE* in = std::fopen(source.c_str(), "rb");
  if (in == nullptr) return false;
  platform::AtomicFileWriter writer;
  bool ok = writer.Open(target);
  char buffer[65536];
  while (ok) {
    std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
    if (n == 0) break;
    ok = writer.Write(std::string_view(buffer, n));
  }
  if (std::ferror(in)) ok = false;
  std::fclose(in);
  return ok && writer.Commit(platform::NormalFileMode());
}

bool SameFileContent(const std::string& pathA, const std::string& pathB) {
  std::FILE* a = std::fopen(pathA.c_str(), "rb");
  if (a == nullptr) return false;
  std::FILE* b = std::fopen(pathB.c_str(), "rb");
  if (b == nullptr) {
    std::fclose(a);
    return false;
  }
  bool same = true;
  char blockA[4096];
  char blockB[4096];
  for (;;) {
    std::size_t n = std::fread(blockA, 1, sizeof blockA, a);
    if (n == 0) break;
    if (std::fread(blockB, 1, n, b) != n || std::memcmp(blockA, blockB, n) != 0) {
      same = false;
      break;
    }
  }
  std::fclose(a);
  std::fclose(b);
  return same;
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
