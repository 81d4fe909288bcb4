#include "core/log_tree.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "core/ascii.h"

namespace lumbra {

namespace {
constexpr std::size_t npos = std::string_view::npos;
}  // namespace

std::size_t FindLogMarker(std::string_view path) { return FindNoCase(path, kLogMarker); }

std::size_t LogMarkerSlash(std::string_view path) {
  std::size_t at = FindLogMarker(path);
  return at == npos ? npos : at + kLogMarker.size() - 1;
}

std::optional<std::string_view> AfterLogMarker(std::string_view path) {
  std::size_t at = FindLogMarker(path);
  if (at == npos) return std::nullopt;
  return path.substr(at + kLogMarker.size());
}

std::string TreeRootOf(std::string_view dir) {
  std::size_t slash = LogMarkerSlash(dir);
  return std::string(slash == npos ? dir : dir.substr(0, slash));
}

std::string HostDirOf(std::string_view pageDir) {
  std::size_t slash = LogMarkerSlash(pageDir);
  if (slash == npos) {
    std::string dir(pageDir);
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
  }
  std::size_t hostStart = slash + 1;
  std::size_t hostEnd = pageDir.find('/', hostStart);
  if (hostEnd == npos) hostEnd = pageDir.size();
  if (hostEnd == hostStart) hostEnd = slash;  // a page directly in the tree root
  return std::string(pageDir.substr(0, hostEnd));
}

std::string TreeRelativePart(std::string_view path, std::string_view treeRoot) {
  // Below the tree root the rest is exact; a first "log/" search would stop inside a URL path
  // such as /catalog/ and lose the host.
  if (!treeRoot.empty() && path.size() > treeRoot.size() && path.starts_with(treeRoot) &&
      path[treeRoot.size()] == '/') {
    return std::string(path.substr(treeRoot.size() + 1));
  }
  std::optional<std::string_view> after = AfterLogMarker(path);
  if (!after) return std::string(path);
  return std::string(AfterLogMarker(*after).value_or(*after));
}

namespace {

constexpr std::size_t kHashDigits = 16;
constexpr std::size_t kExtensionMax = 16;

std::uint64_t Fnv1a(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string ShortName(std::string_view name) {
  std::string_view extension;
  if (std::size_t dot = name.rfind('.');
      dot != npos && name.size() - dot >= 2 && name.size() - dot <= kExtensionMax) {
    extension = name.substr(dot);
  }
  std::size_t keep = kNameMax - 1 - kHashDigits - extension.size();
  // A UTF-8 character is never cut: continuation bytes (10xxxxxx) go with their lead byte.
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  char hash[kHashDigits + 1];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(name)));
  std::string shortName(name.substr(0, keep));
  shortName += '~';
  shortName += hash;
  shortName += extension;
  return shortName;
}

}  // namespace

bool NeedsShortNames(std::string_view path) {
  if (path.size() <= kNameMax) return false;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == npos) end = path.size();
    if (end - start > kNameMax) return true;
    start = end + 1;
  }
  return false;
}

std::string ShortNames(std::string_view path) {
  if (!NeedsShortNames(path)) return std::string(path);
  std::string result;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find('/', start);
    std::string_view component = path.substr(start, end == npos ? npos : end - start);
    result += component.size() > kNameMax ? ShortName(component) : std::string(component);
    if (end == npos) break;
    result += '/';
    start = end + 1;
  }
  return result;
}

std::optional<std::string> HostOfLogPath(std::string_view typed) {
  std::string path(typed);
  std::replace(path.begin(), path.end(), '\\', '/');
  std::optional<std::string_view> after = AfterLogMarker(path);
  if (!after) return std::nullopt;
  return std::string(after->substr(0, after->find('/')));
}

}  // namespace lumbra
