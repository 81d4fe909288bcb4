// The surf list on arbitrary bytes: the same paths whatever pieces the bytes arrive in, and
// every directory the job would walk lies below a "log/" of the path and never above it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/log_tree.h"
#include "platform/fs.h"
#include "surf/surf_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumbra::SurfListReader whole;
  whole.Feed(bytes);
  whole.Finish();
  lumbra::SurfListReader pieces;
  const std::size_t split = size == 0 ? 0 : data[0] % size;
  pieces.Feed(bytes.substr(0, split));
  pieces.Feed(bytes.substr(split));
  pieces.Finish();
  if (whole.paths() != pieces.paths()) std::abort();

  constexpr std::string_view kStart = "/start";
  for (const std::string& path : whole.paths()) {
    if (path.empty() || path.size() > lumbra::kSurfListPathMax) std::abort();
    const auto dir = lumbra::SurfListDirectory(path, kStart);
    if (!dir) continue;
    const std::size_t marker = lumbra::FindLogMarker(*dir);
    if (marker == std::string::npos) std::abort();
    if (!lumbra::platform::NameStaysBelow(std::string_view(*dir).substr(1))) std::abort();
    if (path.front() != '/' && !dir->starts_with(std::string(kStart) + "/")) std::abort();
  }
  return 0;
}
