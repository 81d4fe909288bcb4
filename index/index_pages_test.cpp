#include "index/index_pages.h"

#include <regex>
#include <set>

#include "index/frame_pages.h"
#include "index/site_list.h"
#include "platform/fs.h"
#include "testing/page_test.h"

namespace lumbra::testing {
namespace {

// A current copy: the web link, then the local link and the visible text.
std::string NewEntry(std::string_view address, std::string_view path, std::string_view text) {
  return Crlf("<DD><A HREF=\"http://" + std::string(address) +
              "\" target=\"newwindow\" ><NOBR> [NEW]</A> <A HREF=\"file://" + std::string(path) +
              "\" target=\"newwindow\" >" + std::string(text) + "</NOBR></A>\n");
}
std::string OldEntry(std::string_view path, std::string_view text) {
  return Crlf("<DD><NOBR> [OLD] <A HREF=\"file://" + std::string(path) +
              "\" target=\"newwindow\" >" + std::string(text) + "</NOBR></A>\n");
}
std::string Site(int anchor, std::string_view site) {
  return Crlf("<A NAME=\"" + std::to_string(anchor) + "\" >\n<P><DT><B>" + std::string(site) +
              "</B>\n");
}

class IndexPagesTest : public PageTest {
 protected:
  std::string SiteLink(std::string_view indexPage, int anchor, std::string_view site) const {
    return Crlf("<B><A HREF=\"file://" + Idx(indexPage) + "#" + std::to_string(anchor) +
                "\" TARGET=\"home\"><NOBR>" + std::string(site) + "</NOBR></A></B><BR>\n");
  }
};

TEST_F(IndexPagesTest, EveryPageOfAJobByteForByte) {
  // Recorded in this order, the exchange sort puts the second record of dir/page.html first.
  const std::string page = Record(0, "site1/dir/page.html", "Page");
  Record(0, "site1/dir/page.html", "Again");
  const std::string top = Record(0, "site1/dir/index.html", "Top");
  const std::string port = Record(0, "www.a-0b-8080/a-1/b.html", "Port");
  const std::string old = Record(0, "site1/page-old0003.html", "Old");
  const std::string eucHome = "\xA5\xDB\xA1\xBC\xA5\xE0";  // "ホーム" in EUC-JP
  const std::string home = Record(1, "site2/Home.htm", eucHome);
  const std::string dfl = Record(1, "site2/sub/default.htm", "Def");
  const std::string sjisHome = J("ホーム");

  WriteIndexPages(ctx, frontend, table, "newidx_");
  WriteIndexPages(ctx, frontend, table, "allidx_");
  WriteIndexPages(ctx, frontend, table, "surfidx");
  WriteFramePages(ctx, frontend);
  EXPECT_TRUE(frontend.messages().empty());

  const std::string logA = BarLink("Ａ", "allidx_a.htm"), logB = BarLink("Ｂ", "allidx_b.htm"),
                    logC = BarLink("Ｃ", "allidx_c.htm"), logD = BarLink("Ｄ", "allidx_d.htm"),
                    logE = BarLink("Ｅ", "allidx_e.htm");
  const std::string site1 = Site(1, "site1") + NewEntry("site1/dir/", top, " Indx__+_Top") +
                            NewEntry("site1/dir/page.html", page, " ______+_Again") +
                            OldEntry(old, " ______Old");
  const std::string site2 = NewEntry("www.a-0b:8080/a-1/b.html", port, " ______+_Port");
  const std::string siteHome =
      NewEntry("site2/", home, " Home__" + sjisHome) + NewEntry("site2/sub/", dfl, "  _dfl__+_Def");
  const std::string allEntries =
      site1 + Site(2, "www.a-0b-8080") + site2 + Site(3, "site2") + siteHome;

  EXPECT_EQ(ReadFile(Idx("newidx.htm")),
            IndexHeader(J("新規"), logA + logB + logC + logD + logE) + allEntries + IndexFooter());
  EXPECT_EQ(ReadFile(Idx("surfidx.htm")),
            IndexHeader(J("自動閲覧"), logA + logB + logC + logD + logE + NewPagesLink()) +
                allEntries + IndexFooter());
  EXPECT_EQ(ReadFile(Idx("allidx_a.htm")),
            IndexHeader(J("ログ　Ａ"), logB + logC + logD + logE + NewPagesLink()) + site1 +
                Site(2, "www.a-0b-8080") + site2 + IndexFooter());
  EXPECT_EQ(ReadFile(Idx("allidx_b.htm")),
            IndexHeader(J("ログ　Ｂ"), logA + logC + logD + logE + NewPagesLink()) +
                Site(1, "site2") + siteHome + IndexFooter());
  EXPECT_EQ(ReadFile(Idx("allidx_c.htm")),
            IndexHeader(J("ログ　Ｃ"), logA + logB + logD + logE + NewPagesLink()) + IndexFooter());
  EXPECT_EQ(ReadFile(Idx("allidx_d.htm")),
            IndexHeader(J("ログ　Ｄ"), logA + logB + logC + logE + NewPagesLink()) + IndexFooter());
  EXPECT_EQ(ReadFile(Idx("allidx_e.htm")),
            IndexHeader(J("ログ　Ｅ"), logA + logB + logC + logD + NewPagesLink()) + IndexFooter());

  EXPECT_EQ(ReadFile(Idx("www_n.htm")), SiteListHeader(J("新規")) +
                                            SiteLink("newidx.htm", 1, "site1") +
                                            SiteLink("newidx.htm", 2, "www.a-0b-8080") +
                                            SiteLink("newidx.htm", 3, "site2") + SiteListFooter());
  EXPECT_EQ(ReadFile(Idx("www_a.htm")),
            SiteListHeader("alog") + SiteLink("allidx_a.htm", 1, "site1") +
                SiteLink("allidx_a.htm", 2, "www.a-0b-8080") + SiteListFooter());
  EXPECT_EQ(ReadFile(Idx("www_b.htm")),
            SiteListHeader("blog") + SiteLink("allidx_b.htm", 1, "site2") + SiteListFooter());
  EXPECT_EQ(ReadFile(Idx("www_c.htm")), SiteListHeader("clog") + SiteListFooter());
  EXPECT_EQ(ReadFile(Idx("www_d.htm")), SiteListHeader("dlog") + SiteListFooter());
  EXPECT_EQ(ReadFile(Idx("www_e.htm")), SiteListHeader("elog") + SiteListFooter());
}

TEST_F(IndexPagesTest, EmptyLogIsLeftOutOfPagesAndBars) {
  ctx.logDir[1].clear();
  Record(0, "h/a.html", "A");
  WriteIndexPages(ctx, frontend, table, "allidx_");
  for (const char* page : {"allidx_a.htm", "allidx_c.htm", "allidx_d.htm", "allidx_e.htm"}) {
    const std::string text = ReadFile(Idx(page));
    EXPECT_NE(text, "<missing>") << page;
    EXPECT_EQ(text.find("allidx_b.htm"), std::string::npos) << page;
  }
  EXPECT_FALSE(platform::StatPath(Idx("allidx_b.htm")).exists());
  WriteIndexPages(ctx, frontend, table, "allidx_b");
  EXPECT_FALSE(platform::StatPath(Idx("allidx_b.htm")).exists());
  EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(IndexPagesTest, OneLogSelectorWritesOnlyThatPage) {
  Record(3, "h/a.html", "A");
  WriteIndexPages(ctx, frontend, table, "allidx_d");
  EXPECT_TRUE(platform::StatPath(Idx("allidx_d.htm")).exists());
  for (const char* page : {"allidx_a.htm", "allidx_c.htm", "allidx_e.htm", "newidx.htm"}) {
    EXPECT_FALSE(platform::StatPath(Idx(page)).exists()) << page;
  }
  EXPECT_NE(ReadFile(Idx("allidx_d.htm")).find(" ______A</NOBR>"), std::string::npos);
}

TEST_F(IndexPagesTest, LogFilterIsAPlainSubstringTest) {
  // Log B lies inside log A's text: B's pages are listed on A's page as well.
  ctx.logDir[0] = MakeDir("x/log");
  ctx.logDir[1] = MakeDir("x/log/y/log");
  const std::string inB = Record(1, "hb/b.html", "B");
  const std::string inA = Record(0, "ha/a.html", "A");
  WriteIndexPages(ctx, frontend, table, "allidx_");
  const std::string pageA = ReadFile(Idx("allidx_a.htm"));
  const std::string pageB = ReadFile(Idx("allidx_b.htm"));
  EXPECT_NE(pageA.find(inA), std::string::npos);
  EXPECT_NE(pageA.find(inB), std::string::npos);
  EXPECT_NE(pageB.find(inB), std::string::npos);
  EXPECT_EQ(pageB.find(inA), std::string::npos);
  // On A's page, B's page has "y" as its site: the text after the first "log/".
  EXPECT_NE(pageA.find("<P><DT><B>y</B>"), std::string::npos);
}

TEST_F(IndexPagesTest, WebAddressOfAnEntry) {
  const struct {
    const char* below;
    const char* line;  // the entry as it must appear
  } cases[] = {
      {"host-8080/a-1/p.html", "HREF=\"http://host:8080/a-1/p.html\""},
      {"www.x-0-9/p.html", "HREF=\"http://www.x-0:9/p.html\""},
      {"w-88.h/p.html", "HREF=\"http://w-88.h/p.html\""},  // before the fifth character
      {"host/dir/Index.HTML", "HREF=\"http://host/dir/\""},
      {"host/dir/page-OLD0003.html", "<DD><NOBR> [OLD] <A HREF"},
      {"host/a/b/c/home.html", " Home__+_+_+_t</NOBR>"},
      {"lone", " ______t</NOBR>"},
  };
  for (const auto& c : cases) {
    table.Clear();
    Record(0, c.below, "t");
    WriteIndexPages(ctx, frontend, table, "newidx_");
    EXPECT_NE(ReadFile(Idx("newidx.htm")).find(c.line), std::string::npos) << c.below;
  }
}

// A web address, a path or a site name is written into a page as an attribute or as text, never
// as markup: the index pages (surfidx.htm too), the site lists and the bars.
TEST_F(IndexPagesTest, AddressesPathsAndNamesAreEscapedOnEveryPage) {
  ctx.logDir[0] = MakeDir("save/a&\"<x>log");
  ctx.logSetting[0] = ctx.logDir[0];
  const std::string page = Record(0, "q.example/a\"onmouseover=\"alert(3).html", "t");
  Record(0, "s<i>&b/p.html", "t");
  WriteIndexPages(ctx, frontend, table, "newidx_");
  WriteIndexPages(ctx, frontend, table, "surfidx");
  WriteIndexPages(ctx, frontend, table, "allidx_");
  WriteFramePages(ctx, frontend);
  EXPECT_TRUE(frontend.messages().empty());

  const std::string escapedPath =
      Path("save/a&amp;%22%3Cx%3Elog/q.example/a%22onmouseover=%22alert(3).html");
  for (const char* name : {"newidx.htm", "surfidx.htm", "allidx_a.htm"}) {
    SCOPED_TRACE(name);
    const std::string index = ReadFile(Idx(name));
    EXPECT_NE(index.find("HREF=\"http://q.example/a%22onmouseover=%22alert(3).html\""),
              std::string::npos);
    EXPECT_NE(index.find("HREF=\"file://" + escapedPath + "\""), std::string::npos);
    EXPECT_NE(index.find("<P><DT><B>s&lt;i&gt;&amp;b</B>"), std::string::npos);
    EXPECT_EQ(index.find("\"onmouseover"), std::string::npos);
    EXPECT_EQ(index.find("<i>"), std::string::npos);
  }
  EXPECT_NE(ReadFile(Idx("newidx.htm")).find(":a&amp;\"&lt;x&gt;log</A>"), std::string::npos);
  for (const char* name : {"www_n.htm", "www_a.htm"}) {
    SCOPED_TRACE(name);
    const std::string list = ReadFile(Idx(name));
    EXPECT_NE(list.find("<NOBR>s&lt;i&gt;&amp;b</NOBR>"), std::string::npos);
    EXPECT_EQ(list.find("<i>"), std::string::npos);
  }
  const std::string top = ReadFile(Idx("top.htm"));
  EXPECT_NE(top.find(":a&amp;\"&lt;x&gt;log</A>"), std::string::npos);
  EXPECT_EQ(top.find("<x>"), std::string::npos);
}

TEST_F(IndexPagesTest, MissingIndexDirectoryReportsEachPage) {
  ctx.indexDir = Path("nowhere");
  Record(0, "h/a.html", "A");
  WriteIndexPages(ctx, frontend, table, "newidx_");
  EXPECT_EQ(frontend.messages(),
            std::vector<std::string>{"ERROR : インデクスファイルが作成できません\rINDEX_DIR: " +
                                     Path("nowhere/newidx.htm") + ": No such file or directory"});
  EXPECT_FALSE(platform::StatPath(ctx.indexDir).exists());
}

TEST_F(IndexPagesTest, SiteListOfAMissingIndexPageIsNotWritten) {
  const std::string older = WriteFile("idx/www_a.htm", "older");
  EXPECT_EQ(WriteSiteListPage(ctx, frontend, "/allidx_a.htm", "/www_a.htm", "alog"),
            SiteList::NoIndexPage);
  EXPECT_EQ(ReadFile(older), "older");
  EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(IndexPagesTest, SiteListReadsLongLinesWhole) {
  // A line longer than 1,023 characters whose tail looks like a site line is not a site.
  WriteFile("idx/newidx.htm", "<A NAME=\"4\" >\r\n<P><DT><B>real</B>\r\n" + std::string(1023, 'x') +
                                  "<P><DT><B>fake</B>\r\n");
  ASSERT_EQ(WriteSiteListPage(ctx, frontend, "/newidx.htm", "/www_n.htm", "n"), SiteList::Written);
  const std::string list = ReadFile(Idx("www_n.htm"));
  EXPECT_NE(list.find("newidx.htm#4\" TARGET=\"home\"><NOBR>real</NOBR>"), std::string::npos);
  EXPECT_EQ(list.find("fake"), std::string::npos);
}

TEST(LogDisplayNameTest, LastComponentWithoutExtension) {
  EXPECT_EQ(LogDisplayName("/home/u/save/alog"), "alog");
  EXPECT_EQ(LogDisplayName("D:\\web\\my.log"), "my");
  EXPECT_EQ(LogDisplayName("/home/u/alog/"), "");
  EXPECT_EQ(LogDisplayName(""), "");
}

TEST(BuildIndexLinkBarTest, LongBarsAreKeptWhole) {
  JobContext ctx;
  ctx.indexDir = "/" + std::string(kJobPathMax - 1, 'i');
  for (int k = 0; k < kLogTreeCount; ++k) {
    ctx.logDir[k] = ctx.logSetting[k] = "/" + std::string(kJobPathMax - 1, 'n');
  }
  const std::string bar = BuildIndexLinkBar(ctx, kLinkBarSurf);
  EXPECT_GT(bar.size(), 1000u);
  const std::string tail = "<A HREF=\"file://" + ctx.indexDir + "/allidx_e.htm\">" + J("Ｅ:") +
                           ctx.logDir[4].substr(1) + "</A> <A HREF=\"file://" + ctx.indexDir +
                           "/newidx.htm\">" + J("新規") + "</A> ";
  EXPECT_TRUE(bar.ends_with(tail));
  EXPECT_TRUE(bar.starts_with("<A HREF=\"file://" + ctx.indexDir + "/allidx_a.htm\">"));
}

}  // namespace
}  // namespace lumbra::testing
