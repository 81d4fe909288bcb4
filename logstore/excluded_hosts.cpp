#include "logstore/excluded_hosts.h"

#include "core/ascii.h"
#include "platform/text_file.h"

namespace lumbra {

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
