// The link forms of today's pages, rewritten in saved pages and stored style sheets.
#include <ostream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "rebuild/css_rewriter.h"
#include "rebuild/page_io.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

// The page host/dir/page.html of the tree save/log, with stored copies of the files below.
class LinkFormsTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    ctx.startDir = root();
    ctx.logDir[0] = Path("save/log");
    for (const char* file :
         {"host/dir/a.png", "host/dir/b.png", "host/img/c.png", "host/css/site.css",
          "host/dir/v.mp4", "host/dir/poster.jpg", "host/dir/frame.html", "host/favicon.ico",
          "other/font.woff2", "o.example/b.html"}) {
      WriteFile("save/log/" + std::string(file), "x");
    }
  }

  // "{T}x" in a text stands for the file:// URL of x in the tree.
  std::string Expand(std::string_view text) const {
    std::string out(text);
    const std::string tree = platform::FileUrl(ctx.logDir[0] + "/");
    for (std::size_t at = out.find("{T}"); at != std::string::npos; at = out.find("{T}", at)) {
      out.replace(at, 3, tree);
    }
    return out;
  }

  // Writes `content` as `relative` in the tree, rewrites it and returns the new content.
  std::string Rewrite(const std::string& content,
                      const std::string& relative = "host/dir/page.html") {
    const std::string path = WriteFile("save/log/" + relative, content);
    platform::PathTable paths;
    const RewriteContext job{ctx, paths, links};
    std::string title;
    const PageRewrite result =
        IsStyleSheet(relative) ? ReconstructStyleSheet(job, frontend, ctx.logDir[0], path)
                               : ReconstructPage(job, frontend, ctx.logDir[0], path, true, title);
    EXPECT_EQ(result, PageRewrite::Rewritten);
    return ReadFile(path);
  }
  static bool IsStyleSheet(const std::string& path) { return path.ends_with(".css"); }

  JobContext ctx;
  LinkList* links = nullptr;  // the unreferenced-links job's list
  testing::ScriptedFrontend frontend;
};

struct FormCase {
  const char* what;
  const char* page;
  const char* expected;  // "{T}" as in LinkFormsTest::Expand
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.what; }

class TodaysFormsTest : public LinkFormsTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(TodaysFormsTest, PointAtStoredCopiesAndMissingOnesAtTheWeb) {
  EXPECT_EQ(Rewrite(GetParam().page), Expand(GetParam().expected));
}

// Missing documents are named .gif or .html here, extensions whose web form a relative link
// gets; the rest of a candidate (descriptors, blanks, quotes) is kept byte for byte.
INSTANTIATE_TEST_SUITE_P(
    Forms, TodaysFormsTest,
    ::testing::Values(
        FormCase{
            "srcset", "<img srcset=\"a.png 1x, b.png 2x,gone.gif 3x\" src=a.png>",
            "<img srcset=\"{T}host/dir/a.png 1x, {T}host/dir/b.png 2x,http://host/dir/gone.gif "
            "3x\" src={T}host/dir/a.png>"},
        FormCase{"srcset, widths and commas", "<img srcset='a.png,, /img/c.png 200w'>",
                 "<img srcset='{T}host/dir/a.png,, {T}host/img/c.png 200w'>"},
        FormCase{"imagesrcset", "<link rel=preload as=image imagesrcset=\"b.png 2x\">",
                 "<link rel=preload as=image imagesrcset=\"{T}host/dir/b.png 2x\">"},
        FormCase{"source", "<video><source src=\"v.mp4\" type=\"video/mp4\"><source srcset=b.png>",
                 "<video><source src=\"{T}host/dir/v.mp4\" type=\"video/mp4\"><source "
                 "srcset={T}host/dir/b.png>"},
        FormCase{"poster", "<video poster=\"poster.jpg\"></video><video poster=none.jpg>",
                 "<video poster=\"{T}host/dir/poster.jpg\"></video><video "
                 "poster=http://host/dir/none.jpg>"},
        FormCase{
            "link",
            "<link rel=stylesheet href=\"/css/site.css\"><link rel=icon "
            "href=/favicon.ico><link rel=preload href=\"http://other/font.woff2\" as=font>",
            "<link rel=stylesheet href=\"{T}host/css/site.css\"><link rel=icon "
            "href={T}host/favicon.ico><link rel=preload href=\"{T}other/font.woff2\" as=font>"},
        FormCase{"iframe", "<iframe src=\"frame.html\"></iframe><iframe src=gone.html>",
                 "<iframe src=\"{T}host/dir/frame.html\"></iframe><iframe "
                 "src=http://host/dir/gone.html>"},
        FormCase{"data-src", "<img data-src=\"a.png\" data-srcset=\"a.png 1x\">",
                 "<img data-src=\"a.png\" data-srcset=\"a.png 1x\">"},
        FormCase{"style attribute",
                 "<div style=\"background: url(a.png); mask: url('gone.gif')\"></div>",
                 "<div style=\"background: url({T}host/dir/a.png); mask: "
                 "url('http://host/dir/gone.gif')\"></div>"},
        FormCase{
            "style element",
            "<style>@import \"../css/site.css\"; @import url(/css/site.css) print;\n"
            "body{background:URL( \"b.png\" )} /* url(a.png) */ p:after{content:'url(a.png)'}"
            "</style><p style=\"x:url(a.png)\">",
            "<style>@import \"{T}host/css/site.css\"; @import url({T}host/css/site.css) print;\n"
            "body{background:URL( \"{T}host/dir/b.png\" )} /* url(a.png) */ "
            "p:after{content:'url(a.png)'}</style><p style=\"x:url({T}host/dir/a.png)\">"},
        // A title's text reaches the rewriting whole, tags and all: a style element that ends
        // in it is written before what follows, with a string its sheet leaves open.
        FormCase{"style element in a title's text", "<a<TITLE><style>@import\"</style><",
                 "<a<TITLE><style>@import\"</style><"},
        // A link that names no document stays as it is. A fragment-only link of the 1990s
        // attributes still becomes the page's own file:// URL plus the anchor, as it always
        // has; in today's forms (an SVG paint server in CSS) it stays.
        FormCase{"schemes and anchors",
                 "<img srcset=\"data:image/gif;base64,R0lGOD 1x, a.png 2x\">"
                 "<a href=\"javascript:open('http://o.example/b.html')\">j</a>"
                 "<a href=tel:+15550100>t</a><a href=\"mailto:me@host\">m</a>"
                 "<a href=blob:http://host/1>b</a><svg style=\"fill:url(#g)\"></svg>"
                 "<a href=\"#top\">top</a>",
                 "<img srcset=\"data:image/gif;base64,R0lGOD 1x, {T}host/dir/a.png 2x\">"
                 "<a href=\"javascript:open('http://o.example/b.html')\">j</a>"
                 "<a href=tel:+15550100>t</a><a href=\"mailto:me@host\">m</a>"
                 "<a href=blob:http://host/1>b</a><svg style=\"fill:url(#g)\"></svg>"
                 "<a href=\"{T}host/dir/page.html#top\">top</a>"},
        FormCase{"no scheme", "<script src=\"//other/font.woff2\"></script><img src=//cdn/x.gif>",
                 "<script src=\"{T}other/font.woff2\"></script><img src=//cdn/x.gif>"}));

// A value is read between its quotes, whatever they are, and written back in them; what it
// holds of that quote is escaped, so the value stays one value.
INSTANTIATE_TEST_SUITE_P(
    Quotes, TodaysFormsTest,
    ::testing::Values(
        FormCase{"single quotes", "<a href='http://o.example/b.html'>b</a><img src='/img/c.png'>",
                 "<a href='{T}o.example/b.html'>b</a><img src='{T}host/img/c.png'>"},
        FormCase{"single quotes unresolved", "<a href='http://o.example/none.html' id=x>",
                 "<a href='http://o.example/none.html' id=x>"},
        // The tokenizer ends the tag at the first '>': a browser reads on inside the value,
        // so neither it nor the tags up to the closing quote are rewritten.
        FormCase{"markup inside a value",
                 "<a href='http://o.example/\"><script src=a.png></script>'>x</a><img src=a.png>",
                 "<a href='http://o.example/\"><script src=a.png></script>'>x</a><img "
                 "src={T}host/dir/a.png>"},
        FormCase{"an unclosed double quote",
                 "<a href=\"frame.html>text</a> <img src=\"a.png\"> <img src=b.png>",
                 "<a href=\"{T}host/dir/frame.html>text</a> <img src=\"a.png\"> <img "
                 "src={T}host/dir/b.png>"},
        // The old reading runs an unquoted value on over a form feed or a line break, where a
        // browser ends it, and over what follows; where a quote comes after, the value stays
        // as it is (a browser opens a value there that the new one would not, or the reverse).
        FormCase{"a quote past a form feed", "<a href=o\ff='http://>x", "<a href=o\ff='http://>x"},
        FormCase{"a quote right after a form feed", "<applet codebase=u\fd=\"x>y",
                 "<applet codebase=u\fd=\"x>y"},
        FormCase{"a quote after a line break and blanks", "<applet codebase=u\nd=\t \"x>y",
                 "<applet codebase=u\nd=\t \"x>y"},
        FormCase{"a quote a new value would open", "<applet codebase=u\nD= D=\"<",
                 "<applet codebase=u\nD= D=\"<"},
        // Blanks alone past the break leave the rest as a browser reads it (the break comes
        // out as a blank, as it always has).
        FormCase{"a line break before the next attribute", "<img src=a.png\n  alt=\"x\">",
                 "<img src={T}host/dir/a.png   alt=\"x\">"},
        FormCase{"a name inside another value", "<img alt=\"see srcset=a.png\" src=\"a.png\">",
                 "<img alt=\"see srcset=a.png\" src=\"{T}host/dir/a.png\">"}));

TEST_F(LinkFormsTest, AValueIsEscapedForTheQuoteItIsWrittenIn) {
  // A directory whose name holds both quotes and a blank, as a URL may.
  const std::string dir = "host/it's \"q\"/";
  WriteFile("save/log/" + dir + "a.gif", "x");
  const std::string url = platform::FileUrl(ctx.logDir[0] + "/host/it");
  EXPECT_EQ(Rewrite("<img src=\"a.gif\"><img srcset='a.gif 1x'><img src=a.gif>", dir + "p.html"),
            "<img src=\"" + url + "'s &quot;q&quot;/a.gif\">" +        //
                "<img srcset='" + url + "&#39;s%20\"q\"/a.gif 1x'>" +  //
                "<img src=" + url + "'s&#32;\"q\"/a.gif>");
}

TEST_F(LinkFormsTest, AStyleSheetIsRewrittenRelativeToItsOwnPlace) {
  const std::string sheet =
      "@import 'print.css';\n"
      "@font-face { src: url(http://other/font.woff2) format(\"woff2\"),"
      " url(http://other/gone.gif); }\n"
      ".a { background: url(../dir/a.png) } .b { background: url(\"/img/c.png\") }\n"
      ".c { background: url(img/none.gif) } .d { background-image: url(data:image/gif;base64,R0) "
      "}\n"
      ".e { filter: url(#blur) } .f { background: url(a\\(b.png) }\n";
  WriteFile("save/log/host/css/print.css", "x");
  EXPECT_EQ(Rewrite(sheet, "host/css/site.css"),
            Expand("@import '{T}host/css/print.css';\n"
                   "@font-face { src: url({T}other/font.woff2) format(\"woff2\"),"
                   " url(http://other/gone.gif); }\n"
                   ".a { background: url({T}host/dir/a.png) } .b { background: "
                   "url(\"{T}host/img/c.png\") }\n"
                   ".c { background: url(http://host/css/img/none.gif) } .d { background-image: "
                   "url(data:image/gif;base64,R0) }\n"
                   ".e { filter: url(#blur) } .f { background: url(a\\(b.png) }\n"));
}

TEST_F(LinkFormsTest, AStyleSheetIsRewrittenWhereverTheBlockBoundaryFalls) {
  const std::string rule = "p{background:url( '/img/c.png' )}/*x*/";
  const std::string rewritten = Expand("p{background:url( '{T}host/img/c.png' )}/*x*/");
  for (std::size_t pad = kPageBlockSize - rule.size(); pad <= kPageBlockSize; ++pad) {
    const std::string filler(pad, ' ');
    EXPECT_EQ(Rewrite(filler + rule, "host/css/site.css"), filler + rewritten) << "pad " << pad;
    EXPECT_EQ(Rewrite("<style>" + filler + rule + "</style>"),
              "<style>" + filler + rewritten + "</style>")
        << "pad " << pad;
    // Inside a title's text (which reaches the rewriting as text, tags and all) the element's
    // end tag may be cut anywhere; it ends the sheet, whose open string is left as it was.
    const std::string inTitle = "<a title=t><style>" + filler.substr(20) + "@import \"x</style>=";
    EXPECT_EQ(Rewrite(inTitle), inTitle) << "pad " << pad;
  }
}

TEST_F(LinkFormsTest, UnresolvedExternalLinksOfTodaysFormsGoIntoTheLinkList) {
  LinkList list;
  ASSERT_TRUE(list.Open(Path("serch.tmp")));
  links = &list;
  Rewrite(
      "<img srcset=\"http://ext/a.gif 1x, a.png 2x\"><p style=\"background:url(http://ext/b.gif)\">"
      "<img src=//ext/c.gif><a href=\"javascript:go('http://ext/no.html')\">");
  Rewrite("@import url(http://ext/d.css); a{background:url(data:,http://ext/no.gif)}",
          "host/css/site.css");
  ASSERT_TRUE(list.Close());
  EXPECT_EQ(
      ReadFile("serch.tmp"),
      "http://ext/a.gif 0\r\nhttp://ext/b.gif 0\r\nhttp://ext/c.gif 0\r\nhttp://ext/d.css 0\r\n");
}

// The reading of CSS itself, with a resolver that marks what it was given.
TEST(CssRewriterTest, HandsOverEveryUrlAndNothingElseInPiecesOfAnySize) {
  const CssRewriter::Resolve mark = [](std::string& url, bool import) {
    url = (import ? "I:" : "U:") + url;
    if (url == "U:space") url = "U:a b(c)";
  };
  const std::string longUrl(kCssUrlMax + 10, 'd');
  const std::string sheet =
      "@import \"x.css\";@IMPORT 'y.css' screen;@import url(z.css);@imports 'no';\n"
      "a{b:url(a.png);c:Url(  \"b c.png\"  );d:url( e.png )}\n"
      "/* url(no.png) */ e{content:\"url(no.png)\";f:myurl(no.png);g:url(g\\).png)}\n"
      "h{i:url(bad\"x);j:url();k:url(space);l:url('space');m:url(" +
      longUrl +
      ");n:url(n.png)}\n"
      "o{p:url('broken\n.png')}";
  const std::string expected =
      "@import \"I:x.css\";@IMPORT 'I:y.css' screen;@import url(U:z.css);@imports 'no';\n"
      "a{b:url(U:a.png);c:Url(  \"U:b c.png\"  );d:url( U:e.png )}\n"
      "/* url(no.png) */ e{content:\"url(no.png)\";f:myurl(no.png);g:url(g\\).png)}\n"
      "h{i:url(bad\"x);j:url();k:url(U:a%20b%28c%29);l:url('U:a b(c)');m:url(" +
      longUrl +
      ");n:url(U:n.png)}\n"
      "o{p:url('broken\n.png')}";
  EXPECT_EQ(RewriteCss(sheet, mark), expected);
  // Cut in two anywhere, the sheet comes out the same.
  for (std::size_t cut = 0; cut <= sheet.size(); ++cut) {
    CssRewriter rewriter(mark);
    std::string out;
    rewriter.Feed(std::string_view(sheet).substr(0, cut), out);
    ASSERT_LE(rewriter.heldBytes(), kCssUrlMax);
    rewriter.Feed(std::string_view(sheet).substr(cut), out);
    rewriter.Finish(out);
    ASSERT_EQ(out, expected) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace lumbra
