// The road of a cache entry from outside input to disk: the name and URL a reader gives
// become the absolute cached file (ReadCacheIndex) and the log path (MapEntryToLogPath).
// Whatever they hold, the cached file that is opened lies below the cache directory, and the
// log path below its tree.
//
// Input: the reader's file name up to the first '\n', then the URL; NUL bytes are part of
// the fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "cache/cache_index.h"
#include "logstore/log_path.h"
#include "platform/fs.h"

namespace {

// A cache of real files, and a file outside it that a hostile name would reach.
struct Cache {
  lumbra::platform::TempDirectory dir{"lumbra-fuzz-cache"};
  std::string root;
  std::string realRoot;
  Cache() {
    root = dir.path() + "/cache";
    ::mkdir(root.c_str(), 0777);
    ::mkdir((root + "/SUB").c_str(), 0777);
    lumbra::platform::ReplaceFileContent(root + "/SUB/a.htm", "a", 0644);
    lumbra::platform::ReplaceFileContent(root + "/b.gif", "b", 0644);
    lumbra::platform::ReplaceFileContent(dir.path() + "/secret", "s", 0644);
    ::symlink((dir.path() + "/secret").c_str(), (root + "/SUB/link.htm").c_str());
    ::symlink(dir.path().c_str(), (root + "/UP").c_str());
    char resolved[4096];
    if (::realpath(root.c_str(), resolved) != nullptr) realRoot = resolved;
  }
};

// The file an open descriptor really names.
std::string OpenedPath(int fd) {
  char target[4096];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Cache cache;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t cut = input.find('\n');
  std::string_view name = input.substr(0, cut);
  std::string_view url = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  lumbra::CacheEntry entry{std::string(name), std::string(url), "text/html", 0};
  lumbra::NormaliseCacheEntry(entry, cache.root, lumbra::PageWithoutExtension::File);
  lumbra::platform::ReadableFile file;
  if (lumbra::OpenCachedFile(cache.root, entry.cacheFile, file) ==
      lumbra::platform::OpenError::None) {
    std::string opened = OpenedPath(file.fd());
    if (!opened.starts_with(cache.realRoot + "/")) std::abort();
  }

  lumbra::JobContext ctx;
  ctx.logDir[0] = "/nonexistent-lumbra/a/log";
  lumbra::platform::PathTable paths;
  lumbra::LogPath where;
  if (lumbra::MapEntryToLogPath(ctx, paths, entry.url, where)) {
    std::string_view rest = std::string_view(where.localPath).substr(ctx.logDir[0].size());
    if (!where.localPath.starts_with(ctx.logDir[0] + "/") || rest.find("/../") != rest.npos ||
        rest.ends_with("/..") || rest.find('\0') != rest.npos) {
      std::abort();
    }
  }
  return 0;
}
