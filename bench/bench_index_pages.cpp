// The index pages of a large job: 20,000 recorded pages sorted and written. One case with
// distinct paths only and one where every page was recorded twice (the exchange-order case).
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "core/frontend.h"
#include "core/job_context.h"
#include "index/index_pages.h"
#include "index/index_record.h"
#include "platform/fs.h"
#include "testing/quiet_frontend.h"

namespace {

constexpr std::size_t kRecords = 20000;  // the pages of a rebuild of the bench's LogTree

void FillTable(lumbra::IndexRecordTable& table, const std::string& logRoot, int distinct) {
  for (std::size_t k = 0; k < kRecords; ++k) {
    // Scattered order, as pages come from a cache: a multiplicative walk over the paths.
    const std::size_t n = (k * 7919) % static_cast<std::size_t>(distinct);
    const std::string path = logRoot + "/www.site" + std::to_string(n % 300) + ".example/dir" +
                             std::to_string(n / 300) + "/page" + std::to_string(n) + ".html";
    lumbra::AddIndexRecord(table, logRoot, path, "Title of page " + std::to_string(n));
  }
}

void WriteIndexPagesFor(benchmark::State& state, int distinct) {
  lumbra::platform::TempDirectory dir("lumbra-bench");
  lumbra::JobContext ctx;
  ctx.startDir = dir.path();
  ctx.indexDir = dir.path();
  ctx.logDir[0] = dir.path() + "/save/alog";
  lumbra::IndexRecordTable table;
  FillTable(table, ctx.logDir[0], distinct);
  lumbra::testing::QuietFrontend frontend;
  for (auto _ : state) {
    lumbra::WriteIndexPages(ctx, frontend, table, "newidx_");
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(table.size()));
}

void BM_WriteIndexPages20000Distinct(benchmark::State& state) {
  WriteIndexPagesFor(state, static_cast<int>(kRecords));
}
void BM_WriteIndexPages20000Duplicated(benchmark::State& state) {
  WriteIndexPagesFor(state, static_cast<int>(kRecords / 2));
}

BENCHMARK(BM_WriteIndexPages20000Distinct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteIndexPages20000Duplicated)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
