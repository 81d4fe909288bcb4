#include "testing/ie4_fixture.h"

#include <cstdint>

#include <sys/stat.h>

#include "testing/cache_support.h"
#include "testing/temp_dir.h"

namespace lumbra::testing {
namespace {

constexpr std::size_t kFirstRecord = 0x800;  // after the header and its table
constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kRecordRead = 512;
constexpr std::size_t kFilePage = 4096;

void PutLe32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4, '\0');
  for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

void PutBytes(std::string& bytes, std::size_t offset, std::string_view text) {
  if (bytes.size() < offset + text.size()) bytes.resize(offset + text.size(), '\0');
  bytes.replace(offset, text.size(), text);
}

std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

// One URL record as it lies in the file at `recordOffset` (the name is aligned by file offset).
std::string BuildRecord(const Ie4Entry& entry, std::size_t recordOffset, Ie4Version version) {
  std::string record;
  PutBytes(record, 0, "URL ");
  PutBytes(record, 104, entry.url);
  std::size_t pos = 104 + entry.url.size() + 1;  // one NUL after the URL at least
  while ((recordOffset + pos) % 4 != 0) ++pos;
  const std::size_t nameOffset = pos;
  PutBytes(record, pos, entry.fileName);
  pos += entry.fileName.size() + 1;
  const std::size_t headerOffset = pos;
  const std::string header = StoredHeader(entry.contentType, entry.headerText);
  PutBytes(record, pos, header);
  record.resize(RoundUp(pos + header.size() + 1, kBlockSize), '\0');

  PutLe32(record, 4, static_cast<std::uint32_t>(record.size() / kBlockSize));
  PutLe32(record, 52, 104);  // where the URL starts
  if (version == Ie4Version::V52) {
    record[56] = static_cast<char>(entry.subdirectory & 0xff);
    PutLe32(record, 60, static_cast<std::uint32_t>(nameOffset));
    PutLe32(record, 68, static_cast<std::uint32_t>(headerOffset));
    PutLe32(record, 72, static_cast<std::uint32_t>(header.size() + 1));
  } else {
    PutLe32(record, 60, static_cast<std::uint32_t>(entry.subdirectory));
  }
  return record;
}

}  // namespace

Ie4Entry CachedEntry(std::string url, std::string fileName, std::string contentType,
                     std::string content, std::optional<long long> mtime) {
  return {.url = std::move(url),
          .fileName = std::move(fileName),
          .contentType = std::move(contentType),
          .content = std::move(content),
          .mtime = mtime};
}

Ie4Entry Ie4Record(std::string url, std::string fileName, int subdirectory,
                   std::string contentType) {
  return {.url = std::move(url),
          .fileName = std::move(fileName),
          .subdirectory = subdirectory,
          .contentType = std::move(contentType)};
}

Ie4Index BuildIe4Index(const Ie4Cache& cache) {
  const char* versions[] = {"4.7", "4.6", "5.2"};
  Ie4Index index;
  std::string& bytes = index.bytes;
  PutBytes(bytes, 0,
           std::string("Client UrlCache MMF Ver ") + versions[static_cast<int>(cache.version)]);
  const std::size_t table = cache.version == Ie4Version::V46 ? 80 : 72;
  PutLe32(bytes, table, static_cast<std::uint32_t>(cache.subdirectories.size()));
  for (std::size_t i = 0; i < cache.subdirectories.size(); ++i) {
    PutBytes(bytes, table + 8 + 12 * i, cache.subdirectories[i].substr(0, 8));
  }
  bytes.resize(kFirstRecord, '\0');
  for (const Ie4Entry& entry : cache.entries) {
    index.recordOffsets.push_back(bytes.size());
    bytes += BuildRecord(entry, bytes.size(), cache.version);
  }
  std::size_t end = bytes.size();
  if (!index.recordOffsets.empty()) end = std::max(end, index.recordOffsets.back() + kRecordRead);
  bytes.resize(RoundUp(end, kFilePage), '\0');
  PutLe32(bytes, 28, static_cast<std::uint32_t>(bytes.size()));
  return index;
}

std::string WriteIe4Cache(const std::string& dir, const Ie4Cache& cache) {
  const std::string indexPath = dir + "/index.dat";
  WriteBytes(indexPath, BuildIe4Index(cache).bytes);
  for (const std::string& name : cache.subdirectories) ::mkdir((dir + "/" + name).c_str(), 0777);
  for (const Ie4Entry& entry : cache.entries) {
    if (!entry.writeFile || entry.subdirectory < 0 ||
        static_cast<std::size_t>(entry.subdirectory) >= cache.subdirectories.size()) {
      continue;
    }
    std::string path = dir + "/" + cache.subdirectories[entry.subdirectory] + "/" + entry.fileName;
    WriteBytes(path, entry.content);
    if (entry.mtime) SetMtime(path, *entry.mtime);
  }
  return indexPath;
}

}  // namespace lumbra::testing
