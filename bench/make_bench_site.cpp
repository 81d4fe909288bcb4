// Generates the site of the mirroring comparison (scripts/bench): PAGES pages in one
// directory, each with LINKS links, four of five to other pages and one of five to an image
// of img/, all relative, so that the same files are a web site to mirror and, placed below a
// LogTree as a host directory, a log to rebuild.
//   make_bench_site DIR PAGES LINKS   -> DIR/p0.html .. DIR/pN.html, DIR/img/i0.gif ..
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>

namespace {

constexpr int kImages = 100;

std::string PageHtml(int page, int pages, int links) {
  std::string html = "<html><head><title>Site page " + std::to_string(page) +
                     "</title></head><body>\n<h1>Site page " + std::to_string(page) + "</h1>\n";
  for (int k = 0; k < links; ++k) {
    html += "<p>Item " + std::to_string(k) + " with a line of ordinary text around its link. ";
    if (k % 5 == 4) {
      html += "<img src=\"img/i" + std::to_string((page + k * 7) % kImages) + ".gif\">\n";
    } else {
      // The first link leads to the next page, so every page is reached from p0.html.
      int target = (page + 1 + k * 53) % pages;
      html += "<a href=\"p" + std::to_string(target) + ".html\">page " + std::to_string(target) +
              "</a>\n";
    }
  }
  return html + "</body></html>\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_bench_site DIR PAGES LINKS\n");
    return 2;
  }
  std::string dir = argv[1];
  int pages = std::atoi(argv[2]);
  int links = std::atoi(argv[3]);
  if (pages < 1 || links < 1) {
    std::fprintf(stderr, "make_bench_site: PAGES and LINKS must be positive\n");
    return 2;
  }
  if (::mkdir(dir.c_str(), 0777) != 0 || ::mkdir((dir + "/img").c_str(), 0777) != 0) {
    std::perror(dir.c_str());
    return 1;
  }
  for (int i = 0; i < pages; ++i) {
    std::ofstream out(dir + "/p" + std::to_string(i) + ".html");
    out << PageHtml(i, pages, links);
    if (!out) return 1;
  }
  for (int i = 0; i < kImages; ++i) {
    std::ofstream out(dir + "/img/i" + std::to_string(i) + ".gif");
    out << "GIF89a" << std::string(500, 'g');
    if (!out) return 1;
  }
  return 0;
}
