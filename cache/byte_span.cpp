#include "cache/byte_span.h"

#include <algorithm>

#include "cache/cache_table.h"
#include "core/ascii.h"

namespace lumbra {
namespace {

constexpr std::string_view kContentTypeHeader = "content-type:";

template <typename T>
std::optional<T> ReadLe(std::string_view bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
  }
  return static_cast<T>(value);
}

}  // namespace

std::optional<std::int16_t> ReadLe16(std::string_view bytes, std::size_t offset) {
  return ReadLe<std::int16_t>(bytes, offset);
}

std::optional<std::int32_t> ReadLe32(std::string_view bytes, std::size_t offset) {
  return ReadLe<std::int32_t>(bytes, offset);
}

std::optional<std::uint32_t> ReadLeU32(std::string_view bytes, std::size_t offset) {
  return ReadLe<std::uint32_t>(bytes, offset);
}

std::string_view TextAt(std::string_view bytes, std::size_t pos) {
  if (pos >= bytes.size()) return {};
  std::string_view rest = bytes.substr(pos);
  return rest.substr(0, std::min(rest.find('\0'), rest.size()));
}

std::size_t SkipNuls(std::string_view bytes, std::size_t pos) {
  while (pos < bytes.size() && bytes[pos] == '\0') ++pos;
  return pos;
}

std::string_view ContentTypeIn(std::string_view headers, std::size_t reach) {
  std::size_t match = FindNoCase(headers, kContentTypeHeader);
  if (match == std::string_view::npos || match >= reach) return {};
  std::size_t start = match + kContentTypeHeader.size();
  if (start < headers.size() && (headers[start] == ' ' || headers[start] == '\t')) ++start;
  std::string_view value = headers.substr(start);
  value = value.substr(0, std::min(value.find('\r'), value.size()));
  return value.substr(0, std::min(value.size(), kContentTypeMax));
}

}  // namespace lumbra
