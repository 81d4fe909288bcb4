// Writes the bundled sample cache (an Internet Explorer 4 cache directory) that scripts/demo
// adds to a fresh log. Run once by hand when the sample changes; its output is committed:
//   build/test/examples/make_sample_cache examples/sample-cache
#include <cstdio>
#include <string>

#include "testing/ie4_fixture.h"

namespace {

using lumbra::testing::Ie4Cache;
using lumbra::testing::Ie4Entry;

// Fixed modification time of every cached file (2026-01-01), so runs are repeatable.
constexpr long long kCachedAt = 1767225600;

Ie4Entry Page(std::string url, std::string file, int subdir, std::string html) {
  Ie4Entry e;
  e.url = std::move(url);
  e.fileName = std::move(file);
  e.subdirectory = subdir;
  e.contentType = "text/html";
  e.content = std::move(html);
  e.mtime = kCachedAt;
  return e;
}

// Small real images, so that a browser shows them: a logo, a paper background, a screenshot.
const std::string kLogoGif(
    "\x47\x49\x46\x38\x39\x61\x30\x00\x10\x00\xF0\x01\x00\x33\x66\xCC\xFF\xFF\xFF\x21\xF9"
    "\x04\x00\x00\x00\x00\x00\x2C\x00\x00\x00\x00\x30\x00\x10\x00\x00\x02\x2E\x84\x8F\xA9"
    "\xCB\xED\x0F\xA3\x9C\xB4\xDA\xAB\x82\xDE\xBC\xFB\x0F\x72\x4C\x48\x96\xE4\x68\xA6\x2A"
    "\xAA\xB6\x21\xEB\xC6\xE2\x22\xD7\x1B\x6C\xBB\x78\xBE\x62\xFE\x0F\x0C\x0A\x87\xC4\x45"
    "\x01\x00\x3B",
    87);
const std::string kPaperGif(
    "\x47\x49\x46\x38\x39\x61\x08\x00\x08\x00\xF0\x00\x00\x99\x99\x99\x00\x00\x00\x21\xF9"
    "\x04\x00\x00\x00\x00\x00\x2C\x00\x00\x00\x00\x08\x00\x08\x00\x00\x02\x07\x84\x8F\xA9"
    "\xCB\xED\x5D\x00\x00\x3B",
    48);
const std::string kShotJpeg(
    "\xFF\xD8\xFF\xE0\x00\x10\x4A\x46\x49\x46\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xFF"
    "\xDB\x00\x43\x00\x10\x0B\x0C\x0E\x0C\x0A\x10\x0E\x0D\x0E\x12\x11\x10\x13\x18\x28\x1A"
    "\x18\x16\x16\x18\x31\x23\x25\x1D\x28\x3A\x33\x3D\x3C\x39\x33\x38\x37\x40\x48\x5C\x4E"
    "\x40\x44\x57\x45\x37\x38\x50\x6D\x51\x57\x5F\x62\x67\x68\x67\x3E\x4D\x71\x79\x70\x64"
    "\x78\x5C\x65\x67\x63\xFF\xDB\x00\x43\x01\x11\x12\x12\x18\x15\x18\x2F\x1A\x1A\x2F\x63"
    "\x42\x38\x42\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63"
    "\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63"
    "\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\x63\xFF\xC0\x00\x11\x08\x00\x30\x00\x40\x03"
    "\x01\x22\x00\x02\x11\x01\x03\x11\x01\xFF\xC4\x00\x15\x00\x01\x01\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x04\xFF\xC4\x00\x15\x10\x01\x01\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x12\xFF\xC4\x00\x17\x01\x01\x01\x01"
    "\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x04\x01\x02\xFF\xC4\x00\x14"
    "\x11\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xFF\xDA\x00"
    "\x0C\x03\x01\x00\x02\x11\x03\x11\x00\x3F\x00\xBE\xCB\x4F\x65\xAF\x4A\xA2\xCB\x4F\x65"
    "\x82\x8B\x2D\x3D\x96\x0A\x2C\xB4\xF6\x58\x26\xB2\xD3\xD9\x6E\x85\x16\x5A\x7B\x2C\x14"
    "\x59\x69\xEC\xB0\x51\x65\xA7\xB2\xC1\x35\x96\x9A\xCB\x68\xA6\xCB\x4D\x65\x82\x9B\x2D"
    "\x35\x96\x0A\x6C\xB4\xD6\x58\x3F\xFF\xD9",
    346);

Ie4Entry Image(std::string url, std::string file, int subdir, std::string type,
               const std::string& content) {
  Ie4Entry e;
  e.url = std::move(url);
  e.fileName = std::move(file);
  e.subdirectory = subdir;
  e.contentType = std::move(type);
  e.content = content;
  e.mtime = kCachedAt;
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_cache DIR\n");
    return 2;
  }
  Ie4Cache cache;
  cache.subdirectories = {"Q1W2E3R4", "A5S6D7F8"};
  // The home page's title is EUC-JP ("サンプル"): the index shows it converted to Shift-JIS.
  cache.entries = {
      Page("http://www.example.jp/", "index[1].htm", 0,
           "<HTML><HEAD><TITLE>\xA5\xB5\xA5\xF3\xA5\xD7\xA5\xEB Home</TITLE></HEAD>\n"
           "<BODY BACKGROUND=\"img/paper.gif\">\n"
           "<H1><IMG SRC=\"img/logo.gif\" ALT=\"logo\"> Example</H1>\n"
           "<P><A HREF=\"about.html\">About us</A>\n"
           "<P><A HREF=\"/news/today.html\">Today's news</A> (never visited)\n"
           "<P><A HREF=\"http://docs.example.org/guide/\">The guide</A>\n"
           "<P><IMG SRC=\"http://ads.example.com/banner.gif\"> (an excluded host)\n"
           "</BODY></HTML>\n"),
      Page("http://www.example.jp/about.html", "about[1].html", 0,
           "<html><head><title>About</title></head><body>\n"
           "<a href=\"./\">Back home</a> <img src=img/logo.gif>\n"
           "<a href=\"http://www.example.jp:8080/status.html\">Server status</a>\n"
           "</body></html>\n"),
      Image("http://www.example.jp/img/logo.gif", "logo[1].gif", 1, "image/gif", kLogoGif),
      Image("http://www.example.jp/img/paper.gif", "paper[1].gif", 1, "image/gif", kPaperGif),
      Page("http://www.example.jp:8080/status.html", "status[1].html", 1,
           "<html><title>Status</title><body>All systems normal. "
           "<a href=\"http://www.example.jp/\">Home</a></body></html>\n"),
      Page("http://docs.example.org/guide/", "guide[1].htm", 1,
           "<HTML><TITLE>Guide</TITLE><BODY>\n"
           "<A HREF=\"install.html\">Installing</A>\n"
           "<A HREF=\"../cgi-bin/search?q=lumbra\">Search</A>\n"
           "<IMG SRC=\"shot.jpg\">\n"
           "<SCRIPT LANGUAGE=\"JavaScript\">var next = \"install.html\"; "
           "var pic = \"/guide/shot.jpg\";</SCRIPT>\n"
           "</BODY></HTML>\n"),
      Page("http://docs.example.org/guide/install.html", "install[1].html", 0,
           "<html><head><title>Installing</title></head><body>\n"
           "<a href=\"./\">Contents</a> <a href=\"#steps\">Steps</a>\n"
           "<a name=\"steps\"></a><ol><li>Unpack<li>Run</ol>\n"
           "<a href=\"mailto:docs@example.org\">Write to us</a>\n"
           "</body></html>\n"),
      Image("http://docs.example.org/guide/shot.jpg", "shot[1].jpg", 0, "image/jpeg", kShotJpeg),
      Page("http://docs.example.org/cgi-bin/search?q=lumbra", "search[1].html", 0,
           "<html><title>Search results</title><body>1 hit: "
           "<a href=\"/guide/install.html\">Installing</a></body></html>\n"),
      Image("http://ads.example.com/banner.gif", "banner[1].gif", 1, "image/gif", kLogoGif),
  };
  std::string index = lumbra::testing::WriteIe4Cache(argv[1], cache);
  std::printf("%s\n", index.c_str());
  return 0;
}
