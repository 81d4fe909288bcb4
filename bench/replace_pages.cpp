// The floor under a rebuild whose every page changes: each page of a tree (a file whose name
// ends in ".htm" or ".html") read whole and replaced the way a rebuild replaces it (a
// temporary file beside it, given its mode and renamed over it), with nothing rewritten and
// no link looked up. What this takes is the file system's price of replacing the pages
// safely; the rebuild's work beyond it is Lumbra's own.
//   replace_pages DIR
// Prints one line: the seconds taken and the number of pages replaced. Exits 1 when a page
// could not be read or replaced.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace {

bool IsPage(std::string_view name) { return name.ends_with(".htm") || name.ends_with(".html"); }

// Depth first, into real directories only, as the rebuild walks.
bool ReplaceBelow(const std::string& dir, long& pages) {
  auto names = lumbra::platform::ListDirectory(dir);
  if (!names) return false;
  for (const std::string& name : *names) {
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    lumbra::platform::FileStatus status = lumbra::platform::GetLinkStatus(path);
    if (status.isDirectory()) {
      if (!ReplaceBelow(path, pages)) return false;
      continue;
    }
    if (!status.isRegular() || !IsPage(name)) continue;
    lumbra::platform::ReadableFile page;
    std::string content;
    if (page.Open(path, lumbra::platform::FollowLinks::No) != lumbra::platform::OpenError::None ||
        !page.ReadAll(content) ||
        !lumbra::platform::ReplaceFileContent(path, content, status.mode & 07777)) {
      std::fprintf(stderr, "replace_pages: %s failed\n", path.c_str());
      return false;
    }
    ++pages;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: replace_pages DIR\n");
    return 2;
  }
  long pages = 0;
  auto start = std::chrono::steady_clock::now();
  bool ok = ReplaceBelow(argv[1], pages);
  auto end = std::chrono::steady_clock::now();
  std::printf("%.6f %ld\n", std::chrono::duration<double>(end - start).count(), pages);
  return ok ? 0 : 1;
}
