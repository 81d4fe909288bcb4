// Style sheets come from outside, whole (a stored .css) or in pieces (the text of a style
// element between the page's blocks). Whatever a sheet holds and wherever it is cut, its
// rewriting must not crash, must hold no more than one URL, must give back the sheet byte for
// byte when no URL changes, and must give the same sheet cut or whole. The first input byte
// picks where the sheet is cut; the rest is the sheet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rebuild/css_rewriter.h"

namespace {

// Rewrites `sheet` cut at `cut` with `resolve`.
std::string Rewrite(std::string_view sheet, std::size_t cut,
                    const lumbra::CssRewriter::Resolve& resolve) {
  lumbra::CssRewriter rewriter(resolve);
  std::string out;
  rewriter.Feed(sheet.substr(0, cut), out);
  if (rewriter.heldBytes() > lumbra::kCssUrlMax) std::abort();
  rewriter.Feed(sheet.substr(cut), out);
  rewriter.Finish(out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view sheet(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t cut = sheet.empty() ? 0 : data[0] % (sheet.size() + 1);
  const lumbra::CssRewriter::Resolve same = [](std::string&, bool) {};
  if (Rewrite(sheet, cut, same) != sheet) std::abort();
  // A resolution that writes what CSS must escape, in quotes and without.
  const lumbra::CssRewriter::Resolve marked = [](std::string& url, bool import) {
    url = (import ? "i (\"'\\\n" : "u )'\"") + url;
  };
  if (Rewrite(sheet, cut, marked) != lumbra::RewriteCss(sheet, marked)) std::abort();
  return 0;
}
