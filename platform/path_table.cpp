#include "platform/path_table.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/fs.h"

namespace lumbra::platform {
namespace {

PathTable::Kind FromMode(mode_t mode) {
  if (S_ISREG(mode)) return PathTable::Kind::File;
  if (S_ISDIR(mode)) return PathTable::Kind::Directory;
  if (S_ISLNK(mode)) return PathTable::Kind::Link;
  return PathTable::Kind::Other;
}

std::string_view LastComponent(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

PathTable::Kind PathTable::KindOf(const std::string& path) {
  if (auto it = kinds_.find(path); it != kinds_.end()) return it->second;
  struct stat st;
  Kind kind = ::lstat(path.c_str(), &st) == 0 ? FromMode(st.st_mode) : Kind::Missing;
  if (!path.empty()) Remember(path, kind);
  return kind;
}

void PathTable::Remember(const std::string& path, Kind kind) {
  if (IsReplacementLeftover(LastComponent(path))) return;
  kinds_.insert_or_assign(path, kind);
}

std::optional<std::vector<std::string>> PathTable::List(const std::string& dir) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(d)) {
    names.emplace_back(e->d_name);
    std::string_view name = names.back();
    if (dir.empty() || name == "." || name == "..") continue;
    switch (e->d_type) {
      case DT_REG:
        Remember(dir + "/" + names.back(), Kind::File);
        break;
      case DT_DIR:
        Remember(dir + "/" + names.back(), Kind::Directory);
        break;
      case DT_LNK:
        Remember(dir + "/" + names.back(), Kind::Link);
        break;
      case DT_UNKNOWN:
        break;  // the file system does not tell: asked when needed
      default:
        Remember(dir + "/" + names.back(), Kind::Other);
        break;
    }
  }
  ::closedir(d);
  return names;
}

}  // namespace lumbra::platform
