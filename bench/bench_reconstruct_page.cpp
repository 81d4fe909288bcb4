// Throughput of the page rewriting on a page full of links, half of them stored locally.
// A rewritten page is rewritten again unchanged, so every iteration does the same work.
#include <string>

#include <benchmark/benchmark.h>

#include "core/frontend.h"
#include "core/job_context.h"
#include "platform/fs.h"
#include "platform/path_table.h"
#include "rebuild/page_io.h"
#include "testing/quiet_frontend.h"

namespace {

std::string LinkPage(int links) {
  std::string page = "<html><head><title>Many links</title></head><body>\r\n";
  for (int i = 0; i < links; ++i) {
    std::string n = std::to_string(i);
    page += "<p>Paragraph " + n + " with some ordinary text around its links.\r\n";
    page += "<a href=\"p" + n + ".html\">page " + n + "</a> <img src=i" + n + ".gif alt=\"i\">\r\n";
  }
  page += "<script language=JavaScript>\nvar a = \"images/p1.gif\", b = 'x/y.html';\n</script>";
  return page + "</body></html>\r\n";
}

void BM_ReconstructPage(benchmark::State& state) {
  lumbra::platform::TempDirectory dir("lumbra-bench");
  const std::string tree = dir.path() + "/save/log";
  const std::string pageDir = tree + "/host/dir";
  for (const std::string& d : {dir.path() + "/save", tree, tree + "/host", pageDir}) {
    lumbra::platform::MakeDirectory(d);
  }
  const int links = static_cast<int>(state.range(0));
  for (int i = 0; i < links; i += 2) {
    lumbra::platform::ReplaceFileContent(pageDir + "/p" + std::to_string(i) + ".html", "x", 0644);
  }
  const std::string page = pageDir + "/page.html";
  const std::string content = LinkPage(links);
  lumbra::platform::ReplaceFileContent(page, content, 0644);

  lumbra::JobContext ctx;
  ctx.startDir = dir.path();
  ctx.logDir[0] = tree;
  lumbra::testing::QuietFrontend frontend;
  std::string title;
  std::size_t bytes = 0;
  lumbra::RewriteProbe probe;
  for (auto _ : state) {
    probe.peakHeldBytes = 0;
    lumbra::platform::PathTable paths;
    lumbra::ReconstructPage(lumbra::RewriteContext{ctx, paths}, frontend, tree, page, true, title,
                            &probe);
    bytes += content.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["links"] = 2.0 * links;
  state.counters["peak_held_bytes"] = static_cast<double>(probe.peakHeldBytes);
}
BENCHMARK(BM_ReconstructPage)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
