#include "testing/ie2_fixture.h"

#include <fstream>

#include <sys/stat.h>

#include "testing/temp_dir.h"

namespace lumbra::testing {
namespace {

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Makes the directories of the relative path `relative` below `dir`.
void MakeParents(const std::string& dir, const std::string& relative) {
  for (std::size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    ::mkdir((dir + "/" + relative.substr(0, slash)).c_str(), 0777);
  }
}

}  // namespace

std::string Ie2Line(const Ie2Entry& entry) {
  if (entry.rawLine) return *entry.rawLine;
  std::string line = "F," + entry.url + ",";
  for (const std::string& field : entry.passedOver) line += field + ",";
  return line + entry.contentType + "," + entry.fileName + "," + entry.rest;
}

std::string BuildIe2Index(const Ie2Cache& cache) {
  std::string bytes;
  for (const Ie2Entry& entry : cache.entries) bytes += Ie2Line(entry) + cache.lineEnd;
  return bytes;
}

std::string WriteIe2Cache(const std::string& dir, const Ie2Cache& cache) {
  ::mkdir(dir.c_str(), 0777);
  for (const Ie2Entry& entry : cache.entries) {
    if (!entry.writeFile || entry.fileName.empty()) continue;
    MakeParents(dir, entry.fileName);
    std::string path = dir + "/" + entry.fileName;
    WriteBytes(path, entry.content);
    if (entry.mtime) SetMtime(path, *entry.mtime);
  }
  std::string indexPath = dir + "/iexplore.cif";
  WriteBytes(indexPath, BuildIe2Index(cache));
  return indexPath;
}

}  // namespace lumbra::testing
