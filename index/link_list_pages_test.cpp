#include "index/link_list_pages.h"

#include <algorithm>
#include <cstdio>

#include "platform/fs.h"
#include "testing/page_test.h"

namespace lumbra::testing {
namespace {

class LinkListPagesTest : public PageTest {
 protected:
  static std::string LinkPage(std::string_view entries) {
    return Crlf(
               "<HTML><TITLE>Bookmark for Lumbra</TITLE>\n"
               "<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n"
               "<BASEFONT SIZE=\"3\">\n"
               "<DT>\n" +
               std::string(entries)) +
           "</BODY></HTML>";
  }
  static std::string Entry(std::string_view address, std::string_view shown) {
    return "<DD><A HREF=\"" + std::string(address) + "\" target=\"newwindow\"><NOBR> " +
           std::string(shown) + "</NOBR></A><BR>\n";
  }
  std::string ListedPage(std::string_view kind, std::string_view file) const {
    const std::string path = Idx("search/" + std::string(kind) + "/" + std::string(file));
    return "<OD><A HREF=\"file://" + path + "\" target=\"home\"><NOBR> " + std::string(file) +
           "</NOBR></A><BR>\r\n";
  }
  std::string HtmPage(std::string_view name) const {
    return ReadFile(Idx("search/htm/" + std::string(name) + ".link_htm.htm"));
  }
  std::string JpgPage(std::string_view name) const {
    return ReadFile(Idx("search/jpg/" + std::string(name) + ".link_jpg.htm"));
  }
  int Write(std::string_view list, std::string_view name) {
    WriteFile("serch.tmp", list);
    return WriteLinkListPages(ctx, frontend, name);
  }
};

TEST_F(LinkListPagesTest, PagesByteForByte) {
  ctx.execLog = true;
  // A line longer than 249 characters goes on as the next line: its last characters are
  // read as an address of their own.
  const std::string longLine = "http://long/" + std::string(238, 'a') + ".htm";
  ASSERT_EQ(Write("http://www.b.example/page.html 0\r\n"
                  "http://www.a.example/photo.JPEG 0\n"
                  "http://www.b.example/page.html 0\r\n"
                  "http://www.a.example/icon.png 0\n"
                  "http://www.a.example/search.htm?q 0\n"
                  "http://www.a.example/news.asp 0\n"
                  "http://www.a.example/logo.gif 0\n"
                  "http://\x8a\xbf.example/top.htm 0\n" +
                      longLine +
                      " 0\n"
                      "http://www.a.example/pic.jpg 0\n",
                  "alpha"),
            0);
  EXPECT_TRUE(frontend.messages().empty());
  // Sorted byte-wise (a CP932 host after every ASCII one), each address once, by its last
  // five characters: neither the .png nor the page whose .htm lies before them is listed.
  EXPECT_EQ(HtmPage("alpha"),
            LinkPage(Entry("a.htm", "") +
                     Entry("http://www.a.example/news.asp", "/www.a.example/news.asp") +
                     Entry("http://www.b.example/page.html", "/www.b.example/page.html") +
                     Entry("http://\x8a\xbf.example/top.htm", "/\x8a\xbf.example/top.htm")));
  EXPECT_EQ(JpgPage("alpha"),
            LinkPage(Entry("http://www.a.example/logo.gif", "/www.a.example/logo.gif") +
                     Entry("http://www.a.example/photo.JPEG", "/www.a.example/photo.JPEG") +
                     Entry("http://www.a.example/pic.jpg", "/www.a.example/pic.jpg")));
  EXPECT_EQ(ReadFile("serch.tmp"), "<missing>");
  EXPECT_EQ(ReadFile("lumbralog.txt"), J("サーチ用データ書き出し開始\r\n"));
  EXPECT_EQ(ReadFile(Idx("www_l.htm")),
            Crlf("<HTML><TITLE>index</TITLE>\n"
                 "<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n"
                 "<CENTER>\n"
                 "<BASEFONT SIZE=\"4\">\n"
                 "<TABLE  border=1 width=100% cellspacing=0 cellpadding=6>\n"
                 "<TR ALIGN=\"center\" bgcolor=#6699ff>\n"
                 "<TD>\n"
                 "<FONT SIZE=\"5\">\n" +
                 J("<B>未参照一覧</B>\n") +
                 "</FONT>\n"
                 "</CENTER>\n"
                 "<BR CLEAR=\"all\">\n"
                 "</TD>\n"
                 "</TR>\n"
                 "</TABLE>\n"
                 "<BR>\n" +
                 J("ＨＴＭＬ　未参照　一覧<BR>\n") + "<DT>\n") +
                ListedPage("htm", "alpha.link_htm.htm") +
                Crlf(J("<BR><BR>画像　未参照　一覧<BR>\n") + "<DT>\n") +
                ListedPage("jpg", "alpha.link_jpg.htm") + "</BODY></HTML>");
}

// An address of the list is escaped in its attribute and shown as text.
TEST_F(LinkListPagesTest, AddressesAreEscaped) {
  ASSERT_EQ(Write("http://q.example/a\"onmouseover=\"alert(3).html 0\n"
                  "http://q.example/<b>&x.jpg 0\n",
                  "r<o>ot"),
            0);
  EXPECT_EQ(HtmPage("r<o>ot"), LinkPage(Entry("http://q.example/a%22onmouseover=%22alert(3).html",
                                              "/q.example/a\"onmouseover=\"alert(3).html")));
  EXPECT_EQ(JpgPage("r<o>ot"), LinkPage(Entry("http://q.example/%3Cb%3E&amp;x.jpg",
                                              "/q.example/&lt;b&gt;&amp;x.jpg")));
  const std::string list = ReadFile(Idx("www_l.htm"));
  EXPECT_NE(list.find("search/htm/r%3Co%3Eot.link_htm.htm\" target=\"home\"><NOBR> "
                      "r&lt;o&gt;ot.link_htm.htm</NOBR>"),
            std::string::npos)
      << list;
}

TEST_F(LinkListPagesTest, EveryLineIsUsed) {
  // Lines of 249 characters and CR LF: the longest that are read whole.
  std::string list;
  for (int line = 0; line < 3500; ++line) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", line);
    list += "http://h/" + std::string(number) + std::string(229, 'a') + ".htm 0\r\n";
  }
  Write(list, "many");
  const std::string page = HtmPage("many");
  const auto entries = [&](std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = page.find(needle); at != std::string::npos;
         at = page.find(needle, at + 1))
      ++count;
    return count;
  };
  EXPECT_EQ(entries("<DD>"), 3500u);
  EXPECT_EQ(entries("http://h/3499a"), 1u);
}

TEST(LinkListReaderTest, PiecesOfAnySizeGiveTheLinesOfTheWhole) {
  // CR LF; a lone CR; a line of 249 characters, whose CR LF is then a line of its own; a CR as
  // the 249th character, which ends its line; a NUL; a last line without its end.
  const std::string bytes = "http://a/x.htm 0\r\nhttp://b/\ry.gif 0\n" + std::string(249, 'c') +
                            "\r\n" + std::string(248, 'd') + "\rx 0\n" +
                            std::string("e\0f 0\nhttp://f/z.asp\r", 21);
  const std::vector<std::string> lines = {"http://a/x.htm",
                                          "http://b/\ry.gif",
                                          std::string(249, 'c'),
                                          "",
                                          std::string(248, 'd') + "\r",
                                          "x",
                                          "e",
                                          "http://f/z.asp\r"};
  EXPECT_EQ(ReadLinkList(bytes), lines);
  for (std::size_t split = 0; split <= bytes.size(); ++split) {
    LinkListReader reader;
    std::vector<std::string> addresses;
    reader.Feed(std::string_view(bytes).substr(0, split), addresses);
    reader.Feed(std::string_view(bytes).substr(split), addresses);
    reader.Finish(addresses);
    EXPECT_EQ(addresses, lines) << "split at " << split;
  }
}

TEST_F(LinkListPagesTest, EachRootGetsItsPairAndEveryPairIsListed) {
  // A name that could not make a page of its own (the root "/", a path ending in "." or
  // ".."), or one that would reach elsewhere, names the pages "_".
  for (std::string_view name : {"alpha", "", ".", "..", "../../../out", "beta"}) {
    ASSERT_EQ(Write("http://x.example/a.htm 0\nhttp://x.example/b.gif 0\n", name), 0) << name;
  }
  EXPECT_TRUE(frontend.messages().empty());
  EXPECT_EQ(FilesBelow(root()),
            (std::vector<std::string>{
                "idx/search/htm/_.link_htm.htm", "idx/search/htm/alpha.link_htm.htm",
                "idx/search/htm/beta.link_htm.htm", "idx/search/jpg/_.link_jpg.htm",
                "idx/search/jpg/alpha.link_jpg.htm", "idx/search/jpg/beta.link_jpg.htm",
                "idx/www_l.htm"}));
  const std::string listed = ReadFile(Idx("www_l.htm"));
  for (std::string_view name : {"alpha", "beta", "_"}) {
    const std::size_t htm = listed.find(ListedPage("htm", std::string(name) + ".link_htm.htm"));
    const std::size_t jpg = listed.find(ListedPage("jpg", std::string(name) + ".link_jpg.htm"));
    const std::size_t images = listed.find(J("画像　未参照　一覧"));
    EXPECT_LT(htm, images) << name;
    EXPECT_GT(jpg, images) << name;
    EXPECT_NE(jpg, std::string::npos) << name;
  }
}

TEST_F(LinkListPagesTest, FailuresShowTheirMessageAndKeepWhatWasThere) {
  const std::string list = "http://x.example/a.htm 0\n";
  EXPECT_EQ(WriteLinkListPages(ctx, frontend, "alpha"), 0);
  EXPECT_EQ(frontend.messages(),
            std::vector<std::string>{"ERROR : サーチ用一時ファイルが作成できません\r" +
                                     Path("serch.tmp")});
  EXPECT_EQ(FilesBelow(ctx.indexDir), std::vector<std::string>{});

  // The image list cannot be made: the HTML list keeps its old page, serch.tmp stays.
  WriteFile("idx/search/htm/alpha.link_htm.htm", "old");
  WriteFile("idx/search/jpg", "a file where the directory belongs");
  EXPECT_EQ(Write(list, "alpha"), 1);
  EXPECT_EQ(frontend.messages().back(), "ERROR : サーチファイルが作成できません\rINDEX_DIR: " +
                                            Idx("search/jpg/alpha.link_jpg.htm") +
                                            ": Not a directory");
  EXPECT_EQ(HtmPage("alpha"), "old");
  EXPECT_EQ(ReadFile("serch.tmp"), list);
  EXPECT_EQ(ReadFile(Idx("www_l.htm")), "<missing>");

  // www_l.htm cannot be replaced: the link pages are written all the same.
  platform::DeleteFile(Idx("search/jpg"));
  MakeDir("idx/www_l.htm/in-the-way");
  EXPECT_EQ(Write(list, "alpha"), 1);
  EXPECT_EQ(frontend.messages().size(), 3u);
  EXPECT_EQ(frontend.messages().back(), "ERROR : サーチファイルが作成できません\rINDEX_DIR: " +
                                            Idx("www_l.htm") + ": Is a directory");
  EXPECT_EQ(HtmPage("alpha"), LinkPage(Entry("http://x.example/a.htm", "/x.example/a.htm")));
  EXPECT_EQ(ReadFile("serch.tmp"), "<missing>");
}

}  // namespace
}  // namespace lumbra::testing
