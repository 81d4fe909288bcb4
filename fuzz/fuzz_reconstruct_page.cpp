// Saved pages come from outside. Whatever a page holds, rewriting it must not crash, must
// handle every byte of it once and in order, must write text outside tags, scripts and style
// sheets byte for byte, must never move a browser into or out of a quoted attribute value or a
// style element (what it writes stands where what it replaces stood), and must leave on disk
// exactly what it wrote; what it finds of the page's charset must not depend on how the page
// is split. The first input byte picks the switches; the rest is the page.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"
#include "memory_scratch.h"
#include "platform/fs.h"
#include "platform/path_table.h"
#include "rebuild/charset_scan.h"
#include "rebuild/link_list.h"
#include "rebuild/markup_context.h"
#include "rebuild/page_io.h"
#include "rebuild/page_tokenizer.h"

namespace {

class QuietFrontend : public lumbra::Frontend {
 public:
  int ReportProgress(std::string_view) override { return 1; }
  void ShowStatus(std::string_view) override {}
  void ShowMessage(std::string_view) override { ++messages; }
  bool AskYesNo(std::string_view) override { return false; }
  int messages = 0;
};

class CheckingProbe : public lumbra::RewriteProbe {
 public:
  void OnSegment(Segment kind, std::string_view original, std::string_view written) override {
    originals += original;
    writtenAll += written;
    if (kind == Segment::Text && original != written) std::abort();
    if (kind == Segment::Tag && !original.empty() && original.front() != '<') std::abort();
    // A style sheet holds back the URL it is reading, so its pieces are compared once whole.
    before.Feed(original);
    after.Feed(written);
    if (kind != Segment::Style && before.place() != after.place()) std::abort();
  }
  std::string originals;
  std::string writtenAll;
  lumbra::MarkupContext before;
  lumbra::MarkupContext after;
};

class JoiningSink : public lumbra::TokenSink {
 public:
  void OnText(std::string_view text) override { all += text; }
  void OnTag(std::string& tag) override { all += tag; }
  void OnOpenTag(std::string_view tag) override { all += tag; }
  std::string all;
};

// One tree for the whole run, with a few stored files for links to find.
struct Tree {
  Tree() {
    root = dir.path() + "/save/log";
    for (const char* d : {"/save", "/save/log", "/save/log/host", "/save/log/host/dir",
                          "/save/log/host/dir/sub", "/save/log/host/img"}) {
      lumbra::platform::MakeDirectory(dir.path() + d);
    }
    for (const char* f : {"/host/dir/pic.gif", "/host/dir/sub/index.html", "/host/img/a.gif",
                          "/host/dir/other.html"}) {
      lumbra::platform::ReplaceFileContent(root + f, "x", 0644);
    }
    page = root + "/host/dir/page.html";
  }
  lumbra::platform::TempDirectory dir{"lumbra-fuzz"};
  std::string root;
  std::string page;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  lumbra::fuzz::KeepScratchInMemory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Tree tree;
  if (size == 0 || tree.dir.path().empty()) return 0;
  const std::uint8_t switches = data[0];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  // The tokenizer alone hands on every byte, whatever the blocks.
  JoiningSink joined;
  lumbra::PageTokenizer tokenizer(joined);
  for (std::size_t at = 0; at < input.size(); at += lumbra::kPageBlockSize) {
    std::string_view rest = input.substr(at);
    tokenizer.FeedBlock(
        rest.substr(0, lumbra::kPageBlockSize),
        rest.substr(std::min(rest.size(), lumbra::kPageBlockSize), lumbra::kTokenizerLookahead));
  }
  tokenizer.Finish();
  if (joined.all != input || tokenizer.title().size() > lumbra::kTitleMax) std::abort();
  // The charset scan finds the same whether the page comes whole or a byte at a time.
  lumbra::CharsetScan whole;
  lumbra::CharsetScan bytes;
  whole.Feed(input);
  for (char c : input) bytes.Feed(std::string_view(&c, 1));
  whole.Finish();
  bytes.Finish();
  if (whole.declared() != bytes.declared() || whole.utf8() != bytes.utf8()) std::abort();

  lumbra::JobContext ctx;
  ctx.startDir = tree.dir.path();
  ctx.logDir[0] = tree.root;
  ctx.readCnt = (switches & 1) != 0;
  ctx.readAel = (switches & 2) != 0;
  const bool listLinks = (switches & 4) != 0;  // as the unreferenced-links job does
  const bool readRef = (switches & 8) != 0;

  if (!lumbra::platform::ReplaceFileContent(tree.page, input, 0644)) return 0;
  QuietFrontend frontend;
  CheckingProbe probe;
  std::string title;
  lumbra::TitleCharset charset;
  lumbra::platform::PathTable paths;
  lumbra::LinkList links;
  if (listLinks && !links.Open(ctx.StartFile("serch.tmp"))) return 0;
  const lumbra::RewriteContext job{ctx, paths, listLinks ? &links : nullptr};
  lumbra::PageRewrite result = lumbra::ReconstructPage(job, frontend, tree.root, tree.page, readRef,
                                                       title, &probe, nullptr, &charset);
  links.Close();
  if (result != lumbra::PageRewrite::Rewritten || frontend.messages != 0) std::abort();
  auto written = lumbra::platform::ReadFile(tree.page);
  if (!written || *written != probe.writtenAll || probe.originals != input) std::abort();
  if (probe.before.place() != probe.after.place()) std::abort();
  if (title.size() > lumbra::kTitleMax || charset.declared != whole.declared() ||
      charset.utf8Page != whole.utf8()) {
    std::abort();
  }
  lumbra::platform::DeleteFile(ctx.StartFile("serch.tmp"));
  return 0;
}
