#include "tally/tally.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/language.h"

namespace lumbra {

namespace {

// One directory of the walk: the subdirectories it holds, still to enter from `next` on, and
// its identity, to know it again when the walk climbs back through "..".
struct Level {
  std::vector<std::string> subdirectories;
  std::size_t next = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

// Counts the entries of the open directory `fd` (which it keeps open) and lists the
// subdirectories to enter; false when the directory cannot be listed.
bool ListLevel(int fd, TallyCounts& counts, Level& level) {
  struct stat own {};
  if (::fstat(fd, &own) != 0) return false;
  level.device = own.st_dev;
  level.inode = own.st_ino;
  const int listing = ::dup(fd);
  if (listing < 0) return false;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    struct stat status {};
    if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(status.st_mode)) {
      ++counts.fileCount;
      counts.byteTotal += static_cast<std::uint64_t>(status.st_size);
      continue;
    }
    if (!name.empty() && name.front() == '.') continue;
    ++counts.dirCount;
    level.subdirectories.emplace_back(name);
  }
  ::closedir(dir);
  return true;
}

}  // namespace

void TallyDirectory(const std::string& dir, TallyCounts& counts) {
  // The walk holds one directory open at a time and goes down and up by name ("..") from
  // it, so no path is ever longer than one name and no depth runs out of descriptors.
  int fd = ::open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  std::vector<Level> levels(1);
  if (!ListLevel(fd, counts, levels.back())) {
    ::close(fd);
    return;
  }
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next < level.subdirectories.size()) {
      const std::string& name = level.subdirectories[level.next++];
      const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) continue;  // not entered: counted, as one that cannot be listed
      Level below;
      if (!ListLevel(child, counts, below)) {
        ::close(child);
        continue;
      }
      ::close(fd);
      fd = child;
      levels.push_back(std::move(below));
      continue;
    }
    levels.pop_back();
    if (levels.empty()) break;
    // Back up to the parent; a tree moved meanwhile ends the walk rather than count elsewhere.
    const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat status {};
    if (parent < 0 || ::fstat(parent, &status) != 0 || status.st_dev != levels.back().device ||
        status.st_ino != levels.back().inode) {
      if (parent >= 0) ::close(parent);
      break;
    }
    ::close(fd);
    fd = parent;
  }
  ::close(fd);
}

std::optional<std::string> TallyRefusal(const std::string& dir) {
  const std::string cannotCount = platform::Tr("ディレクトリーを数えられません");
  if (dir.empty()) return cannotCount + "\r" + platform::Tr("DIR が空です");
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return cannotCount + "\rDIR: " + dir + ": " + std::strerror(errno);
  }
  ::close(fd);
  return std::nullopt;
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
