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

Ie4Entry Image(std::string url, std::string file, int subdir, std::string type) {
  Ie4Entry e;
  e.url = std::move(url);
  e.fileName = std::move(file);
  e.subdirectory = subdir;
  e.contentType = std::move(type);
  // Enough of a GIF/JPEG header for a browser to recognise the type.
  e.content = e.contentType == "image/gif" ? std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14)
                                           : std::string("\xFF\xD8\xFF\xE0 sample \xFF\xD9", 14);
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
      Image("http://www.example.jp/img/logo.gif", "logo[1].gif", 1, "image/gif"),
      Image("http://www.example.jp/img/paper.gif", "paper[1].gif", 1, "image/gif"),
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
      Image("http://docs.example.org/guide/shot.jpg", "shot[1].jpg", 0, "image/jpeg"),
      Page("http://docs.example.org/cgi-bin/search?q=lumbra", "search[1].html", 0,
           "<html><title>Search results</title><body>1 hit: "
           "<a href=\"/guide/install.html\">Installing</a></body></html>\n"),
      Image("http://ads.example.com/banner.gif", "banner[1].gif", 1, "image/gif"),
  };
  std::string index = lumbra::testing::WriteIe4Cache(argv[1], cache);
  std::printf("%s\n", index.c_str());
  return 0;
}
