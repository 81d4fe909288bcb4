// The pages of the job benchmark's generated data, for its caches and its LogTree alike: each
// page of a host links to a dozen others of the same host and to their images, and once to
// another host.
#pragma once

#include <string>

namespace lumbra::bench {

// The hosts the pages are shared out among: host0.example to host19.example.
inline constexpr int kHosts = 20;

// The HTML of page `page` (p<page>.html) of host `host`, whose host has `pages` pages.
std::string PageHtml(int host, int page, int pages);

}  // namespace lumbra::bench
