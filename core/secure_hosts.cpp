#include "core/secure_hosts.h"

#include <algorithm>
#include <cstdint>

#include "platform/fs.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

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
  if (platform::GetStatus(file).size > kSecureHostsMax || !reader.Open(file)) return hosts;
  std::string piece;
  while (reader.ReadChunk(kLineBuffer, piece)) {
    if (!piece.empty() && piece.back() == '\n') piece.pop_back();
    if (!piece.empty()) hosts.insert(piece);
  }
  return hosts;
}

SecureHostsUpdate AddSecureHosts(const std::string& treeRoot, const std::set<std::string>& hosts) {
  // A list past the size it is read up to would be lost whole: neither written nor replaced.
  if (platform::GetStatus(FileOf(treeRoot)).size > kSecureHostsMax) return SecureHostsUpdate::Full;
  std::set<std::string> all = ReadSecureHosts(treeRoot);
  if (std::includes(all.begin(), all.end(), hosts.begin(), hosts.end())) {
    return SecureHostsUpdate::Done;
  }
  all.insert(hosts.begin(), hosts.end());
  std::uint64_t size = 0;
  for (const std::string& host : all) size += host.size() + 2;  // CR LF
  if (size > kSecureHostsMax) return SecureHostsUpdate::Full;
  platform::TextWriter writer;
  if (!writer.Open(FileOf(treeRoot), platform::TextWriter::Mode::Replace)) {
    return SecureHostsUpdate::WriteFailed;
  }
  for (const std::string& host : all) writer.Write(host + "\n");
  return writer.Close() ? SecureHostsUpdate::Done : SecureHostsUpdate::WriteFailed;
}

}  // namespace lumbra
