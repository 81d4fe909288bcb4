#include "cache/chromium_response.h"

#include <cstdint>
#include <cstring>

namespace lumbra {
namespace {

constexpr std::uint32_t kVersionMask = 0xff;
// Versions 1 to 3 have been written; today's Chromium writes 3.
constexpr std::uint32_t kVersionMax = 3;
constexpr std::uint32_t kHasExtraFlags = 1u << 31;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// Reads little-endian fields of a pickle's payload, each padded to 4 bytes.
class PickleReader {
 public:
  explicit PickleReader(std::string_view payload) : rest_(payload) {}

  template <typename T>
  bool Read(T& value) {
    if (rest_.size() < sizeof(T)) return false;
    std::memcpy(&value, rest_.data(), sizeof(T));  // the machine is little-endian, as the files
    rest_.remove_prefix(sizeof(T));
    return true;
  }

  bool ReadString(std::string_view& value) {
    std::uint32_t length = 0;
    if (!Read(length) || length > rest_.size()) return false;
    value = rest_.substr(0, length);
    const std::size_t padded = (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
    rest_.remove_prefix(padded <= rest_.size() ? padded : rest_.size());
    return true;
  }

 private:
  std::string_view rest_;
};

bool IsRawHeaders(std::string_view headers) {
  return headers.starts_with("HTTP/") && headers.find('\0') != std::string_view::npos;
}

}  // namespace

std::int64_t ChromiumTimeToUnix(std::int64_t microseconds) {
  return microseconds / 1000000 - kSecondsFrom1601To1970;
}

bool ReadChromiumResponseInfo(std::string_view pickle, StoredResponse& out) {
  std::uint32_t payloadSize = 0;
  if (pickle.size() < 4) return false;
  std::memcpy(&payloadSize, pickle.data(), 4);
  if (payloadSize > pickle.size() - 4) return false;
  PickleReader fields(pickle.substr(4, payloadSize));

  std::uint32_t flags = 0;
  std::uint32_t extraFlags = 0;
  std::int64_t requestTime = 0;
  std::int64_t responseTime = 0;
  if (!fields.Read(flags)) return false;
  const std::uint32_t version = flags & kVersionMask;
  if (version < 1 || version > kVersionMax) return false;
  if ((flags & kHasExtraFlags) != 0 && !fields.Read(extraFlags)) return false;
  if (!fields.Read(requestTime) || !fields.Read(responseTime)) return false;
  // An original response time may come next, as an extra flag says; rather than trust the
  // flag's bit, the raw headers are taken where they are found.
  PickleReader withTime = fields;
  std::int64_t originalTime = 0;
  std::string_view headers;
  if (!(fields.ReadString(headers) && IsRawHeaders(headers)) &&
      !(withTime.Read(originalTime) && withTime.ReadString(headers) && IsRawHeaders(headers))) {
    return false;
  }
  ReadResponseHead(headers, out);
  out.fetched = ChromiumTimeToUnix(responseTime);
  return out.status != 0;
}

}  // namespace lumbra
