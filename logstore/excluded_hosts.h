// The excluded-domain file lumbra-url.ini in the start directory: one host name per line,
// CR LF line ends, no header. The log-add job never stores a file of a listed host.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

#include "core/job_context.h"

namespace lumbra {

inline constexpr std::string_view kExcludedHostsFile = "lumbra-url.ini";
inline constexpr std::size_t kExcludedHostLineBuffer = 250;  // at most 249 characters a line

// Lower-cased host names; a host is excluded when it is in the set.
using ExcludedHosts = std::set<std::string>;

// Adds every line of the file, lower-cased, to `hosts`. A missing file adds nothing.
void LoadExcludedHosts(const JobContext& ctx, ExcludedHosts& hosts);

// Whether the host of a host directory of the logs (the text after its "log/") is excluded.
bool IsExcludedHostDir(const ExcludedHosts& hosts, std::string_view hostDir);

}  // namespace lumbra
