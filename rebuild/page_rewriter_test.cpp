#include "rebuild/page_io.h"

#include <csignal>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/paths.h"
#include "rebuild/tag_attributes.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

// Checks what every rewrite must keep: the segments cover the page in order, text outside
// tags and scripts goes out byte for byte, and the new page is exactly what was written.
class CheckingProbe : public RewriteProbe {
 public:
  void OnSegment(Segment kind, std::string_view original, std::string_view written) override {
    originals += original;
    writtenAll += written;
    if (kind == Segment::Text) {
      EXPECT_EQ(written, original);
    }
    if (kind == Segment::Tag && !original.empty()) {
      EXPECT_EQ(original.front(), '<');
    }
  }
  std::string originals;
  std::string writtenAll;
};

class ReconstructPageTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    ctx.startDir = root();
    ctx.logDir[0] = Path("save/log");
    tree = ctx.logDir[0];
    page = tree + "/host/dir/page.html";
  }

  // Stores a file of the tree (relative to the tree root).
  std::string Store(std::string_view relative, std::string_view content = "x") {
    return WriteFile("save/log/" + std::string(relative), content);
  }
  std::string Url(std::string_view relative) const {
    return platform::FileUrl(tree + "/" + std::string(relative));
  }

  // Writes the page, rewrites it and returns its new content.
  std::string Rewrite(const std::string& content, bool readRef = true) {
    WriteFile(page, content);
    return RewriteAgain(readRef);
  }
  std::string RewriteAgain(bool readRef = true) {
    std::string before = ReadFile(page);
    CheckingProbe probe;
    platform::PathTable paths;  // each rewrite is a job of its own
    result = ReconstructPage(RewriteContext{ctx, paths, links}, frontend, tree, page, readRef,
                             title, &probe);
    std::string after = ReadFile(page);
    if (result == PageRewrite::Rewritten) {
      EXPECT_EQ(probe.originals, before) << "every byte of the page must be handled once";
      EXPECT_EQ(probe.writtenAll, after);
    }
    return after;
  }

  JobContext ctx;
  LinkList* links = nullptr;  // the unreferenced-links job's list
  testing::ScriptedFrontend frontend;
  std::string tree;
  std::string page;
  std::string title;
  PageRewrite result = PageRewrite::OpenFailed;
};

TEST_F(ReconstructPageTest, PointsLinksAtStoredCopiesAndMissingOnesAtTheWeb) {
  Store("host/dir/pic.gif");
  Store("host/img/a.gif");
  Store("host/dir/sub/index.html");
  std::string out = Rewrite(
      "<HTML>\r\n<BODY BACKGROUND=\"pic.gif\">Text &amp; more\r\n"
      "<A HREF=\"sub/\">sub</A> <a href=other.html>o</a>\n"
      "<img src=/img/a.gif alt=\"x\"> <img src='pic.gif'>\n"
      "<form action=\"q.html\"><a href=\"mailto:me@host\">m</a></form></BODY>");
  EXPECT_EQ(result, PageRewrite::Rewritten);
  EXPECT_EQ(out, "<HTML>\r\n<BODY BACKGROUND=\"" + Url("host/dir/pic.gif") +
                     "\">Text &amp; more\r\n<A HREF=\"" + Url("host/dir/sub/index.html") +
                     "\">sub</A> <a href=http://host/dir/other.html>o</a>\n<img src=" +
                     Url("host/img/a.gif") + " alt=\"x\"> <img src='" + Url("host/dir/pic.gif") +
                     "'>\n"
                     "<form action=\"http://host/dir/q.html\"><a href=\"mailto:me@host\">m</a>"
                     "</form></BODY>");
  EXPECT_TRUE(frontend.messages().empty());
}

struct NameCase {
  const char* tag;
  bool rewritten;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.tag; }

class AttributeNameTest : public ReconstructPageTest,
                          public ::testing::WithParamInterface<NameCase> {};

TEST_P(AttributeNameTest, FindsANameAfterABlankWithAnEqualsSignWithinThree) {
  Store("host/dir/x.html");
  std::string tag = GetParam().tag;
  std::string out = Rewrite(tag);
  bool changed = out.find(Url("host/dir/x.html")) != std::string::npos;
  EXPECT_EQ(changed, GetParam().rewritten) << tag << " -> " << out;
  if (!GetParam().rewritten) {
    EXPECT_EQ(out, tag);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, AttributeNameTest,
    ::testing::Values(NameCase{"<a HREF=x.html>", true}, NameCase{"<a href = \"x.html\">", true},
                      NameCase{"<a href  =x.html>", true}, NameCase{"<a href   =x.html>", false},
                      NameCase{"<a\thref=x.html>", false}, NameCase{"<a xhref=x.html>", false},
                      NameCase{"<a href>x.html", false}));

TEST_F(ReconstructPageTest, LeavesLongValuesAndDecodesTheTilde) {
  Store("host/~me/x.html");
  std::string longValue = "/" + std::string(kValueTooLong - 2, 'v');
  std::string tooLong = "/" + std::string(kValueTooLong - 1, 'v');
  std::string out =
      Rewrite("<a href=" + longValue + "><a href=" + tooLong + "><a href=\"/%7Eme/x.html\">");
  EXPECT_EQ(out, "<a href=http://host" + longValue + "><a href=" + tooLong + "><a href=\"" +
                     Url("host/~me/x.html") + "\">");
}

TEST_F(ReconstructPageTest, StopsEachNameAfterThirtyOccurrencesButLetsLaterNamesAddOne) {
  Store("host/dir/x.gif");
  std::string tag = "<p";
  for (int i = 0; i < 32; ++i) tag += " href=x.gif";
  tag += " src=x.gif src=x.gif>";
  std::string expected = "<p";
  for (int i = 0; i < 30; ++i) expected += " href=" + Url("host/dir/x.gif");
  expected += " href=x.gif href=x.gif src=" + Url("host/dir/x.gif") + " src=x.gif>";
  EXPECT_EQ(Rewrite(tag), expected);
}

TEST_F(ReconstructPageTest, DisablesUnresolvedLinksWithoutReadRefAndEnablesThemOnceStored) {
  const std::string original = "<a href=other.html>o</a> <a href=\"x.html\">x</a>";
  Store("host/dir/x.html");
  std::string first = Rewrite(original, /*readRef=*/false);
  EXPECT_EQ(first, "<a hSef=http://host/dir/other.html>o</a> <a href=\"" + Url("host/dir/x.html") +
                       "\">x</a>");
  EXPECT_EQ(RewriteAgain(false), first) << "nothing changed in between";

  Store("host/dir/other.html");
  EXPECT_EQ(RewriteAgain(false), "<a hRef=" + Url("host/dir/other.html") + ">o</a> <a href=\"" +
                                     Url("host/dir/x.html") + "\">x</a>");

  // With READ_REF on, a disabled name is enabled even when its target is still missing.
  EXPECT_EQ(Rewrite("<a HSEF=gone.html>", /*readRef=*/true), "<a HREF=http://host/dir/gone.html>");
}

TEST_F(ReconstructPageTest, DisablesCounterImagesWhileReadCntIsOn) {
  const std::string page1 = "<img src=\"/cgi-bin/count.cgi?page\"><img src=b.gif>";
  ctx.readCnt = true;
  std::string disabled = Rewrite(page1);
  EXPECT_EQ(disabled,
            "<img srD=\"http://host/cgi-bin/count.cgi?page\"><img src=http://host/dir/b.gif>");
  ctx.readCnt = false;
  EXPECT_EQ(RewriteAgain(),
            "<img srC=\"http://host/cgi-bin/count.cgi?page\"><img src=http://host/dir/b.gif>");
}

TEST_F(ReconstructPageTest, OnlyABaseHrefAfterABlankChangesThePageDirectory) {
  Store("host/other/a.gif");
  Store("host/dir/b.gif");
  // Right after the tag name the base is resolved like any link and changes nothing else.
  EXPECT_EQ(Rewrite("<base href=\"http://host/other/\"><img src=a.gif>"),
            "<base href=\"http://host/other/\"><img src=http://host/dir/a.gif>");
  // After a blank it keeps its value; the base tag's own src still goes against the page's
  // directory.
  EXPECT_EQ(Rewrite("< base href=\"http://host/other/index.html\" src=b.gif>"
                    "<img src=a.gif><a href=\"c.html\">"),
            "< base href=\"http://host/other/index.html\" src=" + Url("host/dir/b.gif") + ">" +
                "<img src=" + Url("host/other/a.gif") + "><a href=\"http://host/other/c.html\">");
  // A folder ending in "log" stays below its host; a base naming a tree path goes there.
  Store("host/blog/a.gif");
  EXPECT_EQ(Rewrite("< base href=\"http://host/blog/\"><img src=a.gif><a href=c.html>"
                    "< base href=\"file:///elsewhere/log/host/other/\"><img src=a.gif>"),
            "< base href=\"http://host/blog/\"><img src=" + Url("host/blog/a.gif") +
                "><a href=http://host/blog/c.html>"
                "< base href=\"file:///elsewhere/log/host/other/\"><img src=" +
                Url("host/other/a.gif") + ">");
}

TEST_F(ReconstructPageTest, CodebaseBecomesADirectoryOfTheTree) {
  std::string out = Rewrite(
      "<applet code=A.class codebase=classes>"
      "<applet codebase=\"/java\" code=B.class>"
      "<applet codebase=http://other/j/>"
      "<applet codebase=file:///elsewhere/log/host/k>"
      "<applet codebase=/blog/java>");
  EXPECT_EQ(out, "<applet code=A.class codebase=" + platform::FileUrl(tree + "/host/dir/classes/") +
                     ">" + "<applet codebase=\"" + platform::FileUrl(tree + "/host/java/") +
                     "\" code=B.class>" +
                     "<applet codebase=" + platform::FileUrl(tree + "/other/j/") + ">" +
                     "<applet codebase=" + platform::FileUrl(tree + "/host/k/") + ">" +
                     "<applet codebase=" + platform::FileUrl(tree + "/host/blog/java/") + ">");
}

TEST_F(ReconstructPageTest, RewritesUrlStringsInsideJavaScript) {
  Store("host/dir/images/b.gif");
  std::string out = Rewrite(
      "<script language=\"JavaScript\">\n"
      "img.src = \"images/b.gif\"; s = 'a/b'; t = \"no slash here\"; u='images/c.gif'\n"
      "</script>\n<p>'images/b.gif'</p>");
  EXPECT_EQ(out,
            "<script language=\"JavaScript\">\n"
            "img.src = \"" +
                Url("host/dir/images/b.gif") +
                "\"; s = 'a/b'; t = \"no slash here\"; u='http://host/dir/images/c.gif'\n"
                "</script>\n<p>'images/b.gif'</p>");
  // A script still held at the end of the page is written out rewritten.
  EXPECT_EQ(
      Rewrite("<script language=javascript>x=\"images/b.gif\"; // no end tag"),
      "<script language=javascript>x=\"" + Url("host/dir/images/b.gif") + "\"; // no end tag");
  // A tag whose language value a browser reads on past its '>' starts no script: what follows
  // is still the value, and its '>' ends the tag.
  const std::string open = "<t language=\"JavaScript>\">x='images/b.gif' http://i=\"";
  EXPECT_EQ(Rewrite(open), open);
}

TEST_F(ReconstructPageTest, WritesAHugeScriptPartlyUnrewritten) {
  Store("host/dir/images/b.gif");
  // The first string lies in the part written out unchanged once the buffer is full.
  std::string head = "a=\"images/b.gif\";";
  std::string filler(kScriptHold + 1 - head.size(), ';');
  std::string page =
      "<script language=javascript>" + head + filler + "b=\"images/b.gif\";</script>";
  std::string out = Rewrite(page);
  EXPECT_EQ(out, "<script language=javascript>" + head + filler + "b=\"" +
                     Url("host/dir/images/b.gif") + "\";</script>");
}

TEST_F(ReconstructPageTest, CutsAHugeTagAndPassesItsRestAsText) {
  Store("host/dir/x.html");
  std::string head = "<a href=x.html alt=\"";
  std::string filler(kTagCut + 1 - head.size(), 'z');
  std::string rest = "\" href=x.html>t</a>";
  std::string out = Rewrite(head + filler + rest);
  EXPECT_EQ(out, "<a href=" + Url("host/dir/x.html") + " alt=\"" + filler + rest);
}

TEST_F(ReconstructPageTest, RewritesTagsWhereverTheBlockBoundaryFalls) {
  Store("host/dir/x.html");
  const std::string piece = "<a href=\"x.html\">x</a><title>T</title>";
  const std::string rewritten = "<a href=\"" + Url("host/dir/x.html") + "\">x</a><title>T</title>";
  for (std::size_t pad = kPageBlockSize - piece.size(); pad <= kPageBlockSize; ++pad) {
    std::string text(pad, 't');
    EXPECT_EQ(Rewrite(text + piece), text + rewritten) << "pad " << pad;
  }
}

TEST_F(ReconstructPageTest, CapturesTheTitleAndKeepsThePageMode) {
  WriteFile(page, "<title>Home</title>");
  ::chmod(page.c_str(), 0640);
  RewriteAgain();
  EXPECT_EQ(title, "Home");
  EXPECT_EQ(platform::GetStatus(page).mode & 07777, 0640u);
  auto names = platform::ListDirectory(tree + "/host/dir");
  EXPECT_EQ(names->size(), 3u) << "no temporary file may be left behind";
}

TEST_F(ReconstructPageTest, NeverRewritesAReadOnlyPage) {
  const std::string original = "<title>T</title><a href=x.html>";
  WriteFile(page, original);
  ::chmod(page.c_str(), 0444);
  RewriteAgain();
  EXPECT_EQ(result, PageRewrite::OpenFailed);
  EXPECT_EQ(ReadFile(page), original);
  EXPECT_EQ(title, "");
  EXPECT_EQ(
      frontend.messages(),
      std::vector<std::string>{"ERROR : 再構成するファイルを開くことができません\rpath=" + page});
  EXPECT_EQ(platform::GetStatus(page).mode & 07777, 0444u);
}

// Runs the rewrite in a child process under a resource limit; returns its exit code
// (the PageRewrite value) and leaves the page for the parent to inspect.
int RewriteInChild(const JobContext& ctx, const std::string& tree, const std::string& page,
                   int resource, rlim_t limit) {
  pid_t child = ::fork();
  if (child == 0) {
    testing::ScriptedFrontend frontend;
    // The sanitizers' checks of a virtual call may need descriptors of their own the first
    // time they meet a type: meet it before the limit.
    static_cast<Frontend&>(frontend).ShowStatus("child");
    FileDocument document;
    static_cast<DocumentSource&>(document).Rewind();
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {limit, limit};
    ::setrlimit(resource, &lim);
    std::string title;
    platform::PathTable paths;
    PageRewrite r = ReconstructPage(RewriteContext{ctx, paths}, frontend, tree, page, true, title);
    bool told = frontend.messages().size() == 1;
    ::_exit(told ? static_cast<int>(r) : 100);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(ReconstructPageTest, AFailedReplacementLeavesThePageAsItWas) {
  std::string original;
  while (original.size() < 200000) original += "<a href=x.html>link</a> text\r\n";
  WriteFile(page, original);
  int r = RewriteInChild(ctx, tree, page, RLIMIT_FSIZE, 50000);
  EXPECT_EQ(r, static_cast<int>(PageRewrite::WriteFailed));
  EXPECT_EQ(ReadFile(page), original);
  auto names = platform::ListDirectory(tree + "/host/dir");
  EXPECT_EQ(names->size(), 3u) << "no temporary file may be left behind";
}

TEST_F(ReconstructPageTest, ATemporaryFileThatCannotBeMadeLeavesThePageAsItWas) {
  const std::string original = "<a href=x.html>";
  WriteFile(page, original);
  // Room for the page's descriptor but not for the temporary file's.
  int probe = ::dup(0);
  ASSERT_GE(probe, 0);
  ::close(probe);
  int r = RewriteInChild(ctx, tree, page, RLIMIT_NOFILE, static_cast<rlim_t>(probe) + 1);
  EXPECT_EQ(r, static_cast<int>(PageRewrite::TempFileFailed));
  EXPECT_EQ(ReadFile(page), original);
}

// A page that comes out the same stays the same file (only its time moves, as a replacement
// would move it); one that changes far into the page is written whole.
TEST_F(ReconstructPageTest, ARewrittenPageChangesAgainOnlyWhereTargetsAppeared) {
  Store("host/dir/a.gif");
  std::string original =
      "<title>Stable</title><script language=JavaScript>i=\"img/c.gif\"</script>"
      "<img src=a.gif>" +
      std::string(20000, 'x') +
      "<img src=b.gif> <a href=\"/top/x.html#s\">x</a>"
      " <!-- <a href=y.html> -->";
  std::string once = Rewrite(original, false);
  struct stat rewritten = {};
  ASSERT_EQ(::stat(page.c_str(), &rewritten), 0);
  const struct timespec longAgo[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, page.c_str(), longAgo, 0), 0);
  EXPECT_EQ(RewriteAgain(false), once);
  struct stat again = {};
  ASSERT_EQ(::stat(page.c_str(), &again), 0);
  EXPECT_EQ(again.st_ino, rewritten.st_ino);
  EXPECT_GT(again.st_mtime, 1000);

  Store("host/dir/b.gif");
  std::string twice = RewriteAgain(false);
  std::string expected = once;
  std::string oldB = "src=http://host/dir/b.gif";
  expected.replace(expected.find(oldB), oldB.size(), "src=" + Url("host/dir/b.gif"));
  EXPECT_EQ(twice, expected);
  EXPECT_EQ(title, "Stable");
}

TEST_F(ReconstructPageTest, RecordsExternalLinksThatDidNotResolveInLinkListMode) {
  Store("host/dir/here.html");
  const std::string content =
      "<a href=http://ext/a.html#frag><a href=here.html><img src=http://ext/m.mov>"
      "<form action=http://ext/f.html><a href=\"http://ext/cgi-bin/q.cgi?x=1\">";
  Rewrite(content);
  EXPECT_FALSE(platform::StatPath(Path("serch.tmp")).exists()) << "only in link-list mode";

  LinkList list;
  ASSERT_TRUE(list.Open(Path("serch.tmp")));
  links = &list;
  Rewrite(content);
  ASSERT_TRUE(list.Close());
  EXPECT_EQ(ReadFile("serch.tmp"), "http://ext/a.html 0\r\nhttp://ext/cgi-bin/q.cgi?x=1 0\r\n");
}

TEST(LinkListTest, CutsQueriesAndSkipsMediaAndLongLinks) {
  platform::TempDirectory dir;
  const std::string path = dir.path() + "/serch.tmp";
  LinkList list;
  ASSERT_TRUE(list.Open(path));
  list.Record("http://h/a/../b.html?q", false);
  list.Record("http://h/?q", false);  // no '?' from position 10 on
  list.Record("http://h/v.avi", false);
  list.Record("http://h/" + std::string(kLinkListMax, 'l'), false);
  list.Record("ftp://h/x.html", false);
  list.Record("HTTP://h/found.html", true);
  ASSERT_TRUE(list.Close());
  EXPECT_EQ(platform::ReadFile(path).value_or(""), "http://h/b.html 0\r\nhttp://h/?q 0\r\n");
  // The long link is kept apart for its job to report.
  EXPECT_EQ(list.tooLong(), std::set<std::string>{"http://h/" + std::string(kLinkListMax, 'l')});
}

}  // namespace
}  // namespace lumbra
