#include "tally/tally.h"

#include "platform/fs.h"

namespace lumbra {

bool TallyEntry(std::string_view name, const std::string& path, TallyCounts& counts) {
  platform::FileStatus status = platform::GetLinkStatus(path);
  if (!status.exists()) return false;
  if (!status.isDirectory()) {
    ++counts.fileCount;
    counts.byteTotal += status.size;
    return false;
  }
  if (!name.empty() && name.front() == '.') return false;
  ++counts.dirCount;
  return true;
}

void TallyDirectory(const std::string& dir, TallyCounts& counts) {
  auto names = platform::ListDirectory(dir.empty() ? "/" : dir);
  if (!names) return;
  for (const std::string& name : *names) {
    std::string path = dir + "/" + name;
    if (TallyEntry(name, path, counts)) TallyDirectory(path, counts);
  }
}

TallyCounts CountTree(const std::string& dir) {
  TallyCounts counts;
  TallyDirectory(dir, counts);
  return counts;
}

std::string GroupThousands(std::uint64_t value) {
  std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

}  // namespace lumbra
