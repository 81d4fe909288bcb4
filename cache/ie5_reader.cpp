// Internet Explorer 5 to 9 index.dat (version 5.2), as this reader reads it; the layout is
// in ie5_reader.h.
//
// Local rules: an offset of 0 names no text. Every other offset is checked against the record,
// and a text ends at its NUL or at the end of the record, the header also at its stored
// length, whichever comes first; nothing outside the record is read for it. The content type
// is looked for in the whole stored header, since its length is given. A record gives a row
// only with a URL and a file name, each non-empty, and a content type; any other record ("REDR",
// "LEAK", "HASH", ...) is passed over.
//
// Debug dump, one line per URL record read, in the form the 4.x reader writes: the low bytes
// of the 25 four-byte fields at offsets 4, 8, ..., 100, each as a signed number followed by a
// blank (so the block count, the URL offset at 52, the subdirectory index at 56, the name
// offset at 60 and the header offset and length at 68 and 72 show as their low bytes); then
// the URL, the file name and the content type as taken for the row, each followed by a blank
// and empty when not taken; then a line end and a blank.

#include "cache/ie5_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cache/byte_span.h"
#include "cache/ie_directory_table.h"

namespace lumbra {
namespace {

constexpr std::size_t kTableOffset = 72;

constexpr std::size_t kBlockSize = 128;
constexpr std::string_view kRecordTag = "URL ";
constexpr std::size_t kBlockCountField = 4;
constexpr std::size_t kUrlField = 52;
constexpr std::size_t kSubdirectoryField = 56;
constexpr std::size_t kNameField = 60;
constexpr std::size_t kHeaderField = 68;
constexpr std::size_t kHeaderLengthField = 72;
constexpr std::size_t kDumpFieldsOffset = 4;
constexpr std::size_t kDumpFieldCount = 25;

// The text at the record offset held in the field at `field`; empty for offset 0 or one
// outside the record.
std::string_view TextAtField(std::string_view record, std::size_t field) {
  std::optional<std::uint32_t> offset = ReadLeU32(record, field);
  if (!offset || *offset == 0) return {};
  return TextAt(record, *offset);
}

// The stored response header: from its offset for its length, cut at the record's end and
// at a NUL.
std::string_view StoredHeader(std::string_view record) {
  std::optional<std::uint32_t> offset = ReadLeU32(record, kHeaderField);
  std::optional<std::uint32_t> length = ReadLeU32(record, kHeaderLengthField);
  if (!offset || !length || *offset == 0 || *offset >= record.size()) return {};
  std::string_view header = record.substr(*offset);
  return TextAt(header.substr(0, std::min<std::size_t>(*length, header.size())), 0);
}

// One whole URL record: appends its row when it names a file and has a content type.
void ParseRecord(std::string_view record, const std::vector<std::string>& subdirectories,
                 CacheEntryTable& table, std::string* dump) {
  std::string_view url = TextAtField(record, kUrlField);
  std::string_view name = TextAtField(record, kNameField);
  std::string_view header = StoredHeader(record);
  std::string_view contentType = ContentTypeIn(header, header.size());
  if (dump != nullptr) {
    for (std::size_t i = 0; i < kDumpFieldCount; ++i) {
      *dump += std::to_string(LowByte(record, kDumpFieldsOffset + 4 * i));
      *dump += ' ';
    }
    *dump += url;
    *dump += ' ';
    *dump += name;
    *dump += ' ';
    *dump += contentType;
    *dump += "\n ";
  }
  if (url.empty() || name.empty() || contentType.empty()) return;

  CacheEntry entry;
  entry.url = std::string(url);
  // An index that names no slot of the directory table gives the bare file name, as in the
  // 4.x reader (history records carry 0xfe here, but they name no file either).
  std::size_t subdirectory = static_cast<unsigned char>(LowByte(record, kSubdirectoryField));
  if (subdirectory < subdirectories.size()) {
    entry.cacheFile = subdirectories[subdirectory];
    entry.cacheFile += '/';
  }
  entry.cacheFile += name;
  entry.contentType = std::string(contentType);
  table.Append(std::move(entry));
}

}  // namespace

void ParseExplorer5Index(std::string_view bytes, CacheEntryTable& table, std::string* dump) {
  const std::vector<std::string> subdirectories =
      ReadDirectoryTable(bytes, kTableOffset, DirectoryTableExtent::kNamesInFile);
  for (std::size_t p = 0; p < bytes.size(); p += kBlockSize) {
    std::string_view rest = bytes.substr(p);
    if (rest.substr(0, kRecordTag.size()) != kRecordTag) continue;
    std::optional<std::uint32_t> blocks = ReadLeU32(rest, kBlockCountField);
    if (!blocks || *blocks == 0 || *blocks > rest.size() / kBlockSize) continue;
    ParseRecord(rest.substr(0, *blocks * kBlockSize), subdirectories, table, dump);
  }
}

}  // namespace lumbra
