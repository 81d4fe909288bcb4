#include "index/frame_pages.h"

#include <array>
#include <cerrno>
#include <string_view>

#include "core/exec_log.h"
#include "core/setting_line.h"
#include "index/html_escape.h"
#include "index/index_pages.h"
#include "index/site_list.h"
#include "platform/codepage.h"
#include "platform/language.h"
#include "platform/text_file.h"

namespace lumbra {

namespace {

using platform::ToCp932;

constexpr std::string_view kMainFrameError =
    platform::TrLater("ERROR : インデクスの為のメインフレームが作成できません");

struct LogPages {
  std::string_view letter;     // own text of the top bar, UTF-8
  std::string_view indexPage;  // below INDEX_DIR
  std::string_view listPage;
};
constexpr std::array<LogPages, kLogTreeCount> kLogPages{{
    {"Ａ", "/allidx_a.htm", "/www_a.htm"},
    {"Ｂ", "/allidx_b.htm", "/www_b.htm"},
    {"Ｃ", "/allidx_c.htm", "/www_c.htm"},
    {"Ｄ", "/allidx_d.htm", "/www_d.htm"},
    {"Ｅ", "/allidx_e.htm", "/www_e.htm"},
}};

// Replaces a whole page safely; the errno of the failure (the old page left as it was) when
// it could not be written completely, else 0.
int WritePage(const std::string& path, std::string_view text) {
  platform::TextWriter out;
  if (out.Open(path, platform::TextWriter::Mode::Replace)) out.Write(text);
  if (out.Close()) return 0;
  return out.error() != 0 ? out.error() : EIO;
}

std::string TopLink(const JobContext& ctx, std::string_view page, const std::string& text) {
  return "<A HREF=\"" +
         AttributeUrl(ctx.LocalLink(ctx.indexDir, ctx.indexDir + std::string(page))) +
         "\" TARGET=\"www\">" + text + "</A> ";
}

}  // namespace

std::string BuildTopLinkBar(const JobContext& ctx) {
  std::string bar;
  for (int log = 0; log < kLogTreeCount; ++log) {
    if (ctx.logDir[log].empty()) continue;
    bar += TopLink(
        ctx, kLogPages[log].listPage,
        ToCp932(kLogPages[log].letter) + ":" + HtmlText(LogDisplayName(ctx.logSetting[log])));
  }
  bar += TopLink(ctx, "/www_n.htm", ToCp932("新規"));
  if (ctx.surfAvailable) bar += TopLink(ctx, "/www_surf.htm", "Surf");
  return bar;
}

int WriteFramePages(const JobContext& ctx, Frontend& frontend) {
  const std::string frameset =
      "<HTML>\n"
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
      "<BR>\n";
  auto mainFrameFailed = [&](const std::string& path, int error) {
    frontend.ShowMessage(platform::Tr(kMainFrameError) + SettingLine("INDEX_DIR", path, error));
    LogFileFailure(ctx, "インデクスファイル作成失敗", path);
    return 1;
  };
  if (const std::string path = ctx.indexDir + "/lumbra.htm";
      int error = WritePage(path, frameset)) {
    return mainFrameFailed(path, error);
  }

  const std::string top =
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
      BuildTopLinkBar(ctx) +
      "\n"
      "</HTML>\n";
  if (const std::string path = ctx.indexDir + "/top.htm"; int error = WritePage(path, top)) {
    return mainFrameFailed(path, error);
  }

  // Every log, set or not: a list is made wherever its index page exists.
  int failed = 0;
  for (int log = 0; log < kLogTreeCount; ++log) {
    failed += WriteSiteListPage(ctx, frontend, kLogPages[log].indexPage, kLogPages[log].listPage,
                                LogDisplayName(ctx.logSetting[log])) == SiteList::Failed;
  }
  failed += WriteSiteListPage(ctx, frontend, "/newidx.htm", "/www_n.htm", ToCp932("新規")) ==
            SiteList::Failed;
  // The Surf link of the top bar loads this list.
  failed += WriteSiteListPage(ctx, frontend, "/surfidx.htm", "/www_surf.htm",
                              ToCp932("自動閲覧")) == SiteList::Failed;
  return failed;
}

}  // namespace lumbra
