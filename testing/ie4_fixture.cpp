#include "testing/ie4_fixture.h"

#include <cstdint>
#include <fstream>

#include <sys/stat.h>
#include <utime.h>

namespace lumbra::testing {
namespace {

constexpr std::size_t kRecordRead = 512;
constexpr std::size_t kFilePage = 4096;

void PutLe32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xff);
  }
}

void PutBytes(std::string& bytes, std::size_t offset, std::string_view text) {
  if (bytes.size() < offset + text.size()) bytes.resize(offset + text.size(), '\0');
  bytes.replace(offset, text.size(), text);
}

std::string_view Signature(Ie4Version version) {
  switch (version) {
    case Ie4Version::V47:
      return "Client UrlCache MMF Ver 4.7";
    case Ie4Version::V46:
      return "Client UrlCache MMF Ver 4.6";
    case Ie4Version::V52:
      return "Client UrlCache MMF Ver 5.2";
  }
  return {};
}

std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

Ie4Entry CachedEntry(std::string url, std::string fileName, std::string contentType,
                     std::string content, std::optional<long long> mtime) {
  Ie4Entry e;
  e.url = std::move(url);
  e.fileName = std::move(fileName);
  e.contentType = std::move(contentType);
  e.content = std::move(content);
  e.mtime = mtime;
  return e;
}

std::string BuildIe4Record(const Ie4Entry& entry, std::size_t recordOffset, Ie4Version version) {
  std::string record;
  PutBytes(record, 0, "URL ");
  PutBytes(record, 104, entry.url);
  std::size_t pos = 104 + entry.url.size() + 1;  // one NUL after the URL at least
  while ((recordOffset + pos) % 4 != 0) ++pos;
  const std::size_t nameOffset = pos;
  PutBytes(record, pos, entry.fileName);
  pos += entry.fileName.size() + 1;
  const std::size_t headerOffset = pos;
  std::string header;
  if (entry.headerText) {
    header = *entry.headerText;
  } else {
    header = "HTTP/1.1 200 OK\r\n";
    if (!entry.contentType.empty()) header += "Content-Type: " + entry.contentType + "\r\n";
    header += "\r\n";
  }
  PutBytes(record, pos, header);
  pos += header.size() + 1;
  record.resize(RoundUp(pos, kIe4BlockSize), '\0');

  const std::uint32_t blocks = static_cast<std::uint32_t>(record.size() / kIe4BlockSize);
  PutLe32(record, 4, blocks);
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

Ie4Index BuildIe4Index(const Ie4Cache& cache) {
  Ie4Index index;
  std::string& bytes = index.bytes;
  PutBytes(bytes, 0, Signature(cache.version));
  const std::size_t table = cache.version == Ie4Version::V46 ? 80 : 72;
  PutLe32(bytes, table, static_cast<std::uint32_t>(cache.subdirectories.size()));
  for (std::size_t i = 0; i < cache.subdirectories.size(); ++i) {
    std::string name = cache.subdirectories[i].substr(0, 8);
    PutLe32(bytes, table + 4 + 12 * i, 0);
    PutBytes(bytes, table + 8 + 12 * i, name);
  }
  bytes.resize(kIe4FirstRecord, '\0');

  std::size_t offset = kIe4FirstRecord;
  for (const Ie4Entry& entry : cache.entries) {
    std::string record = BuildIe4Record(entry, offset, cache.version);
    index.recordOffsets.push_back(offset);
    PutBytes(bytes, offset, record);
    offset += record.size();
  }
  std::size_t end = offset;
  if (!index.recordOffsets.empty()) {
    end = std::max(end, index.recordOffsets.back() + kRecordRead);
  }
  bytes.resize(RoundUp(end, kFilePage), '\0');
  PutLe32(bytes, 28, static_cast<std::uint32_t>(bytes.size()));
  return index;
}

std::string WriteIe4Cache(const std::string& dir, const Ie4Cache& cache) {
  ::mkdir(dir.c_str(), 0777);
  for (const std::string& name : cache.subdirectories) {
    ::mkdir((dir + "/" + name).c_str(), 0777);
  }
  for (const Ie4Entry& entry : cache.entries) {
    if (!entry.writeFile || entry.subdirectory < 0 ||
        static_cast<std::size_t>(entry.subdirectory) >= cache.subdirectories.size()) {
      continue;
    }
    std::string path = dir + "/" +
                       cache.subdirectories[static_cast<std::size_t>(entry.subdirectory)] + "/" +
                       entry.fileName;
    WriteBytes(path, entry.content);
    if (entry.mtime) {
      struct utimbuf times;
      times.actime = static_cast<time_t>(*entry.mtime);
      times.modtime = static_cast<time_t>(*entry.mtime);
      ::utime(path.c_str(), &times);
    }
  }
  std::string indexPath = dir + "/index.dat";
  WriteBytes(indexPath, BuildIe4Index(cache).bytes);
  return indexPath;
}

}  // namespace lumbra::testing
