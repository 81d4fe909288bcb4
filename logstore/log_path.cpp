#include "logstore/log_path.h"

#include <algorithm>

#include "core/ascii.h"
#include "core/log_tree.h"
#include "platform/fs.h"

namespace lumbra {
namespace {

// Whether `rest` (a URL path that begins with the '/' before the host) stays inside the
// directory it is appended to: the host part is a real name, and no segment is "." or "..",
// which the file system would take as this or the parent directory. A NUL would cut the path
// at the system call, so that a harmless-looking "..x" could become "..".
bool StaysInsideTree(std::string_view rest) {
  // No host (an empty first segment) would put the file into the tree root itself.
  return rest.size() > 1 && rest[0] == '/' && rest[1] != '/' &&
         platform::NameStaysBelow(rest.substr(1));
}

// The '/' and host that begin `rest`, up to the next '/' (taken with it when `withSlash`);
// all of `rest` when there is none.
std::string_view HostPart(std::string_view rest, bool withSlash) {
  std::size_t slash = rest.find('/', 1);
  if (slash == std::string_view::npos) return rest;
  return rest.substr(0, withSlash ? slash + 1 : slash);
}

}  // namespace

bool MapEntryToLogPath(const JobContext& ctx, platform::PathTable& paths, std::string_view url,
                       LogPath& out) {
  out.localPath.clear();
  out.leadsOutside = false;
  std::string scheme = LowerAscii(url.substr(0, 10));
  std::size_t drop = 0;
  if (scheme.starts_with("https:")) {
    drop = 7;  // stored like http: one file serves both schemes
  } else if (scheme.starts_with("http") || scheme.starts_with("file")) {
    drop = 6;
  } else if (scheme.starts_with("ftp")) {
    drop = 5;
  } else if (scheme.starts_with("gopher")) {
    drop = 8;
  } else {
    return false;
  }
  std::string path(url.substr(std::min(drop, url.size())));
  // A browser reads a '\\' of a web address as a '/': "..\\" is a parent segment there too.
  if (scheme.starts_with("http")) std::replace(path.begin(), path.end(), '\\', '/');
  if (!StaysInsideTree(path)) {
    out.leadsOutside = true;
    return false;
  }
  const std::string rest = ShortNames(path);

  const std::string* chosen = nullptr;
  for (const std::string& root : ctx.logDir) {
    if (!root.empty()) chosen = &root;  // the last configured tree takes new hosts
  }
  if (chosen == nullptr) return false;  // no tree to store into
  const std::string_view hostKey = HostPart(rest, true);
  for (const std::string& root : ctx.logDir) {
    if (!root.empty() &&
        paths.TypeOf(root + std::string(hostKey)) == platform::EntryType::Directory) {
      chosen = &root;
      break;
    }
  }

  out.localPath = *chosen + rest;
  out.treeRoot = *chosen;
  out.hostDir = *chosen + std::string(HostPart(rest, false));
  return true;
}

}  // namespace lumbra
