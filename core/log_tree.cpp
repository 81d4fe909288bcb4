#include "core/log_tree.h"

#include <algorithm>

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

std::optional<std::string> HostOfLogPath(std::string_view typed) {
  std::string path(typed);
  std::replace(path.begin(), path.end(), '\\', '/');
  std::optional<std::string_view> after = AfterLogMarker(path);
  if (!after) return std::nullopt;
  return std::string(after->substr(0, after->find('/')));
}

}  // namespace lumbra
