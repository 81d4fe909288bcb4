#include "testing/ie3_fixture.h"

#include <map>
#include <utility>

#include "testing/cache_support.h"
#include "testing/temp_dir.h"

namespace lumbra::testing {

Ie3Index BuildIe3Index(const std::vector<Ie3Entry>& entries, std::size_t recordSize,
                       std::string_view versionLine, std::size_t firstRecord) {
  Ie3Index index;
  index.bytes = std::string(versionLine) + "\r\n";
  index.bytes.resize(firstRecord, '\0');
  for (const Ie3Entry& entry : entries) {
    index.recordOffsets.push_back(index.bytes.size());
    std::string record = entry.url + '\0' + entry.fileName + '\0' +
                         StoredHeader(entry.contentType, entry.headerText);
    record.resize(recordSize, '\0');
    index.bytes += record;
  }
  return index;
}

void WriteIe3Cache(const std::string& dir, const std::vector<Ie3Entry>& entries) {
  // The records of each index file, by subdirectory and record size, in entry order.
  std::map<std::pair<int, std::size_t>, std::vector<Ie3Entry>> files;
  for (const Ie3Entry& entry : entries) {
    files[{entry.subdirectory, entry.recordSize}].push_back(entry);
    WriteBytes(dir + "/cache" + std::to_string(entry.subdirectory) + "/" + entry.fileName,
               entry.content);
  }
  for (const auto& [key, records] : files) {
    WriteBytes(
        dir + "/cache" + std::to_string(key.first) + "/mm" + std::to_string(key.second) + ".dat",
        BuildIe3Index(records, key.second).bytes);
  }
}

}  // namespace lumbra::testing
