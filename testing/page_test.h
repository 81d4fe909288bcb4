// Shared by the page tests: a job snapshot over a fresh directory with five LogTrees and an
// index directory, and the expected page texts built from the lines the pages consist of.
#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "core/job_context.h"
#include "core/log_tree.h"
#include "index/index_record.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra::testing {

// The system's own words as they stand in the files.
inline std::string J(std::string_view utf8) { return platform::ToCp932(utf8); }

// Text-mode line ends as on disk.
inline std::string Crlf(std::string_view text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\n') out += '\r';
    out += ch;
  }
  return out;
}

class PageTest : public TempDirTest {
 protected:
  void SetUp() override {
    // The pages find the site after the first "log/"; the test root must not hold one.
    ASSERT_EQ(FindLogMarker(root() + "/"), std::string::npos) << root();
    ctx.startDir = root();
    ctx.indexDir = MakeDir("idx");
    for (int k = 0; k < kLogTreeCount; ++k) {
      ctx.logDir[k] = MakeDir(std::string("save/") + static_cast<char>('a' + k) + "log");
      ctx.logSetting[k] = ctx.logDir[k];
    }
  }

  // Saves a page below log `log` (0 = A) and records it; returns its path.
  std::string Record(int log, std::string_view below, std::string title) {
    const std::string path = WriteFile(ctx.logDir[log] + "/" + std::string(below), "<html>");
    AddIndexRecord(table, ctx.logDir[log], path, std::move(title));
    return path;
  }

  std::string Idx(std::string_view file) const { return ctx.indexDir + "/" + std::string(file); }

  // The header lines of an index page; label and bar are bytes.
  static std::string IndexHeader(std::string_view label, std::string_view bar) {
    return Crlf(
        "<HTML><TITLE>Bookmark for Lumbra</TITLE>\n"
        "<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n"
        "<BASEFONT SIZE=\"3\">\n" +
        J("<H2>Log for WWW  （ ") + std::string(label) + J(" ）</H2>\n") + "<BR>\n" +
        J("ＩＮＤＥＸ　Ｌｏｇ ") + std::string(bar) +
        "</H2>\n"
        "<HR>\n"
        "<DT><TT>\n");
  }
  static std::string IndexFooter() { return "<BR><BR><BR></TT></BODY></HTML>"; }

  static std::string SiteListHeader(std::string_view label) {
    return Crlf(
        "<HTML><TITLE>index</TITLE>\n"
        "<BODY bgcolor=#cccccc text=#000000 link=#0000ff vlink=#7700ff>\n"
        "<CENTER>\n"
        "<BASEFONT SIZE=\"4\">\n"
        "<TABLE  border=1 width=100% cellspacing=0 cellpadding=0>\n"
        "<TR ALIGN=\"center\" bgcolor=#6699ff>\n"
        "<TD>\n"
        "<FONT SIZE=\"5\">\n"
        "<B>" +
        std::string(label) +
        "</B>\n"
        "</FONT>\n"
        "</CENTER>\n"
        "<BR CLEAR=\"all\">\n"
        "</TD>\n"
        "</TR>\n"
        "</TABLE>\n"
        "<BR>\n");
  }
  static std::string SiteListFooter() { return Crlf("<BR><BR><BR></CENTER></BODY></HTML>\n"); }

  // One link of an index page's link bar: letter ("Ａ") and page ("allidx_a.htm").
  std::string BarLink(std::string_view letter, std::string_view page) const {
    const int log = page[7] - 'a';
    return "<A HREF=\"file://" + Idx(page) + "\">" + J(letter) + ":" +
           platform::SplitPath(ctx.logSetting[log]).name + "</A> ";
  }
  std::string NewPagesLink() const {
    return "<A HREF=\"file://" + Idx("newidx.htm") + "\">" + J("新規") + "</A> ";
  }

  JobContext ctx;
  ScriptedFrontend frontend;
  IndexRecordTable table;
};

}  // namespace lumbra::testing
