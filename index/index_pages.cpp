#include "index/index_pages.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "core/ascii.h"
#include "core/exec_log.h"
#include "core/log_tree.h"
#include "core/secure_hosts.h"
#include "core/setting_line.h"
#include "index/html_escape.h"
#include "platform/codepage.h"
#include "platform/language.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace lumbra {

namespace {

using platform::ToCp932;

constexpr std::string_view kIndexFileError =
    platform::TrLater("ERROR : インデクスファイルが作成できません");
constexpr std::string_view kIndexPageFailed = "インデクスファイル作成失敗";

struct IndexPageKind {
  std::string_view file;   // below INDEX_DIR
  std::string_view label;  // own text, UTF-8
  int linkBarType;
};

constexpr IndexPageKind kNewPages{"/newidx.htm", "新規", kLinkBarNewPages};
constexpr IndexPageKind kSurfPages{"/surfidx.htm", "自動閲覧", kLinkBarSurf};
constexpr std::array<IndexPageKind, kLogTreeCount> kLogPages{{
    {"/allidx_a.htm", "ログ　Ａ", 1},
    {"/allidx_b.htm", "ログ　Ｂ", 2},
    {"/allidx_c.htm", "ログ　Ｃ", 3},
    {"/allidx_d.htm", "ログ　Ｄ", 4},
    {"/allidx_e.htm", "ログ　Ｅ", 5},
}};
constexpr std::array<std::string_view, kLogTreeCount> kLogLetters{"Ａ", "Ｂ", "Ｃ", "Ｄ", "Ｅ"};

enum class PageKind { Home, Indx, Dfl, Plain };

// Where the log store wrote a port as '-' ("host-8080"), the web address has ':' again: from
// the fifth character up to the first '/', a '-' before a digit 1..9.
void RestorePort(std::string& address) {
  const std::size_t end = std::min(address.find('/'), address.size());
  for (std::size_t k = 4; k < end; ++k) {
    if (address[k] == '-' && k + 1 < address.size() && address[k + 1] >= '1' &&
        address[k + 1] <= '9') {
      address[k] = ':';
    }
  }
}

// Cuts a directory's default page off the address, so that the link names the directory.
PageKind ClassifyAndCut(std::string& address) {
  static constexpr std::array<std::pair<std::string_view, PageKind>, 3> kDefaults{{
      {"home.htm", PageKind::Home},
      {"index.htm", PageKind::Indx},
      {"default.htm", PageKind::Dfl},
  }};
  for (const auto& [name, kind] : kDefaults) {
    const std::size_t at = FindNoCase(address, name);
    if (at != std::string::npos) {
      address.resize(at);
      return kind;
    }
  }
  return PageKind::Plain;
}

std::string Indent(const std::string& address) {
  const auto slashes = std::count(address.begin(), address.end(), '/');
  std::string indent;
  for (long k = 1; k < slashes; ++k) indent += "+_";
  return indent;
}

std::string_view KindPrefix(PageKind kind) {
  switch (kind) {
    case PageKind::Home:
      return " Home__";
    case PageKind::Indx:
      return " Indx__";
    case PageKind::Dfl:
      return "  _dfl__";
    case PageKind::Plain:
      return " ______";
  }
  return " ______";
}

}  // namespace

std::string LogDisplayName(std::string_view logDir) { return platform::SplitPath(logDir).name; }

std::string BuildIndexLinkBar(const JobContext& ctx, int type) {
  static constexpr std::array<std::string_view, kLogTreeCount> kFiles{
      "/allidx_a.htm", "/allidx_b.htm", "/allidx_c.htm", "/allidx_d.htm", "/allidx_e.htm"};
  std::string bar;
  for (int log = 0; log < kLogTreeCount; ++log) {
    if (log + 1 == type || ctx.logDir[log].empty()) continue;
    bar += "<A HREF=\"" +
           AttributeUrl(ctx.LocalLink(ctx.indexDir, ctx.indexDir + std::string(kFiles[log]))) +
           "\">";
    bar +=
        ToCp932(kLogLetters[log]) + ":" + HtmlText(LogDisplayName(ctx.logSetting[log])) + "</A> ";
  }
  if (type != kLinkBarNewPages) {
    bar += "<A HREF=\"" + AttributeUrl(ctx.LocalLink(ctx.indexDir, ctx.indexDir + "/newidx.htm")) +
           "\">" + ToCp932("新規") + "</A> ";
  }
  return bar;
}

bool WriteIndexPage(const JobContext& ctx, Frontend& frontend, NextIndexRecord& records,
                    const std::string& pageFile, std::string_view filter, std::string_view label,
                    std::string_view linkBar) {
  platform::TextWriter out;
  if (!out.Open(pageFile, platform::TextWriter::Mode::Replace)) {
    frontend.ShowMessage(platform::Tr(kIndexFileError) +
                         SettingLine("INDEX_DIR", pageFile, out.error()));
    return false;
  }
  out.Write("<HTML><TITLE>Bookmark for Lumbra</TITLE>\n");
  out.Write("<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n");
  out.Write("<BASEFONT SIZE=\"3\">\n");
  out.Write(ToCp932("<H2>Log for WWW  （ ") + std::string(label) + ToCp932(" ）</H2>\n"));
  out.Write("<BR>\n");
  out.Write(ToCp932("ＩＮＤＥＸ　Ｌｏｇ ") + std::string(linkBar) + "</H2>\n");
  out.Write("<HR>\n");
  out.Write("<DT><TT>\n");

  const std::string pageDir = platform::SplitPath(pageFile).dir;
  records.Reset();
  // The https hosts of each tree the pages lie in, read once per page written.
  std::map<std::string, std::set<std::string>> secureHosts;
  std::string previousPath;
  std::string previousSite;
  int anchor = 0;
  std::string entry;
  for (int row = records.Next(filter); row >= 0; row = records.Next(filter)) {
    const IndexRecord& record = records.table()[row];
    if (record.path == previousPath) continue;
    previousPath = record.path;

    const std::optional<std::string_view> relative = AfterLogMarker(record.path);
    // A path without a LogTree root has no site and no web address: it cannot be listed.
    if (!relative) continue;
    std::string address(*relative);
    const std::string site = address.substr(0, address.find('/'));
    entry.clear();
    if (site != previousSite) {
      ++anchor;
      entry += "<A NAME=\"" + std::to_string(anchor) + "\" >\n";
      entry += "<P><DT><B>" + HtmlText(site) + "</B>\n";
      previousSite = site;
    }

    const std::string treeRoot = TreeRootOf(record.path);
    auto secure = secureHosts.find(treeRoot);
    if (secure == secureHosts.end()) {
      secure = secureHosts.emplace(treeRoot, ReadSecureHosts(treeRoot)).first;
    }
    const std::string_view scheme = secure->second.contains(site) ? "https://" : "http://";
    RestorePort(address);
    const bool oldCopy = ContainsNoCase(address, "-old0");
    const PageKind kind = ClassifyAndCut(address);
    if (oldCopy) {
      entry += "<DD><NOBR> [OLD] ";
    } else {
      entry += "<DD><A HREF=\"" + AttributeUrl(std::string(scheme) + address) +
               "\" target=\"newwindow\" ><NOBR> [NEW]</A> ";
    }
    entry += "<A HREF=\"" + AttributeUrl(ctx.LocalLink(pageDir, record.path)) +
             "\" target=\"newwindow\" >";
    // The title is HTML text already (see index/title_text.h).
    entry += std::string(KindPrefix(kind)) + Indent(address) + record.title + "</NOBR></A>\n";
    out.Write(entry);
  }
  out.Write("<BR><BR><BR></TT></BODY></HTML>");
  if (!out.Close()) {
    frontend.ShowMessage(platform::Tr(kIndexFileError) +
                         SettingLine("INDEX_DIR", pageFile, out.error()));
    return false;
  }
  return true;
}

int WriteIndexPages(const JobContext& ctx, Frontend& frontend, const IndexRecordTable& table,
                    std::string_view selector) {
  AppendExecLog(ctx, "INDEX 作成開始\n");
  const std::vector<int> order = SortIndexRecords(table);
  NextIndexRecord records(table);
  records.SetOrder(order);

  int failed = 0;
  auto write = [&](const IndexPageKind& page, std::string_view filter) {
    const std::string file = ctx.indexDir + std::string(page.file);
    if (!WriteIndexPage(ctx, frontend, records, file, filter, ToCp932(page.label),
                        BuildIndexLinkBar(ctx, page.linkBarType))) {
      ++failed;
      LogFileFailure(ctx, kIndexPageFailed, file);
    }
  };
  auto writeLog = [&](int log) {
    if (!ctx.logDir[log].empty()) write(kLogPages[log], ctx.logDir[log]);
  };

  if (selector.empty()) return failed;
  if (selector.front() == 'n') {
    write(kNewPages, kLogMarker);
  } else if (selector.front() == 's') {
    write(kSurfPages, kLogMarker);
  } else if (selector == "allidx_") {
    for (int log = 0; log < kLogTreeCount; ++log) writeLog(log);
  } else if (selector.size() >= 8 && selector[7] >= 'a' && selector[7] <= 'e') {
    writeLog(selector[7] - 'a');
  }
  return failed;
}

namespace {

// A link value of an index page in the LINK_STYLE of ctx when it leads to a local file (a
// file:// URL, or a relative link); any other value (a web address) as it is. The values are
// escaped as AttributeUrl escapes them, which leaves '/' and '.' alone, so the escaped paths
// are compared and joined segment by segment as the paths themselves would be.
std::string Restyled(const JobContext& ctx, std::string_view value) {
  const std::string indexDir = AttributeUrl(ctx.indexDir);
  std::string target;
  if (StartsWithNoCase(value, "file://")) {
    target = std::string(value.substr(7));
  } else if (!value.empty() && value.front() != '#' &&
             value.substr(0, value.find('/')).find(':') == std::string_view::npos) {
    target = platform::CleanAbsolutePath(indexDir + "/" + std::string(value));
  } else {
    return std::string(value);
  }
  return ctx.LocalLink(indexDir, target);
}

}  // namespace

int RestyleIndexPages(const JobContext& ctx, Frontend& frontend) {
  constexpr std::string_view kHref = "HREF=\"";
  int failed = 0;
  for (std::string_view name : {"/newidx.htm", "/surfidx.htm", "/www_l.htm"}) {
    const std::string path = ctx.indexDir + std::string(name);
    const std::optional<std::string> page = platform::ReadFile(path);
    if (!page) continue;
    std::string text;
    std::size_t pos = 0;
    for (std::size_t at = page->find(kHref); at != std::string::npos; at = page->find(kHref, pos)) {
      const std::size_t start = at + kHref.size();
      const std::size_t end = page->find('"', start);
      if (end == std::string::npos) break;
      text.append(*page, pos, start - pos);
      text += Restyled(ctx, std::string_view(*page).substr(start, end - start));
      pos = end;
    }
    text.append(*page, pos, std::string::npos);
    if (text == *page) continue;
    // The page's bytes as they are, line ends included: only its links change.
    if (platform::ReplaceFileContent(path, text, platform::NormalFileMode())) continue;
    frontend.ShowMessage(kIndexFileError);
    LogFileFailure(ctx, kIndexPageFailed, path);
    ++failed;
  }
  return failed;
}

}  // namespace lumbra
