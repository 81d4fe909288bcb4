// Generates the data of the job benchmark: an Internet Explorer 4 cache of ENTRIES entries
// (pages that link to each other and to images) and PAGES pages in TREES LogTrees (default
// 1, at most 5), each host's pages in one tree.
//   make_bench_data DIR ENTRIES PAGES [TREES]
//     -> DIR/cache, DIR/tree/benchlog (and DIR/tree/bench2log ... bench5log)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include "bench/bench_pages.h"
#include "testing/ie4_fixture.h"

namespace {

using lumbra::bench::kHosts;
using lumbra::bench::PageHtml;

void MakeDirs(const std::string& path) {
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0777);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: make_bench_data DIR ENTRIES PAGES [TREES]\n");
    return 2;
  }
  std::string dir = argv[1];
  int entries = std::atoi(argv[2]);
  int pages = std::atoi(argv[3]);
  int trees = argc == 5 ? std::atoi(argv[4]) : 1;
  if (trees < 1 || trees > 5) {
    std::fprintf(stderr, "make_bench_data: TREES must be 1 to 5\n");
    return 2;
  }
  // The pages are shared out among the hosts, and each links to others of its host.
  if (pages < kHosts) {
    std::fprintf(stderr, "make_bench_data: PAGES must be at least %d\n", kHosts);
    return 2;
  }

  lumbra::testing::Ie4Cache cache;
  cache.subdirectories = {"BENCH000", "BENCH001", "BENCH002", "BENCH003"};
  int perHost = entries / kHosts + 1;
  for (int i = 0; i < entries; ++i) {
    int host = i % kHosts;
    int n = i / kHosts;
    lumbra::testing::Ie4Entry e;
    std::string base = "http://host" + std::to_string(host) + ".example/d/";
    e.subdirectory = i % 4;
    e.mtime = 1767225600;
    if (n % 5 == 4) {
      e.url = base + "img/i" + std::to_string(n % 50) + ".gif";
      e.fileName = "i" + std::to_string(i) + "[1].gif";
      e.contentType = "image/gif";
      e.content = std::string("GIF89a", 6) + std::string(2000, 'g');
    } else {
      e.url = base + "p" + std::to_string(n) + ".html";
      e.fileName = "p" + std::to_string(i) + "[1].html";
      e.content = PageHtml(host, n, perHost);
    }
    cache.entries.push_back(std::move(e));
  }
  lumbra::testing::WriteIe4Cache(dir + "/cache", cache);

  for (int i = 0; i < pages; ++i) {
    int host = i % kHosts;
    int n = i / kHosts;
    const int tree = host % trees;
    std::string hostDir = dir + "/tree/bench" + (tree == 0 ? "" : std::to_string(tree + 1)) +
                          "log/host" + std::to_string(host) + ".example/d";
    if (n == 0) MakeDirs(hostDir + "/img");
    std::ofstream(hostDir + "/p" + std::to_string(n) + ".html")
        << PageHtml(host, n, pages / kHosts);
    if (n < 50) std::ofstream(hostDir + "/img/i" + std::to_string(n) + ".gif") << "GIF89a";
  }
  return 0;
}
