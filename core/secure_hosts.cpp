#include "core/secure_hosts.h"

#include <algorithm>
#include <cstdint>

#include "platform/fs.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

// A longer file is no list this system wrote: it is not read, so a damaged or hostile tree
// cannot fill the memory with it.
constexpr std::uint64_t kReadMax = 1 << 20;
// A host name has at most 253 characters; a longer line is cut into pieces that name none.
constexpr std::size_t kLineBuffer = 256;

std::string FileOf(const std::string& treeRoot) {
  return treeRoot + "/" + std::string(kSecureHostsName);
}

}  // namespace

std::set<std::string> ReadSecureHosts(const std::string& treeRoot) {
  std::set<std::string> hosts;
  const std::string file = FileOf(treeRoot);
  platform::TextReader reader;
  if (platform::GetStatus(file).size > kReadMax || !reader.Open(file)) return hosts;
  std::string piece;
  while (reader.ReadChunk(kLineBuffer, piece)) {
    if (!piece.empty() && piece.back() == '\n') piece.pop_back();
    if (!piece.empty()) hosts.insert(piece);
  }
  return hosts;
}

bool AddSecureHosts(const std::string& treeRoot, const std::set<std::string>& hosts) {
  std::set<std::string> all = ReadSecureHosts(treeRoot);
  if (std::includes(all.begin(), all.end(), hosts.begin(), hosts.end())) return true;
  all.insert(hosts.begin(), hosts.end());
  platform::TextWriter writer;
  if (!writer.Open(FileOf(treeRoot), platform::TextWriter::Mode::Replace)) return false;
  for (const std::string& host : all) writer.Write(host + "\n");
  return writer.Close();
}

}  // namespace lumbra
