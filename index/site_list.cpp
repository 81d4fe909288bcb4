#include "index/site_list.h"

#include "core/exec_log.h"
#include "core/setting_line.h"
#include "index/html_escape.h"
#include "platform/codepage.h"
#include "platform/language.h"
#include "platform/text_file.h"

namespace lumbra {

namespace {

constexpr std::string_view kIndexFileError =
    platform::TrLater("ERROR : インデクスファイルが作成できません");
constexpr std::string_view kAnchorLine = "<A NAME";
constexpr std::size_t kAnchorValueAt = 9;  // just after the opening quotation mark
constexpr std::string_view kSiteLine = "<P><DT><B>";

// The text of `line` from `from` up to the first `stop` (or the end of the line).
std::string FieldUpTo(const std::string& line, std::size_t from, char stop) {
  if (from >= line.size()) return {};
  const std::size_t end = line.find(stop, from);
  return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace

SiteList WriteSiteListPage(const JobContext& ctx, Frontend& frontend, std::string_view indexPage,
                           std::string_view listPage, std::string_view label) {
  const std::string indexPath = ctx.indexDir + std::string(indexPage);
  platform::TextReader in;
  if (!in.Open(indexPath)) return SiteList::NoIndexPage;

  const std::string listPath = ctx.indexDir + std::string(listPage);
  platform::TextWriter out;
  auto failed = [&] {
    frontend.ShowMessage(platform::Tr(kIndexFileError) +
                         SettingLine("INDEX_DIR", listPath, out.error()));
    LogFileFailure(ctx, "インデクスファイル作成失敗", listPath);
    return SiteList::Failed;
  };
  if (!out.Open(listPath, platform::TextWriter::Mode::Replace)) return failed();
  out.Write("<HTML><TITLE>index</TITLE>\n");
  out.Write("<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n");
  out.Write("<CENTER>\n");
  out.Write("<BASEFONT SIZE=\"4\">\n");
  out.Write("<TABLE  border=1 width=100% cellspacing=0 cellpadding=0>\n");
  out.Write("<TR ALIGN=\"center\" bgcolor=#6699ff>\n");
  out.Write("<TD>\n");
  out.Write("<FONT SIZE=\"5\">\n");
  out.Write("<B>" + std::string(label) + "</B>\n");
  out.Write("</FONT>\n");
  out.Write("</CENTER>\n");
  out.Write("<BR CLEAR=\"all\">\n");
  out.Write("</TD>\n");
  out.Write("</TR>\n");
  out.Write("</TABLE>\n");
  out.Write("<BR>\n");

  // Whole lines: a long line of the index page is never taken for a marker line part-way.
  const std::string pageUrl = AttributeUrl(ctx.LocalLink(ctx.indexDir, indexPath));
  std::string line;
  std::string anchor;
  while (in.ReadLine(line)) {
    if (line.starts_with(kAnchorLine)) {
      anchor = FieldUpTo(line, kAnchorValueAt, '"');
    } else if (line.starts_with(kSiteLine)) {
      // The index page wrote the site as text already: it is copied as it is.
      const std::string site = FieldUpTo(line, kSiteLine.size(), '<');
      out.Write("<B><A HREF=\"" + pageUrl + "#" + anchor + "\" TARGET=\"home\"><NOBR>" + site +
                "</NOBR></A></B><BR>\n");
    }
  }
  in.Close();
  out.Write("<BR><BR><BR></CENTER></BODY></HTML>\n");
  if (!out.Close()) return failed();
  return SiteList::Written;
}

}  // namespace lumbra
