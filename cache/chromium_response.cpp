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

std::uint32_t ChromiumHash(std::string_view data) {
  if (data.empty()) return 0;
  auto bits16 = [&data](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(data[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 1])) << 8;
  };
  auto signedByte = [&data](std::size_t at) {
    return static_cast<std::uint32_t>(
        static_cast<std::int32_t>(static_cast<signed char>(data[at])));
  };
  std::uint32_t hash = static_cast<std::uint32_t>(data.size());
  std::size_t at = 0;
  for (std::size_t blocks = data.size() / 4; blocks > 0; --blocks, at += 4) {
    hash += bits16(at);
    const std::uint32_t mixed = (bits16(at + 2) << 11) ^ hash;
    hash = (hash << 16) ^ mixed;
    hash += hash >> 11;
  }
  switch (data.size() % 4) {
    case 3:
      hash += bits16(at);
      hash ^= hash << 16;
      hash ^= signedByte(at + 2) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += bits16(at);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += signedByte(at);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
    default:
      break;
  }
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

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
