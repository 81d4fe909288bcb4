// Times the reading of one cache as the add job reads it, with nothing stored: the layout's
// reading of every entry into the entry table, then for each row what the add job does before
// it copies: the row's place in the logs, and its document opened (the entry read again,
// checked and decoded) and read to its end.
//   bench_read_cache CACHE_DIR LOG_DIR
// LOG_DIR is the LogTree the entries would go to; it need not exist and nothing is written.
// Prints one line: the seconds of the whole reading, of the entry table alone, the rows, and
// the bytes of their documents
//   SECONDS TABLE_SECONDS ROWS DOCUMENT_BYTES
// Exits 1 when no layout holds the directory, or a row has no place or its document could not
// be read, since the time would not be that of reading the whole cache.
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "cache/cache_index.h"
#include "cache/cache_layout.h"
#include "core/frontend.h"
#include "core/job_context.h"
#include "logstore/log_path.h"
#include "platform/path_table.h"

namespace {

// Nothing is shown: the reading alone is timed.
class SilentFrontend : public lumbra::Frontend {
 public:
  int ReportProgress(std::string_view) override { return 1; }
  void ShowStatus(std::string_view) override {}
  void ShowMessage(std::string_view text) override {
    std::fprintf(stderr, "bench_read_cache: %.*s\n", static_cast<int>(text.size()), text.data());
  }
  bool AskYesNo(std::string_view) override { return true; }
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_read_cache CACHE_DIR LOG_DIR\n");
    return 2;
  }
  lumbra::JobContext ctx;
  ctx.cacheDir = argv[1];
  ctx.logDir[0] = argv[2];
  SilentFrontend frontend;
  lumbra::platform::PathTable paths;
  const lumbra::CacheLayouts layouts = lumbra::CacheLayouts::BuiltIn();

  const auto start = std::chrono::steady_clock::now();
  const lumbra::CacheLayout* layout = layouts.Find(ctx.cacheDir);
  if (layout == nullptr) {
    std::fprintf(stderr, "bench_read_cache: no cache layout holds %s\n", argv[1]);
    return 1;
  }
  lumbra::CacheEntryTable table;
  if (!lumbra::ReadCacheIndex(ctx, frontend, layout, table, ctx.cacheDir)) return 1;
  const double tableSeconds = SecondsSince(start);

  std::unique_ptr<lumbra::CachedDocuments> documents = layout->Documents(ctx.cacheDir);
  std::array<char, 65536> buffer;  // as a copy into the logs reads
  unsigned long long bytes = 0;
  for (int i = 0; i < table.count(); ++i) {
    const lumbra::CacheEntry& entry = table.row(i);
    lumbra::LogPath where;
    if (!lumbra::MapEntryToLogPath(ctx, paths, entry.url, where)) {
      std::fprintf(stderr, "bench_read_cache: no place in the logs for %s\n", entry.url.c_str());
      return 1;
    }
    std::unique_ptr<lumbra::DocumentSource> document;
    const lumbra::platform::OpenError opened = documents->Open(entry, document);
    if (opened != lumbra::platform::OpenError::None) {
      std::fprintf(stderr, "bench_read_cache: %s: %s\n", entry.cacheFile.c_str(),
                   documents->RefusalOf(opened).c_str());
      return 1;
    }
    for (long n; (n = document->Read(buffer.data(), buffer.size())) != 0;) {
      if (n < 0) {
        std::fprintf(stderr, "bench_read_cache: cannot read %s\n", entry.cacheFile.c_str());
        return 1;
      }
      bytes += static_cast<unsigned long long>(n);
    }
  }
  std::printf("%.6f %.6f %d %llu\n", SecondsSince(start), tableSeconds, table.count(), bytes);
  return 0;
}
