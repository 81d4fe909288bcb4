// Generates the caches of today's browsers for the job benchmark: a Chromium Simple Cache and
// a Firefox cache2 that hold the same ENTRIES responses, written in the browsers' own formats
// (pages gzip-encoded, linking to each other and to images), and the documents they hold,
// decoded, laid out as the add job stores them (host/path).
//   make_bench_caches DIR ENTRIES   -> DIR/chromium, DIR/firefox/cache2, DIR/documents
// Every URL is stored once, so that every entry is a document the add job stores.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_pages.h"
#include "testing/temp_dir.h"
#include "testing/todays_cache_fixture.h"

namespace {

using lumbra::bench::kHosts;
using lumbra::bench::PageHtml;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) < 1) {
    std::fprintf(stderr, "usage: make_bench_caches DIR ENTRIES\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int entries = std::atoi(argv[2]);
  lumbra::testing::ChromiumSimpleWriter chromium(dir + "/chromium");
  lumbra::testing::FirefoxCache2Writer firefox(dir + "/firefox/cache2");
  // As in the cache of make_bench_data: one entry in five an image, the rest pages.
  const int perHost = entries / kHosts + 1;
  for (int i = 0; i < entries; ++i) {
    const int host = i % kHosts;
    const int n = i / kHosts;
    const std::string path = "host" + std::to_string(host) + ".example/d/";
    std::string document;
    lumbra::testing::TodaysEntry entry;
    if (n % 5 == 4) {
      entry.url = "http://" + path + "img/i" + std::to_string(n) + ".gif";
      entry.contentType = "image/gif";
      document = std::string("GIF89a", 6) + std::string(2000, 'g');
      entry.body = document;
    } else {
      entry.url = "http://" + path + "p" + std::to_string(n) + ".html";
      entry.contentType = "text/html; charset=utf-8";
      document = PageHtml(host, n, perHost);
      entry.body = lumbra::testing::Gzip(document);
      entry.gzip = true;
    }
    if (!chromium.Add(entry) || !firefox.Add(entry) ||
        !lumbra::testing::WriteBytes(dir + "/documents/" + entry.url.substr(7), document)) {
      std::fprintf(stderr, "make_bench_caches: cannot write below %s\n", dir.c_str());
      return 1;
    }
  }
  if (!chromium.Finish()) {
    std::fprintf(stderr, "make_bench_caches: cannot write the index below %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
