#include "rebuild/link_resolver.h"

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

  // Resolves `link` from the page, in the host directory when `inHost` is set. It is resolved
  // twice through one LinkAnswers, and the second answer, the one kept, must be the first.
  int Resolve(std::string& link, LinkKind kind = LinkKind::Href, bool* counter = nullptr,
              bool inHost = false) const {
    std::string page = inHost ? A("host/page.html") : A("host/dir/page.html");
    std::string dir = inHost ? A("host/") : A("host/dir/");
    platform::PathTable paths;
    LinkAnswers answers;
    const std::string host = A("host");
    const PageLocation where{ctx.logDir[0], page, host, dir};
    std::string again = link;
    bool counterAgain = counter != nullptr && *counter;
    const int found = answers.Resolve(ctx, paths, where, link, kind, counter);
    EXPECT_EQ(answers.Resolve(ctx, paths, where, again, kind, counter ? &counterAgain : nullptr),
              found);
    EXPECT_EQ(again, link);
    if (counter != nullptr) {
      EXPECT_EQ(counterAgain, *counter);
    }
    return found;
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
        // Another scheme is never glued onto the page's directory; https is stored as http is,
        // and a link that finds no copy keeps its scheme.
        LinkCase{"webcal://secure/x.ics", {}, "webcal://secure/x.ics"},
        LinkCase{"https://secure/x.html", {}, "https://secure/x.html"},
        LinkCase{"HTTPS://secure/x.html?q#f", {"A/secure/x.html"}, "@A/secure/x.html?q#f"},
        LinkCase{"https://secure/d/", {"A/secure/d/index.html"}, "@A/secure/d/index.html"},
        // A name without an extension finds the copy stored with its type's extension.
        LinkCase{"style", {"A/host/dir/style.css"}, "@A/host/dir/style.css"},
        LinkCase{"style.v2", {"A/host/dir/style.v2.css"}, "style.v2"},
        LinkCase{"./pic.gif", {"A/host/dir/pic.gif"}, "@A/host/dir/pic.gif"},
        LinkCase{"file:///other/path", {"A/other/path"}, "@A/other/path"},
        LinkCase{"file:///other/path", {}, "http://other/path"},
        // A port is kept after a '-' in the logs, and is a port again on the web.
        LinkCase{"http://h:8080/x.html", {"A/h-8080/x.html"}, "@A/h-8080/x.html"},
        LinkCase{"http://h:8080/none.html", {}, "http://h:8080/none.html"},
        LinkCase{"http://my-host/none.html", {}, "http://my-host/none.html"}));

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

// LINK_STYLE relative: a found link is written relative to the page's own directory (a base
// having sent `dir` elsewhere), and the relative links to other sites and trees are read back
// as the local links they stand for; a page's own "../" stays within its site.
TEST_F(LinkResolverTest, RelativeLinksAreWrittenFromThePageAndReadBackAsLocalLinks) {
  ctx.linkStyle = LinkStyle::Relative;
  WriteFile("save/log/host/x.html", "x");
  WriteFile("save/log/other/a/b.html", "x");
  WriteFile("more/log/host/y.html", "x");
  const std::string ownDir = A("host/dir/");
  auto resolve = [&](std::string link, std::string_view from) {
    platform::PathTable paths;
    const std::string page = A("host/dir/page.html");
    const int found = ResolveLink(ctx, paths, {ctx.logDir[0], page, A("host"), ownDir, from}, link,
                                  LinkKind::Href, nullptr);
    return std::to_string(found) + " " + link;
  };
  const struct {
    const char *link, *relative;
  } cases[] = {
      {"http://host/x.html", "1 ../x.html"},
      {"http://other/a/b.html#f", "1 ../../other/a/b.html#f"},
      {"http://host/y.html", "1 ../../../../more/log/host/y.html"},
      {"#top", "1 page.html#top"},
      {"http://host/none.html", "0 http://host/none.html"},
  };
  for (const auto& c : cases) {
    const std::string written = resolve(c.link, ownDir);
    EXPECT_EQ(written, c.relative) << c.link;
    // Read back in either style, the relative link finds the same copy as the web link.
    ctx.linkStyle = LinkStyle::Absolute;
    EXPECT_EQ(resolve(written.substr(2), ownDir), resolve(c.link, ownDir)) << c.link;
    ctx.linkStyle = LinkStyle::Relative;
    EXPECT_EQ(resolve(written.substr(2), ownDir), written) << c.link;
  }
  // After a base, the file:// URL.
  EXPECT_EQ(resolve("http://host/x.html", ""), "1 file://" + A("host/x.html"));
  // Climbing out of the site is no link to another site's copy unless one is there.
  EXPECT_EQ(resolve("../../nohost/x.html", ownDir), "0 http://host/dir/../../nohost/x.html");
  // The site's own reading of a "../" that climbs above it comes first, as it always did.
  WriteFile("save/log/host/other/a/b.html", "x");
  EXPECT_EQ(resolve("../../other/a/b.html", ownDir), "1 ../other/a/b.html");
  // Another tree's copy is reached only with READ_AEL; without, the link goes to the web as
  // its file:// URL would.
  ctx.readAel = false;
  EXPECT_EQ(resolve("../../../../more/log/host/y.html", ownDir), "0 http://host/y.html");
  EXPECT_EQ(resolve("file://" + ctx.logDir[4] + "/host/y.html", ownDir), "0 http://host/y.html");
}

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

TEST_F(LinkResolverTest, KeptAnswersHoldInTheirPlaceWhileTheTableIsUnchanged) {
  platform::PathTable paths;
  LinkAnswers answers;
  const std::string host = A("host");
  auto resolve = [&](std::string link, const std::string& page) {
    const std::string dir = page.substr(0, page.rfind('/') + 1);
    answers.Resolve(ctx, paths, {ctx.logDir[0], page, host, dir}, link, LinkKind::Src, nullptr);
    return link;
  };
  const std::string page = A("host/dir/page.html");
  EXPECT_EQ(resolve("new.gif", page), "http://host/dir/new.gif");
  // Stored by the job, which tells its table.
  WriteFile("save/log/host/dir/new.gif", "GIF");
  paths.Remember(A("host/dir/new.gif"), platform::PathTable::Kind::File);
  EXPECT_EQ(resolve("new.gif", page), "file://" + A("host/dir/new.gif"));
  // The same text in another directory names another document.
  EXPECT_EQ(resolve("new.gif", A("host/page.html")), "http://host/new.gif");
  // An anchor names the page it is in.
  WriteFile("save/log/host/dir/other.html", "<html>");
  EXPECT_EQ(resolve("#top", page), "file://" + page + "#top");
  EXPECT_EQ(resolve("#top", A("host/dir/other.html")), "file://" + A("host/dir/other.html#top"));
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

TEST(ExtensionClassTest, DocumentAndMediaNames) {
  struct Case {
    const char* name;
    bool document;
    bool media;
  };
  const Case cases[] = {
      {"a.gif", true, false},
      {"x.html", true, false},
      {"X.JPEG", true, false},
      {"x.htm.bak", true, false},
      {"m.MOV", true, true},
      {"z.zip", true, true},
      {"s.dcr", true, true},
      {"x.mp3", true, true},
      {"x.m4a", false, false},
      {"page", false, false},
      {"abc", false, false},
      {"", false, false},
      {"long.c", false, false},
      {"a.gif/page", false, false},
      {"v.avi", true, true},
      {"w.wrl", true, false},
      // Today's types by the extension of the last segment.
      {"/s/style.CSS", true, false},
      {"f.woff2", true, false},
      {"a.js/x", false, false},
      {"v.webm", true, true},
      {"x.css-v=3", false, false},
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
