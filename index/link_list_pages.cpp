#include "index/link_list_pages.h"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <utility>

#include "core/ascii.h"
#include "core/exec_log.h"
#include "core/setting_line.h"
#include "index/html_escape.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace lumbra {

namespace {

using platform::ToCp932;

constexpr std::string_view kListFileError =
    platform::TrLater("ERROR : サーチ用一時ファイルが作成できません");
constexpr std::string_view kSearchFileError =
    platform::TrLater("ERROR : サーチファイルが作成できません");
constexpr std::string_view kSearchPageFailed = "サーチファイル作成失敗";

// The visible text of a link starts at this index, so that "http://host" shows as "/host".
constexpr std::size_t kVisibleFrom = 6;
constexpr std::size_t kTestedTail = 5;

constexpr std::string_view kLinkPageHeader =
    "<HTML><TITLE>Bookmark for Lumbra</TITLE>\n"
    "<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n"
    "<BASEFONT SIZE=\"3\">\n"
    "<DT>\n";
constexpr std::string_view kPageEnd = "</BODY></HTML>";

// Every address of the list at `path`, sorted byte-wise, each once: the list is read in
// pieces and only its distinct addresses are held. nullopt when it cannot be read.
std::optional<std::set<std::string>> ReadListAddresses(const std::string& path) {
  platform::ReadableFile file;
  if (file.Open(path, platform::FollowLinks::Yes) != platform::OpenError::None) {
    return std::nullopt;
  }
  std::set<std::string> distinct;
  LinkListReader reader;
  std::vector<std::string> addresses;
  std::array<char, 65536> buffer;
  for (;;) {
    const long got = file.Read(buffer.data(), buffer.size());
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    reader.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)), addresses);
    for (std::string& address : addresses) distinct.insert(std::move(address));
    addresses.clear();
  }
  reader.Finish(addresses);
  for (std::string& address : addresses) distinct.insert(std::move(address));
  return distinct;
}

// The root's last component names its pages; a name that would not make a file of its own
// in the search directories is replaced.
std::string PageFileName(std::string_view pageName) {
  if (pageName.empty() || pageName == "." || pageName == ".." ||
      pageName.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return "_";
  }
  return std::string(pageName);
}

std::string LinkEntry(const std::string& address) {
  return "<DD><A HREF=\"" + AttributeUrl(address) + "\" target=\"newwindow\"><NOBR> " +
         HtmlText(address.substr(std::min(kVisibleFrom, address.size()))) + "</NOBR></A><BR>\n";
}

void ListSearchPages(const JobContext& ctx, platform::TextWriter& out, const std::string& dir) {
  const auto names = platform::ListDirectory(dir);
  if (!names) return;  // no page of that kind made yet: the heading stands alone
  for (const std::string& name : *names) {
    if (!ContainsNoCase(name, ".htm")) continue;
    out.Write("<OD><A HREF=\"" + AttributeUrl(ctx.LocalLink(ctx.indexDir, dir + "/" + name)) +
              "\" target=\"home\"><NOBR> " + HtmlText(name) + "</NOBR></A><BR>\n");
  }
}

}  // namespace

void LinkListReader::Feed(std::string_view bytes, std::vector<std::string>& addresses) {
  for (char c : bytes) {
    if (crPending_) {
      crPending_ = false;
      if (c == '\n') {
        Put('\n', addresses);
        continue;
      }
      Put('\r', addresses);
    }
    // A CR takes the place of one character either way: alone, or with the LF after it.
    if (c == '\r') {
      crPending_ = true;
      continue;
    }
    Put(c, addresses);
  }
}

void LinkListReader::Finish(std::vector<std::string>& addresses) {
  if (crPending_) Put('\r', addresses);
  crPending_ = false;
  if (!line_.empty()) EndLine(addresses);
}

void LinkListReader::Put(char c, std::vector<std::string>& addresses) {
  line_.push_back(c);
  if (c == '\n' || line_.size() + 1 >= kLinkListLineBuffer) EndLine(addresses);
}

void LinkListReader::EndLine(std::vector<std::string>& addresses) {
  // The number after the blank is not used; the line end and what a NUL hides are no part
  // of the address either.
  addresses.push_back(line_.substr(0, line_.find_first_of(std::string_view(" \n\0", 3))));
  line_.clear();
}

std::vector<std::string> ReadLinkList(std::string_view bytes) {
  std::vector<std::string> addresses;
  LinkListReader reader;
  reader.Feed(bytes, addresses);
  reader.Finish(addresses);
  return addresses;
}

LinkListKind ClassifyLinkListAddress(std::string_view address) {
  const std::string tail =
      LowerAscii(address.substr(address.size() - std::min(kTestedTail, address.size())));
  auto holds = [&](std::string_view ext) { return tail.find(ext) != std::string::npos; };
  if (holds(".htm") || holds(".asp")) return LinkListKind::Html;
  if (holds(".jpg") || holds(".jpeg") || holds(".gif")) return LinkListKind::Image;
  return LinkListKind::None;
}

int WriteLinkListPages(const JobContext& ctx, Frontend& frontend, std::string_view pageName) {
  AppendExecLog(ctx, "サーチ用データ書き出し開始\n");
  const std::string listPath = ctx.StartFile(kLinkListName);
  const std::optional<std::set<std::string>> addresses = ReadListAddresses(listPath);
  if (!addresses) {
    frontend.ShowMessage(platform::Tr(kListFileError) + "\r" + listPath);
    return 0;
  }

  const std::string name = PageFileName(pageName);
  const std::array<std::string, 2> paths{
      ctx.indexDir + "/search/htm/" + name + ".link_htm.htm",
      ctx.indexDir + "/search/jpg/" + name + ".link_jpg.htm",
  };
  std::array<platform::TextWriter, 2> pages;  // HTML list, image list
  for (std::size_t k = 0; k < pages.size(); ++k) {
    platform::MakeDirectories(paths[k]);
    if (!pages[k].Open(paths[k], platform::TextWriter::Mode::Replace)) {
      frontend.ShowMessage(platform::Tr(kSearchFileError) +
                           SettingLine("INDEX_DIR", paths[k], pages[k].error()));
      LogFileFailure(ctx, kSearchPageFailed, paths[k]);
      return 1;  // a page opened before is dropped: the old one stays
    }
  }
  for (platform::TextWriter& page : pages) page.Write(kLinkPageHeader);

  for (const std::string& address : *addresses) {
    switch (ClassifyLinkListAddress(address)) {
      case LinkListKind::Html:
        pages[0].Write(LinkEntry(address));
        break;
      case LinkListKind::Image:
        pages[1].Write(LinkEntry(address));
        break;
      case LinkListKind::None:
        break;
    }
  }

  int failed = 0;
  std::string failure;  // the line of the first page that could not be written
  for (std::size_t k = 0; k < pages.size(); ++k) {
    pages[k].Write(kPageEnd);
    if (!pages[k].Close()) {
      ++failed;
      LogFileFailure(ctx, kSearchPageFailed, paths[k]);
      if (failure.empty()) failure = SettingLine("INDEX_DIR", paths[k], pages[k].error());
    }
  }
  if (failed > 0) {
    frontend.ShowMessage(platform::Tr(kSearchFileError) + failure);
    return failed;
  }
  platform::DeleteFile(listPath);
  return WriteUnreferencedListPage(ctx, frontend);
}

int WriteUnreferencedListPage(const JobContext& ctx, Frontend& frontend) {
  const std::string path = ctx.indexDir + "/www_l.htm";
  platform::MakeDirectories(path);
  platform::TextWriter out;
  if (out.Open(path, platform::TextWriter::Mode::Replace)) {
    out.Write(
        "<HTML><TITLE>index</TITLE>\n"
        "<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n"
        "<CENTER>\n"
        "<BASEFONT SIZE=\"4\">\n"
        "<TABLE  border=1 width=100% cellspacing=0 cellpadding=6>\n"
        "<TR ALIGN=\"center\" bgcolor=#6699ff>\n"
        "<TD>\n"
        "<FONT SIZE=\"5\">\n" +
        ToCp932("<B>未参照一覧</B>\n") +
        "</FONT>\n"
        "</CENTER>\n"
        "<BR CLEAR=\"all\">\n"
        "</TD>\n"
        "</TR>\n"
        "</TABLE>\n"
        "<BR>\n" +
        ToCp932("ＨＴＭＬ　未参照　一覧<BR>\n") + "<DT>\n");
    ListSearchPages(ctx, out, ctx.indexDir + "/search/htm");
    out.Write(ToCp932("<BR><BR>画像　未参照　一覧<BR>\n") + "<DT>\n");
    ListSearchPages(ctx, out, ctx.indexDir + "/search/jpg");
    out.Write(kPageEnd);
    if (out.Close()) return 0;
  }
  frontend.ShowMessage(platform::Tr(kSearchFileError) +
                       SettingLine("INDEX_DIR", path, out.error()));
  LogFileFailure(ctx, kSearchPageFailed, path);
  return 1;
}

}  // namespace lumbra
