#include "logstore/excluded_hosts.h"

#include "core/ascii.h"
#include "core/log_tree.h"
#include "platform/text_file.h"

namespace lumbra {

bool IsExcludedHostDir(const ExcludedHosts& hosts, std::string_view hostDir) {
  if (hosts.empty()) return false;
  std::optional<std::string_view> host = AfterLogMarker(hostDir);
  return host && hosts.count(LowerAscii(*host)) > 0;
}

void LoadExcludedHosts(const JobContext& ctx, ExcludedHosts& hosts) {
  platform::TextReader reader;
  if (!reader.Open(ctx.StartFile(kExcludedHostsFile))) return;
  std::string line;
  while (reader.ReadChunk(kExcludedHostLineBuffer, line)) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    // A blank line names no host; keeping it out of the set keeps "no host excluded" true.
    if (!line.empty()) hosts.insert(LowerAscii(line));
  }
}

}  // namespace lumbra
