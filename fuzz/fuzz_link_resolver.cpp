// Links and cache URLs come from outside: whatever they hold, a mapped cache entry stays
// inside its tree, a resolved link never names a file above it, and the relative link to any
// path reads back, from its page's directory, as that path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "logstore/log_path.h"
#include "platform/path_table.h"
#include "platform/paths.h"
#include "rebuild/link_resolver.h"

namespace {

bool HasParentSegment(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    if (segment == ".." || segment == ".") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  lumbra::JobContext ctx;
  ctx.logDir[0] = "/nonexistent-lumbra/a/log";
  ctx.logDir[2] = "/nonexistent-lumbra/c/log";

  lumbra::platform::PathTable paths;
  lumbra::LogPath out;
  if (lumbra::MapEntryToLogPath(ctx, paths, input, out)) {
    std::string_view local = out.localPath;
    std::string prefix = out.treeRoot + "/";
    if (!local.starts_with(prefix) || HasParentSegment(local.substr(prefix.size())) ||
        local.substr(prefix.size()).starts_with("/") || !out.hostDir.starts_with(prefix)) {
      std::abort();
    }
  }

  std::string link(input);
  bool counter = false;
  const std::string& root = ctx.logDir[0];
  const std::string page = root + "/host/dir/page.html";
  const std::string host = root + "/host";
  const std::string dir = root + "/host/dir/";
  const lumbra::PageLocation where{root, page, host, dir};
  if (lumbra::ResolveLink(ctx, paths, where, link, lumbra::LinkKind::Src, &counter) != 0) {
    std::abort();  // nothing exists below these roots
  }
  // A job's kept answers are the resolver's, the first time and when given again.
  lumbra::LinkAnswers answers;
  for (int round = 0; round < 2; ++round) {
    std::string kept(input);
    bool keptCounter = false;
    if (answers.Resolve(ctx, paths, where, kept, lumbra::LinkKind::Src, &keptCounter) != 0 ||
        kept != link || keptCounter != counter) {
      std::abort();
    }
  }
  const std::string target = "/" + std::string(input);
  const std::string relative = lumbra::platform::RelativeUrl(dir, target);
  const std::string_view first = std::string_view(relative).substr(0, relative.find('/'));
  if (lumbra::platform::CleanAbsolutePath(dir + relative) !=
          lumbra::platform::CleanAbsolutePath(target) ||
      first.find(':') != std::string_view::npos || relative.starts_with('#') ||
      relative.starts_with('?')) {
    std::abort();
  }
  lumbra::ResolveDotSegments(input);
  lumbra::HasDocumentExtension(input);
  return 0;
}
