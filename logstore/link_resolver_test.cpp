#include "logstore/link_resolver.h"

#include <ostream>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

// Trees: A = save/log (the page's tree), E = more/log; the page is host/dir/page.html in A.
class LinkResolverTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    ctx.logDir[0] = Path("save/log");
    ctx.logDir[4] = Path("more/log");
    WriteFile("save/log/host/dir/page.html", "<html>");
  }
  std::string A(std::string_view rel) const { return ctx.logDir[0] + "/" + std::string(rel); }

  // Resolves `link` from the page, in the host directory when `inHost` is set.
  int Resolve(std::string& link, LinkKind kind = LinkKind::Href, bool* counter = nullptr,
              bool inHost = false) const {
    std::string page = inHost ? A("host/page.html") : A("host/dir/page.html");
    std::string dir = inHost ? A("host/") : A("host/dir/");
    return ResolveLink(ctx, ctx.logDir[0], link, page, A("host"), dir, kind, counter);
  }

  JobContext ctx;
};

// In `files`, "A/" and "E/" stand for the roots of trees A and E; in `link` and `expected`,
// "@A/" and "@E/" for their file:// URLs. Only links rewritten to a local copy (starting "@") count
// as found.
struct LinkCase {
  const char* link;
  std::vector<const char*> files;  // created before resolving; a trailing '/' makes a directory
  const char* expected;
  bool inHost = false;  // the page lies in the host directory
  LinkKind kind = LinkKind::Href;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << '"' << c.link << '"'; }

class ResolveLinkTable : public LinkResolverTest, public ::testing::WithParamInterface<LinkCase> {
 protected:
  std::string Expand(std::string_view s) const {
    std::string tree = s.starts_with("E/") ? ctx.logDir[4] : ctx.logDir[0];
    return tree + std::string(s.substr(1));
  }
};

TEST_P(ResolveLinkTable, RewritesTheLink) {
  const LinkCase& c = GetParam();
  for (std::string_view file : c.files) {
    if (file.ends_with('/')) {
      MakeDir(Expand(file));
    } else {
      WriteFile(Expand(file), "x");
    }
  }
  std::string expected = c.expected;
  const bool found = expected.starts_with('@');
  if (found) expected = "file://" + Expand(expected.substr(1));
  std::string link = c.link;
  if (link.starts_with('@')) link = "file://" + Expand(link.substr(1));
  EXPECT_EQ(Resolve(link, c.kind, nullptr, c.inHost), found ? 1 : 0);
  EXPECT_EQ(link, expected);
}

INSTANTIATE_TEST_SUITE_P(
    LinksAndForms, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"pic.gif", {"A/host/dir/pic.gif"}, "@A/host/dir/pic.gif"},
        LinkCase{"../top.html", {}, "http://host/dir/../top.html"},
        LinkCase{"/img/a.gif", {"A/host/img/a.gif"}, "@A/host/img/a.gif"},
        LinkCase{"http://other/x.html", {"E/other/x.html"}, "@E/other/x.html"},
        LinkCase{"#sec", {}, "@A/host/dir/page.html#sec"},
        LinkCase{"sub/", {"A/host/dir/sub/index.html"}, "@A/host/dir/sub/index.html"},
        LinkCase{"page2.html?x=1", {}, "http://host/dir/page2.html?x=1"},
        LinkCase{"mailto:someone", {}, "mailto:someone"},
        // Queries and fragments.
        // A script's query is part of the stored name; no Tail is kept.
        LinkCase{"/cgi-bin/q?x=1", {"A/host/cgi-bin/q-x=1.html"}, "@A/host/cgi-bin/q-x=1.html"},
        LinkCase{"/cgi-bin/q?x=1", {}, "http://host/cgi-bin/q?x=1"},
        LinkCase{"page.html?x=1", {}, "@A/host/dir/page.html?x=1"},
        LinkCase{"page.html#top", {}, "@A/host/dir/page.html#top"},
        LinkCase{"#", {}, "@A/host/dir/page.html#"},
        LinkCase{"http://host/a.html?q=b:c", {}, "http://host/a.html?q=b:c"},
        LinkCase{"http://host/w:x*y.html", {"A/host/w-x-y.html"}, "@A/host/w-x-y.html"},
        // What stays a web link, and local forms.
        LinkCase{"ftp://host/pub/file.zip", {}, "ftp://host/pub/file.zip"},
        LinkCase{"gopher://host/0/a.htm", {}, "gopher://host/0/a.htm"},
        LinkCase{"/img/none.gif", {}, "http://host/img/none.gif"},
        LinkCase{"sub/none.html", {}, "http://host/dir/sub/none.html"},
        LinkCase{"javascript:go()", {}, "javascript:go()"},
        LinkCase{"MAILTO:a@b.html", {}, "MAILTO:a@b.html"},
        // Another scheme is never glued onto the page's directory.
        LinkCase{"https://secure/x.html", {}, "https://secure/x.html"},
        LinkCase{"./pic.gif", {"A/host/dir/pic.gif"}, "@A/host/dir/pic.gif"},
        LinkCase{"file:///other/path", {"A/other/path"}, "@A/other/path"},
        LinkCase{"file:///other/path", {}, "http://other/path"}));

// Default documents of a directory, then extension guesses.
INSTANTIATE_TEST_SUITE_P(
    DefaultsAndGuesses, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"sub/",
                 {"A/host/dir/sub/index.html", "A/host/dir/sub/home.html"},
                 "@A/host/dir/sub/home.html"},
        LinkCase{"http://host/dir2", {"A/host/dir2/default.html"}, "@A/host/dir2/default.html"},
        LinkCase{"http://host/empty", {"A/host/empty/"}, "http://host/empty"},
        LinkCase{"sub/", {"A/host/dir/sub/"}, "sub/"},
        LinkCase{"http://host/", {"A/host/default.html"}, "@A/host/default.html"},
        // Extension guesses.
        LinkCase{"img/b", {"A/host/dir/img/b.gif"}, "@A/host/dir/img/b.gif", false, LinkKind::Src},
        // Only a src guesses beyond ".html"; an href img/b has no document extension.
        LinkCase{"img/b", {"A/host/dir/img/b.gif"}, "img/b"},
        LinkCase{"next", {"A/host/dir/next.html"}, "@A/host/dir/next.html"},
        LinkCase{"img/c",
                 {"A/host/dir/img/c.jpeg", "A/host/dir/img/c.jpg"},
                 "@A/host/dir/img/c.jpg",
                 false,
                 LinkKind::Src},
        // A gopher path without a known extension guesses for every kind.
        LinkCase{"gopher://host/1/menu", {"A/host/1/menu.jpg"}, "@A/host/1/menu.jpg"}));

// A site folder whose name ends in "log" is a folder of the host, not the end of a tree root.
INSTANTIATE_TEST_SUITE_P(
    Paths, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"http://host/catalog/item.html", {}, "http://host/catalog/item.html"},
        LinkCase{"catalog/x.html", {}, "http://host/dir/catalog/x.html"},
        LinkCase{"/blog/x.html", {"A/host/blog/x.html"}, "@A/host/blog/x.html"},
        LinkCase{"/blog/x.html", {}, "http://host/blog/x.html"},
        LinkCase{"../blog/x.html", {"A/host/blog/x.html"}, "@A/host/blog/x.html"},
        LinkCase{"/catalog/", {"A/host/catalog/index.html"}, "@A/host/catalog/index.html"},
        LinkCase{"/catalog/", {}, "http://host/catalog/"},
        // The folder comes first, with all its look-ups, even when the rest reads as host/path.
        LinkCase{"/blog/2020/x",
                 {"A/host/blog/2020/x.html", "A/2020/x.html"},
                 "@A/host/blog/2020/x.html"},
        LinkCase{"/blog/2020/x.html", {}, "http://host/blog/2020/x.html"},
        // A path of the tree, taken when the folder holds nothing.
        LinkCase{"/old/log/host/x.html", {"A/host/x.html"}, "@A/host/x.html"},
        LinkCase{"/old/log/host/x.html", {}, "http://host/x.html"},
        // Line breaks inside a link.
        LinkCase{"pi\r\nc.gif", {"A/host/dir/pic.gif"}, "@A/host/dir/pic.gif"},
        // The text before the break names a file: taken as found, the break becomes a blank.
        LinkCase{"pic.gif\rmore", {"A/host/dir/pic.gif"}, "@A/host/dir/pic.gif more"},
        LinkCase{"a\nb.html", {}, "http://host/dir/a\nb.html"},
        // Trees and parent directories.
        LinkCase{"", {}, ""},
        // A file link into any tree is taken into the page's tree, or the tree that holds it.
        LinkCase{"@A/host/x.html", {"A/host/x.html"}, "@A/host/x.html"},
        LinkCase{"@A/host/y.html", {"E/host/y.html"}, "@E/host/y.html"},
        // From the host directory only the first "../" is dropped.
        LinkCase{"../x.html", {"A/host/x.html"}, "@A/host/x.html", true},
        LinkCase{"../../x.html", {"A/x.html"}, "@A/host/../x.html", true},
        // No link is pointed at a file outside the logs.
        LinkCase{"../../../x.html", {"A/../x.html"}, "http://host/../../../x.html", true},
        LinkCase{"http://host/../../../x.html", {"A/../x.html"}, "http://host/../../../x.html"}));

TEST_F(LinkResolverTest, AnotherTreeIsReachedOnlyWithReadAel) {
  WriteFile("more/log/host/y.html", "x");
  ctx.readAel = false;
  std::string link = "http://host/y.html";
  EXPECT_EQ(Resolve(link), 0);
  EXPECT_EQ(link, "http://host/y.html");
}

// An unresolved counter image, and another image, are in the rewriter's READ_CNT test.
TEST_F(LinkResolverTest, CounterFlagIsWrittenOnlyForSrcLinksNotFound) {
  bool counter = true;
  std::string link = "/cgi-bin/count.cgi?page";
  Resolve(link, LinkKind::Href, &counter);
  EXPECT_TRUE(counter);
  WriteFile("save/log/host/cgi-bin/count.cgi-page", "x");
  counter = true;
  link = "/cgi-bin/count.cgi?page";
  EXPECT_EQ(Resolve(link, LinkKind::Src, &counter), 1);
  EXPECT_TRUE(counter);
}

TEST_F(LinkResolverTest, LongLinks) {
  std::string name(190, 'n');
  std::string link = name + ".html";
  EXPECT_EQ(Resolve(link), 0);
  EXPECT_EQ(link, "http://host/dir/" + name + ".html");

  // Longer than a path can be: never found, no harm.
  std::string huge(5000, 'a');
  link = "/" + huge + "/../x.gif";
  EXPECT_EQ(Resolve(link, LinkKind::Src), 0);
  EXPECT_EQ(link, "http://host/" + huge + "/../x.gif");
}

struct MapCase {
  const char* url;
  const char* local;  // relative to tree A; "" when the entry has no local path
  const char* host;
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << '"' << c.url << '"'; }

class MapEntryTable : public LinkResolverTest, public ::testing::WithParamInterface<MapCase> {};

TEST_P(MapEntryTable, MapsTheUrlIntoTreeA) {
  ctx.logDir[4].clear();
  const MapCase& c = GetParam();
  LogPath out{"old", "oldRoot", "oldHost"};
  bool mapped = MapEntryToLogPath(ctx, c.url, out);
  if (*c.local == '\0') {
    EXPECT_FALSE(mapped);
    EXPECT_EQ(out.localPath, "");
    EXPECT_EQ(out.treeRoot, "oldRoot");
    EXPECT_EQ(out.hostDir, "oldHost");
  } else {
    EXPECT_TRUE(mapped);
    EXPECT_EQ(out.localPath, A(c.local));
    EXPECT_EQ(out.treeRoot, ctx.logDir[0]);
    EXPECT_EQ(out.hostDir, A(c.host));
  }
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, MapEntryTable,
    ::testing::Values(MapCase{"http://host/dir/page.html", "host/dir/page.html", "host"},
                      MapCase{"http://host/home.html", "host/home.html", "host"},
                      MapCase{"http://host-8080/a.gif", "host-8080/a.gif", "host-8080"},
                      MapCase{"http://host/cgi-bin/q-x=1.html", "host/cgi-bin/q-x=1.html", "host"},
                      MapCase{"ftp://host/pub/file.zip", "host/pub/file.zip", "host"},
                      MapCase{"news:group", "", ""}, MapCase{"https:/-host/x", "-host/x", "-host"},
                      MapCase{"HTTP://Host/X.html", "Host/X.html", "Host"},
                      MapCase{"file://host/x.txt", "host/x.txt", "host"},
                      MapCase{"gopher://host/1/x", "host/1/x", "host"},
                      MapCase{"http://host", "host", "host"}));

// Nothing a cache holds may make the log-add job write outside the log directories.
INSTANTIATE_TEST_SUITE_P(
    OutsideTheTree, MapEntryTable,
    ::testing::Values(MapCase{"http://host/../x", "", ""}, MapCase{"http://host/a/../../x", "", ""},
                      MapCase{"http://../x", "", ""}, MapCase{"http://host/..", "", ""},
                      MapCase{"http://./x", "", ""}, MapCase{"http://host/./x", "", ""},
                      MapCase{"http:///x", "", ""}, MapCase{"http:", "", ""},
                      MapCase{"httpfoo/bar", "", ""}, MapCase{"ftp:xy", "", ""},
                      // Dots inside a name are a name.
                      MapCase{"http://a..b/x..y/...", "a..b/x..y/...", "a..b"},
                      MapCase{"http://host/.x/x./..z", "host/.x/x./..z", "host"},
                      MapCase{"http://host/a//b", "host/a//b", "host"}));

TEST_F(LinkResolverTest, MapRefusesANulThatWouldCutThePath) {
  LogPath out;
  EXPECT_FALSE(MapEntryToLogPath(ctx, std::string("http://host/..\0x", 16), out));
  EXPECT_EQ(out.localPath, "");
}

TEST_F(LinkResolverTest, AHostStaysInTheFirstTreeThatHoldsIt) {
  ctx.logDir = {Path("a/log"), "", Path("c/log"), Path("d/log"), ""};
  MakeDir("a/log/both");
  MakeDir("c/log/both");
  MakeDir("c/log/conly");
  WriteFile("a/log/plainfile", "not a host directory");
  LogPath out;
  ASSERT_TRUE(MapEntryToLogPath(ctx, "http://both/x.html", out));
  EXPECT_EQ(out.localPath, Path("a/log/both/x.html"));
  ASSERT_TRUE(MapEntryToLogPath(ctx, "http://conly/x.html", out));
  EXPECT_EQ(out.treeRoot, Path("c/log"));
  EXPECT_EQ(out.hostDir, Path("c/log/conly"));
  ASSERT_TRUE(MapEntryToLogPath(ctx, "http://new/x.html", out));
  EXPECT_EQ(out.localPath, Path("d/log/new/x.html"));
  ASSERT_TRUE(MapEntryToLogPath(ctx, "http://plainfile/x.html", out));
  EXPECT_EQ(out.treeRoot, Path("d/log"));

  ctx.logDir = {};
  EXPECT_FALSE(MapEntryToLogPath(ctx, "http://new/x.html", out));
  EXPECT_EQ(out.localPath, "");
}

TEST(ExtensionClassTest, DocumentAndMediaNames) {
  struct Case {
    const char* name;
    bool document;
    bool media;
  };
  const Case cases[] = {
      {"a.gif", true, false},       {"x.html", true, false}, {"X.JPEG", true, false},
      {"x.htm.bak", true, false},   {"m.MOV", true, true},   {"z.zip", true, true},
      {"s.dcr", true, true},        {"x.mp3", false, false}, {"page", false, false},
      {"abc", false, false},        {"", false, false},      {"long.c", false, false},
      {"a.gif/page", false, false}, {"v.avi", true, true},   {"w.wrl", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HasDocumentExtension(c.name), c.document) << c.name;
    EXPECT_EQ(HasMediaExtension(c.name), c.media) << c.name;
  }
}

TEST(ResolveDotSegmentsTest, DropsParentSegmentsAndDots) {
  EXPECT_EQ(ResolveDotSegments("host/dir/../top.html"), "host/top.html");
  EXPECT_EQ(ResolveDotSegments("a/b/c/../../x"), "a/x");
  EXPECT_EQ(ResolveDotSegments("host/../x.html"), "host/x.html");
  EXPECT_EQ(ResolveDotSegments("host/../../x.html"), "host/../x.html");
  EXPECT_EQ(ResolveDotSegments("../x"), "x");
  EXPECT_EQ(ResolveDotSegments("x/./y/././z"), "x/y/z");
  EXPECT_EQ(ResolveDotSegments("plain/path"), "plain/path");
  std::string longPath = "a/b/../" + std::string(kResolveDotSegmentsMax, 'c');
  EXPECT_EQ(ResolveDotSegments(longPath), longPath);
  std::string limit = "a/b/../" + std::string(kResolveDotSegmentsMax - 7, 'c');
  EXPECT_EQ(ResolveDotSegments(limit), "a/" + std::string(kResolveDotSegmentsMax - 7, 'c'));
}

}  // namespace
}  // namespace lumbra
