#include "testing/ie2_fixture.h"

#include "testing/temp_dir.h"

namespace lumbra::testing {

std::string Ie2Line(const Ie2Entry& entry) {
  if (entry.rawLine) return *entry.rawLine;
  return "F," + entry.url + ",0,0,0,0,0,0,0," + entry.contentType + "," + entry.fileName + "," +
         entry.rest;
}

std::string BuildIe2Index(const Ie2Cache& cache) {
  std::string bytes;
  for (const Ie2Entry& entry : cache.entries) bytes += Ie2Line(entry) + cache.lineEnd;
  return bytes;
}

std::string WriteIe2Cache(const std::string& dir, const Ie2Cache& cache) {
  for (const Ie2Entry& entry : cache.entries) {
    if (!entry.fileName.empty()) WriteBytes(dir + "/" + entry.fileName, entry.content);
  }
  const std::string indexPath = dir + "/iexplore.cif";
  WriteBytes(indexPath, BuildIe2Index(cache));
  return indexPath;
}

}  // namespace lumbra::testing
