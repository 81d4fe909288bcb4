#include "index/frame_pages.h"

#include "platform/fs.h"
#include "testing/page_test.h"

namespace lumbra::testing {
namespace {

class FramePagesTest : public PageTest {
 protected:
  std::string TopLink(std::string_view page, std::string_view text) const {
    return "<A HREF=\"file://" + Idx(page) + "\" TARGET=\"www\">" + std::string(text) + "</A> ";
  }
  static std::string TopPage(std::string_view bar) {
    return Crlf(
        "<HTML>\n"
        "<HEAD>\n"
        "<TITLE>top</TITLE>\n"
        "</HEAD>\n"
        "<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n"
        "<CENTER>\n"
        "<BASEFONT SIZE=\"4\">\n"
        "<TABLE  border=1 width=100% cellspacing=0 cellpadding=0>\n"
        "<TR ALIGN=\"center\" bgcolor=#66ffff>\n"
        "<TD>\n"
        "<FONT SIZE=\"5\">\n"
        "<B>Lumbra</B>\n"
        "</FONT>\n"
        "</CENTER>\n"
        "<BR CLEAR=\"all\">\n"
        "</TD>\n"
        "</TR>\n"
        "</TABLE>\n" +
        std::string(bar) +
        "\n"
        "</HTML>\n");
  }
};

TEST_F(FramePagesTest, FramesetAndTopPageByteForByte) {
  ctx.surfAvailable = true;
  WriteFramePages(ctx, frontend);
  EXPECT_TRUE(frontend.messages().empty());
  EXPECT_EQ(ReadFile(Idx("lumbra.htm")),
            Crlf("<HTML>\n"
                 "<HEAD>\n"
                 "<TITLE>Bookmark for Lumbra</TITLE>\n"
                 "</HEAD>\n"
                 "<FRAMESET ROWS=\"90,*\" border=1>\n"
                 "<FRAME SRC=\"top.htm\" NAME=\"top\" MARGINWIDTH=\"0\" MARGINHEIGHT=\"0\" "
                 "SCROLLING=\"auto\" bordercolor=#ffffff>\n"
                 "<FRAMESET COLS=\"240,*\">\n"
                 "<FRAME SRC=\"www_n.htm\" NAME=\"www\" MARGINWIDTH=\"0\" MARGINHEIGHT=\"8\" "
                 "SCROLLING=\"auto\" >\n"
                 "<FRAME SRC=\"newidx.htm#1\" NAME=\"home\" MARGINWIDTH=\"8\" MARGINHEIGHT=\"8\" "
                 "SCROLLING=\"auto\">\n"
                 "</FRAMESET>\n"
                 "</FRAMESET>\n"
                 "<BR>\n"));
  EXPECT_EQ(ReadFile(Idx("top.htm")),
            TopPage(TopLink("www_a.htm", J("Ａ:alog")) + TopLink("www_b.htm", J("Ｂ:blog")) +
                    TopLink("www_c.htm", J("Ｃ:clog")) + TopLink("www_d.htm", J("Ｄ:dlog")) +
                    TopLink("www_e.htm", J("Ｅ:elog")) + TopLink("www_n.htm", J("新規")) +
                    TopLink("www_surf.htm", "Surf")));
  // No index page exists yet: no site list is made.
  for (const char* list : {"www_a.htm", "www_e.htm", "www_n.htm"}) {
    EXPECT_FALSE(platform::StatPath(Idx(list)).exists()) << list;
  }
}

TEST_F(FramePagesTest, TopBarShowsTheLogsThatAreSet) {
  for (int k = 1; k < kLogTreeCount; ++k) ctx.logDir[k].clear();
  WriteFramePages(ctx, frontend);
  EXPECT_EQ(ReadFile(Idx("top.htm")),
            TopPage(TopLink("www_a.htm", J("Ａ:alog")) + TopLink("www_n.htm", J("新規"))));
}

// The lists of this job's index pages are in the index pages' byte-for-byte test.
TEST_F(FramePagesTest, AnIndexPageOfAnEarlierJobGetsItsSiteListLabelledWithoutAName) {
  ctx.logDir[1].clear();
  ctx.logSetting[1].clear();
  WriteFile("idx/allidx_b.htm", "<A NAME=\"1\" >\r\n<P><DT><B>old</B>\r\n");
  WriteFramePages(ctx, frontend);
  EXPECT_NE(ReadFile(Idx("www_b.htm")).find("<B></B>"), std::string::npos);
  EXPECT_NE(ReadFile(Idx("www_b.htm")).find("<NOBR>old</NOBR>"), std::string::npos);
  EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(FramePagesTest, MissingIndexDirectoryIsReportedOnceAndNothingWritten) {
  ctx.indexDir = Path("nowhere");
  WriteFramePages(ctx, frontend);
  EXPECT_EQ(frontend.messages(),
            std::vector<std::string>{"ERROR : インデクスの為のメインフレームが作成できません\r"
                                     "INDEX_DIR: " +
                                     Path("nowhere/lumbra.htm") + ": No such file or directory"});
  EXPECT_FALSE(platform::StatPath(ctx.indexDir).exists());
}

TEST_F(FramePagesTest, TopPageThatCannotBeMadeStopsTheRest) {
  WriteFile("idx/newidx.htm", "<A NAME=\"1\" >\r\n<P><DT><B>s</B>\r\n");
  MakeDir("idx/top.htm");  // a directory where the top page belongs
  WriteFramePages(ctx, frontend);
  EXPECT_EQ(frontend.messages(),
            std::vector<std::string>{"ERROR : インデクスの為のメインフレームが作成できません\r"
                                     "INDEX_DIR: " +
                                     Idx("top.htm") + ": Is a directory"});
  EXPECT_TRUE(platform::StatPath(Idx("lumbra.htm")).exists());  // a frameset already written stays
  EXPECT_FALSE(platform::StatPath(Idx("www_n.htm")).exists());
}

TEST_F(FramePagesTest, LongTopBarIsWrittenWhole) {
  ctx.indexDir = MakeDir(std::string(150, 'i'));
  for (int k = 0; k < kLogTreeCount; ++k) {
    ctx.logDir[k] = root() + "/" + std::string(120, static_cast<char>('a' + k)) + "log";
    ctx.logSetting[k] = ctx.logDir[k];
  }
  WriteFramePages(ctx, frontend);
  const std::string bar = BuildTopLinkBar(ctx);
  ASSERT_GT(bar.size(), 1000u);
  EXPECT_TRUE(bar.ends_with(TopLink("www_n.htm", J("新規"))));
  EXPECT_NE(bar.find(J("Ｅ:") + std::string(120, 'e') + "log</A> "), std::string::npos);
  EXPECT_EQ(ReadFile(Idx("top.htm")), TopPage(bar));
}

}  // namespace
}  // namespace lumbra::testing
