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

struct LinkCase {
  const char* link;
  std::vector<const char*> files;  // created below the temporary root before resolving
  const char* expected;            // "@/" stands for "file://" + the temporary root + "/"
  int found;
  LinkKind kind = LinkKind::Href;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << '"' << c.link << '"'; }

class ResolveLinkTable : public LinkResolverTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(ResolveLinkTable, RewritesTheLink) {
  const LinkCase& c = GetParam();
  for (const char* file : c.files) {
    std::string f = file;
    if (f.back() == '/') {
      MakeDir(f);
    } else {
      WriteFile(f, "x");
    }
  }
  std::string expected = c.expected;
  if (expected.starts_with("@/")) expected = "file://" + root() + expected.substr(1);
  std::string link = c.link;
  EXPECT_EQ(Resolve(link, c.kind), c.found);
  EXPECT_EQ(link, expected);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"pic.gif", {"save/log/host/dir/pic.gif"}, "@/save/log/host/dir/pic.gif", 1},
        LinkCase{"../top.html", {}, "http://host/dir/../top.html", 0},
        LinkCase{"/img/a.gif", {"save/log/host/img/a.gif"}, "@/save/log/host/img/a.gif", 1},
        LinkCase{"http://other/x.html", {"more/log/other/x.html"}, "@/more/log/other/x.html", 1},
        LinkCase{"#sec", {}, "@/save/log/host/dir/page.html#sec", 1},
        LinkCase{
            "sub/", {"save/log/host/dir/sub/index.html"}, "@/save/log/host/dir/sub/index.html", 1},
        LinkCase{"page2.html?x=1", {}, "http://host/dir/page2.html?x=1", 0},
        LinkCase{"mailto:someone", {}, "mailto:someone", 0}));

INSTANTIATE_TEST_SUITE_P(
    DefaultDocuments, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"sub/",
                 {"save/log/host/dir/sub/index.html", "save/log/host/dir/sub/home.html"},
                 "@/save/log/host/dir/sub/home.html",
                 1},
        LinkCase{"http://host/dir2",
                 {"save/log/host/dir2/default.html"},
                 "@/save/log/host/dir2/default.html",
                 1},
        LinkCase{"http://host/empty", {"save/log/host/empty/"}, "http://host/empty", 0},
        LinkCase{"sub/", {"save/log/host/dir/sub/"}, "sub/", 0},
        LinkCase{
            "http://host/", {"save/log/host/default.html"}, "@/save/log/host/default.html", 1}));

INSTANTIATE_TEST_SUITE_P(
    ExtensionGuesses, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"img/b",
                 {"save/log/host/dir/img/b.gif"},
                 "@/save/log/host/dir/img/b.gif",
                 1,
                 LinkKind::Src},
        // Only a src guesses beyond ".html"; an href img/b has no document extension.
        LinkCase{"img/b", {"save/log/host/dir/img/b.gif"}, "img/b", 0},
        LinkCase{"next", {"save/log/host/dir/next.html"}, "@/save/log/host/dir/next.html", 1},
        LinkCase{"img/c",
                 {"save/log/host/dir/img/c.jpeg", "save/log/host/dir/img/c.jpg"},
                 "@/save/log/host/dir/img/c.jpg",
                 1,
                 LinkKind::Src},
        // A gopher path without a known extension guesses for every kind.
        LinkCase{"gopher://host/1/menu",
                 {"save/log/host/1/menu.jpg"},
                 "@/save/log/host/1/menu.jpg",
                 1}));

INSTANTIATE_TEST_SUITE_P(QueriesAndFragments, ResolveLinkTable,
                         ::testing::Values(
                             // A script's query is part of the stored name; no Tail is kept.
                             LinkCase{"/cgi-bin/q?x=1",
                                      {"save/log/host/cgi-bin/q-x=1.html"},
                                      "@/save/log/host/cgi-bin/q-x=1.html",
                                      1},
                             LinkCase{"/cgi-bin/q?x=1", {}, "http://host/cgi-bin/q?x=1", 0},
                             LinkCase{"page.html?x=1", {}, "@/save/log/host/dir/page.html?x=1", 1},
                             LinkCase{"page.html#top", {}, "@/save/log/host/dir/page.html#top", 1},
                             LinkCase{"#", {}, "@/save/log/host/dir/page.html#", 1},
                             LinkCase{
                                 "http://host/a.html?q=b:c", {}, "http://host/a.html?q=b:c", 0},
                             LinkCase{"http://host/w:x*y.html",
                                      {"save/log/host/w-x-y.html"},
                                      "@/save/log/host/w-x-y.html",
                                      1}));

INSTANTIATE_TEST_SUITE_P(
    LocalAndWebForms, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"ftp://host/pub/file.zip", {}, "ftp://host/pub/file.zip", 0},
        LinkCase{"gopher://host/0/a.htm", {}, "gopher://host/0/a.htm", 0},
        LinkCase{"/img/none.gif", {}, "http://host/img/none.gif", 0},
        LinkCase{"sub/none.html", {}, "http://host/dir/sub/none.html", 0},
        LinkCase{"javascript:go()", {}, "javascript:go()", 0},
        LinkCase{"MAILTO:a@b.html", {}, "MAILTO:a@b.html", 0},
        // A page's path containing "log/" (catalog/) keeps its host in the web form.
        LinkCase{"http://host/catalog/item.html", {}, "http://host/catalog/item.html", 0},
        LinkCase{"catalog/x.html", {}, "http://host/dir/catalog/x.html", 0},
        // Another scheme is never glued onto the page's directory.
        LinkCase{"https://secure/x.html", {}, "https://secure/x.html", 0},
        LinkCase{"./pic.gif", {"save/log/host/dir/pic.gif"}, "@/save/log/host/dir/pic.gif", 1},
        LinkCase{"file:///other/path", {"save/log/other/path"}, "@/save/log/other/path", 1},
        LinkCase{"file:///other/path", {}, "http://other/path", 0}));

INSTANTIATE_TEST_SUITE_P(
    LineBreaks, ResolveLinkTable,
    ::testing::Values(
        LinkCase{"pi\r\nc.gif", {"save/log/host/dir/pic.gif"}, "@/save/log/host/dir/pic.gif", 1},
        // The text before the break names a file: taken as found, the break becomes a blank.
        LinkCase{
            "pic.gif\rmore", {"save/log/host/dir/pic.gif"}, "@/save/log/host/dir/pic.gif more", 1},
        LinkCase{"a\nb.html", {}, "http://host/dir/a\nb.html", 0}));

TEST_F(LinkResolverTest, AFileLinkInAnyTreeIsTakenIntoThePagesTree) {
  WriteFile("save/log/host/x.html", "x");
  std::string link = "file://" + A("host/x.html");
  EXPECT_EQ(Resolve(link), 1);
  EXPECT_EQ(link, "file://" + A("host/x.html"));

  // Stored since under the other tree: reached only with READ_AEL on.
  WriteFile("more/log/host/y.html", "x");
  link = "file://" + A("host/y.html");
  EXPECT_EQ(Resolve(link), 1);
  EXPECT_EQ(link, "file://" + ctx.logDir[4] + "/host/y.html");
  ctx.readAel = false;
  link = "http://host/y.html";
  EXPECT_EQ(Resolve(link), 0);
  EXPECT_EQ(link, "http://host/y.html");
}

TEST_F(LinkResolverTest, DotDotFromTheHostDirectoryCannotLeaveTheHost) {
  WriteFile("save/log/host/x.html", "x");
  std::string link = "../x.html";
  EXPECT_EQ(Resolve(link, LinkKind::Href, nullptr, true), 1);
  EXPECT_EQ(link, "file://" + A("host/x.html"));

  // Only the first "../" is dropped; the second stays in the path looked up.
  WriteFile("save/log/x.html", "x");
  link = "../../x.html";
  EXPECT_EQ(Resolve(link, LinkKind::Href, nullptr, true), 1);
  EXPECT_EQ(link, "file://" + A("host/../x.html"));
}

TEST_F(LinkResolverTest, NoLinkIsPointedAtAFileOutsideTheLogs) {
  WriteFile("save/x.html", "outside");
  std::string link = "../../../x.html";
  EXPECT_EQ(Resolve(link, LinkKind::Href, nullptr, true), 0);
  EXPECT_EQ(link, "http://host/../../../x.html");
  link = "http://host/../../../x.html";
  EXPECT_EQ(Resolve(link), 0);
  EXPECT_EQ(link, "http://host/../../../x.html");
}

TEST_F(LinkResolverTest, CounterFlagMarksUnresolvedCounterImages) {
  bool counter = false;
  std::string link = "/cgi-bin/count.cgi?page";
  EXPECT_EQ(Resolve(link, LinkKind::Src, &counter), 0);
  EXPECT_EQ(link, "http://host/cgi-bin/count.cgi?page");
  EXPECT_TRUE(counter);

  link = "none.gif";
  EXPECT_EQ(Resolve(link, LinkKind::Src, &counter), 0);
  EXPECT_FALSE(counter);

  // Written only for src links that were not found.
  counter = true;
  link = "/cgi-bin/count.cgi?page";
  Resolve(link, LinkKind::Href, &counter);
  EXPECT_TRUE(counter);
  WriteFile("save/log/host/cgi-bin/count.cgi-page", "x");
  counter = true;
  link = "/cgi-bin/count.cgi?page";
  EXPECT_EQ(Resolve(link, LinkKind::Src, &counter), 1);
  EXPECT_TRUE(counter);
}

TEST_F(LinkResolverTest, EmptyAndLongLinks) {
  std::string link;
  EXPECT_EQ(Resolve(link), 0);
  EXPECT_EQ(link, "");

  std::string name(190, 'n');
  link = name + ".html";
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

TEST(TreeRelativePartTest, KeepsTheHostOfPathsWithLogInThem) {
  EXPECT_EQ(TreeRelativePart("/s/log/host/blog/x.html", "/s/log"), "host/blog/x.html");
  EXPECT_EQ(TreeRelativePart("/s/log/host/../x", "/s/log"), "host/../x");
  // Outside the given root the "log/" markers decide.
  EXPECT_EQ(TreeRelativePart("/t/log/host/x", "/s/log"), "host/x");
  EXPECT_EQ(TreeRelativePart("/t/blog/u/log/host/x", "/s/log"), "host/x");
  EXPECT_EQ(TreeRelativePart("/no/marker", "/s/log"), "/no/marker");
}

}  // namespace
}  // namespace lumbra
