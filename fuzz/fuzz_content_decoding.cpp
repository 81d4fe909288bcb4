// The decoders of stored bodies: the first byte picks the Content-Encoding, the rest is the
// body as a cache would keep it. Whatever the bytes, decoding ends, stays within its bounds
// and never reports a body it did not decode whole.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cache/content_decoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  constexpr std::array<std::string_view, 7> kEncodings = {"gzip",     "deflate", "br",      "zstd",
                                                          "gzip, br", "x-gzip",  "identity"};
  const std::string_view encoding = kEncodings[data[0] % kEncodings.size()];
  lumbra::SpooledDocument stored;
  stored.Append(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  lumbra::SpooledDocument decoded;
  const lumbra::Decoding result = lumbra::DecodeContent(encoding, stored, decoded);
  if (decoded.size() > lumbra::kDecodedRatioMax * (size - 1)) __builtin_trap();
  if (result == lumbra::Decoding::Done && encoding == "identity" && decoded.size() != size - 1) {
    __builtin_trap();
  }
  return 0;
}
