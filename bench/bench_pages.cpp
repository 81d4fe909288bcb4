#include "bench/bench_pages.h"

namespace lumbra::bench {
namespace {

constexpr int kLinksPerPage = 12;

}  // namespace

std::string PageHtml(int host, int page, int pages) {
  std::string html = "<html><head><title>Page " + std::to_string(page) + " of host" +
                     std::to_string(host) + "</title></head><body>\n";
  for (int k = 1; k <= kLinksPerPage; ++k) {
    int target = (page + k * 7) % pages;
    html += "<p>Paragraph " + std::to_string(k) + " with some ordinary text to carry the links. " +
            "<a href=\"p" + std::to_string(target) + ".html\">next " + std::to_string(target) +
            "</a> <img src=\"img/i" + std::to_string(target % 50) + ".gif\">\n";
  }
  html += "<a href=\"http://host" + std::to_string((host + 1) % kHosts) +
          ".example/d/p0.html\">other host</a></body></html>\n";
  return html;
}

}  // namespace lumbra::bench
