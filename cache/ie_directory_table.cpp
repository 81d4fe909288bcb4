#include "cache/ie_directory_table.h"

#include <cstdint>
#include <optional>

#include "cache/byte_span.h"

namespace lumbra {
namespace {

constexpr std::size_t kTableSize = 1024;
constexpr std::size_t kCountField = 0;
constexpr std::size_t kNameOffset = 8;
constexpr std::size_t kEntryStride = 12;
constexpr std::size_t kNameSize = 8;

}  // namespace

std::vector<std::string> ReadDirectoryTable(std::string_view bytes, std::size_t offset,
                                            DirectoryTableExtent extent) {
  std::vector<std::string> names;
  if (offset > bytes.size()) return names;
  std::string_view table = bytes.substr(offset);
  if (extent == DirectoryTableExtent::kWhole && table.size() < kTableSize) return names;
  table = table.substr(0, kTableSize);
  // As many names as the count gives and the table holds.
  const int count = LowByte(table, kCountField);
  for (int i = 0; i < count; ++i) {
    const std::size_t at = kNameOffset + kEntryStride * static_cast<std::size_t>(i);
    if (table.size() < at + kNameSize) break;
    names.emplace_back(TextAt(table.substr(at, kNameSize), 0));
  }
  return names;
}

int LowByte(std::string_view bytes, std::size_t offset) {
  std::optional<std::uint32_t> value = ReadLeU32(bytes, offset);
  return value ? static_cast<std::int8_t>(*value & 0xff) : 0;
}

}  // namespace lumbra
