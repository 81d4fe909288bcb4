// Rewriting is streamed: whatever the page size, the rewriter holds no more than its read
// blocks, one tag and one script run. This executable counts every C++ heap allocation
// (operator new is replaced below) and compares the peak during the rewrite of a page of
// more than 1 MB with a fixed bound.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "rebuild/page_io.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace {

// The allocation counters can only be process-wide: operator new has no context to carry.
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

constexpr std::size_t kHeader = alignof(std::max_align_t);

// Null when there is no memory and `nothrow`; else std::bad_alloc.
void* CountedAlloc(std::size_t size, bool nothrow = false) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr && nothrow) return nullptr;
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(block) = size;
  std::size_t now = liveBytes.fetch_add(size) + size;
  std::size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void CountedFree(void* p) {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - kHeader;
  liveBytes.fetch_sub(*static_cast<std::size_t*>(block));
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return CountedAlloc(size); }
void* operator new[](std::size_t size) { return CountedAlloc(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size, true);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size, true);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace lumbra {
namespace {

class RewriteMemoryTest : public testing::TempDirTest {};

// A page of `size` bytes or more with everything that makes the rewriter hold bytes: links,
// long text runs, tags longer than the cut, script runs longer than the script buffer, and
// style elements with URLs longer than the style sheet holds.
std::string HeavyPage(std::size_t size) {
  std::string page = "<title>Heavy</title>";
  while (page.size() < size) {
    page += std::string(5000, 't') + "<a href=\"p.html\">p</a><img src=/img/a.gif>";
    page += "<img alt=\"" + std::string(kTagCut * 2, 'q') + "\">";
    page += "<script language=JavaScript>var s = \"img/a.gif\";" +
            std::string(kScriptHold * 3, ';') + "</script>";
    page += "<style>p{background:url(" + std::string(kCssUrlMax * 2, 'u') +
            ")} q{background:url(/img/a.gif)}" + std::string(kScriptHold, ' ') + "</style>";
  }
  return page;
}

std::size_t PeakWhileRewriting(const std::string& tree, const std::string& page,
                               RewriteProbe& probe) {
  JobContext ctx;
  ctx.logDir[0] = tree;
  ctx.startDir = tree;
  testing::ScriptedFrontend frontend;
  platform::PathTable paths;
  std::string title;
  std::size_t before = liveBytes.load();
  peakBytes.store(before);
  PageRewrite result =
      ReconstructPage(RewriteContext{ctx, paths}, frontend, tree, page, true, title, &probe);
  EXPECT_EQ(result, PageRewrite::Rewritten);
  EXPECT_EQ(title, "Heavy");
  return peakBytes.load() - before;
}

TEST_F(RewriteMemoryTest, AOneMegabytePageIsRewrittenInBoundedMemory) {
  const std::string tree = Path("save/log");
  WriteFile("save/log/host/img/a.gif", "x");
  const std::string small = WriteFile("save/log/host/dir/small.html", HeavyPage(100000));
  const std::string big = WriteFile("save/log/host/dir/big.html", HeavyPage(1 << 20));
  const std::string bigContent = ReadFile(big);
  ASSERT_GT(bigContent.size(), std::size_t{1} << 20);

  RewriteProbe smallProbe;
  RewriteProbe bigProbe;
  std::size_t smallPeak = PeakWhileRewriting(tree, small, smallProbe);
  std::size_t bigPeak = PeakWhileRewriting(tree, big, bigProbe);

  RecordProperty("peak_heap_bytes", static_cast<int>(bigPeak));
  RecordProperty("peak_held_bytes", static_cast<int>(bigProbe.peakHeldBytes));

  // The buffers the rewriter keeps: two read blocks, the text buffer, the cut tag, the
  // script run, and the working copies made of a tag or a script run while rewriting it.
  constexpr std::size_t kHeld =
      2 * kPageBlockSize + (kPageBlockSize + 1) + (kTagCut + 1) + (kScriptHold + 1);
  EXPECT_LE(bigProbe.peakHeldBytes, kHeld);
  EXPECT_EQ(bigProbe.peakHeldBytes, smallProbe.peakHeldBytes);
  constexpr std::size_t kHeapBound = 4 * (kTagCut + kScriptHold) + 16 * kPageBlockSize;
  EXPECT_LE(bigPeak, kHeapBound) << "peak heap " << bigPeak << " bytes for a page of "
                                 << bigContent.size();
  EXPECT_LE(bigPeak, smallPeak + 4 * kPageBlockSize) << "the peak must not grow with the page";

  // And the page was really rewritten.
  std::string out = ReadFile(big);
  EXPECT_NE(out.find(platform::FileUrl(tree + "/host/img/a.gif")), std::string::npos);
  EXPECT_GT(out.size(), bigContent.size());
}

}  // namespace
}  // namespace lumbra
