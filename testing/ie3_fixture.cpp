#include "testing/ie3_fixture.h"

#include <fstream>
#include <utility>

#include <sys/stat.h>

#include "testing/temp_dir.h"

namespace lumbra::testing {
namespace {

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Subdirectory(const std::string& dir, int d) {
  return dir + "/cache" + std::to_string(d);
}

}  // namespace

std::string Ie3IndexName(std::size_t recordSize) {
  return "mm" + std::to_string(recordSize) + ".dat";
}

std::string BuildIe3Record(const Ie3Entry& entry, std::size_t recordSize) {
  std::string header;
  if (entry.headerText) {
    header = *entry.headerText;
  } else {
    header = "HTTP/1.0 200 OK\r\n";
    if (!entry.contentType.empty()) header += "Content-Type: " + entry.contentType + "\r\n";
    header += "\r\n";
  }
  std::string record = entry.url + '\0' + entry.fileName + '\0' + header;
  record.resize(recordSize, '\0');
  return record;
}

Ie3Index BuildIe3Index(const std::vector<Ie3Entry>& entries, std::size_t recordSize,
                       std::string_view versionLine, std::size_t firstRecord) {
  Ie3Index index;
  index.bytes = std::string(versionLine) + "\r\n";
  index.bytes.resize(firstRecord, '\0');
  for (const Ie3Entry& entry : entries) {
    index.recordOffsets.push_back(index.bytes.size());
    index.bytes += BuildIe3Record(entry, recordSize);
  }
  return index;
}

void WriteIe3Cache(const std::string& dir, const Ie3Cache& cache) {
  ::mkdir(dir.c_str(), 0777);
  // The records of each index file, by subdirectory and record size, in entry order.
  std::map<std::pair<int, std::size_t>, std::vector<Ie3Entry>> files;
  for (const Ie3Entry& entry : cache.entries) {
    files[{entry.subdirectory, entry.recordSize}].push_back(entry);
    ::mkdir(Subdirectory(dir, entry.subdirectory).c_str(), 0777);
    if (!entry.writeFile) continue;
    std::string path = Subdirectory(dir, entry.subdirectory) + "/" + entry.fileName;
    WriteBytes(path, entry.content);
    if (entry.mtime) SetMtime(path, *entry.mtime);
  }
  for (const auto& [key, entries] : files) {
    const auto& [d, recordSize] = key;
    WriteBytes(Subdirectory(dir, d) + "/" + Ie3IndexName(recordSize),
               BuildIe3Index(entries, recordSize, cache.versionLine, cache.firstRecord).bytes);
  }
  for (const auto& [relative, bytes] : cache.rawFiles) {
    std::size_t slash = relative.rfind('/');
    if (slash != std::string::npos) ::mkdir((dir + "/" + relative.substr(0, slash)).c_str(), 0777);
    WriteBytes(dir + "/" + relative, bytes);
  }
}

}  // namespace lumbra::testing
