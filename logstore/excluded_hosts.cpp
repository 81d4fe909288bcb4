#include "logstore/excluded_hosts.h"

#include "platform/text_file.h"

namespace lumbra {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
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
