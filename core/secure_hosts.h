// The hosts of a LogTree whose documents were fetched over https. One stored file serves a
// URL's http and https forms, so the scheme is kept apart: in the file kSecureHostsName in the
// tree root, one host directory name per line (CR LF text, the names as their directories
// spell them, "host" or "host-8443"). The add job adds the hosts it stored https entries of;
// the index pages link the pages of those hosts to their https addresses. The file moves with
// its tree, so a rebuild anywhere links them the same way. A tree without the file has no such
// host.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace lumbra {

inline constexpr std::string_view kSecureHostsName = ".lumbra-https";

// The file is read only up to this size: a longer one is no list this system wrote, and a
// damaged or hostile tree cannot fill the memory with it. About 50,000 host names fit.
inline constexpr std::uint64_t kSecureHostsMax = 1 << 20;

// The hosts the file of `treeRoot` lists; empty when there is none or it cannot be read.
std::set<std::string> ReadSecureHosts(const std::string& treeRoot);

// How an update of the file went.
enum class SecureHostsUpdate {
  Done,         // every host is in the file (written anew when any was missing)
  Full,         // the file would grow past kSecureHostsMax, or already is past it: kept as it was
  WriteFailed,  // it could not be replaced: kept as it was
};

// Adds `hosts` to the file of `treeRoot`, replacing it safely when anything new is added.
SecureHostsUpdate AddSecureHosts(const std::string& treeRoot, const std::set<std::string>& hosts);

}  // namespace lumbra
