#include "platform/path_table.h"

#include <cerrno>

#include <dirent.h>
#include <sys/stat.h>

#include "platform/fs.h"
#include "platform/paths.h"

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

// The directory that holds the entry `path` names, or "" when the path does not end in a
// name of its own ("dir/", "dir/.", "dir/.."), or is a bare name or a name in "/".
std::string_view Holder(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return {};
  std::string_view name = path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return {};
  return path.substr(0, slash);
}

// Whether every component of `path` is a name: no "." or "..", and no empty one but the
// root's and a trailing slash's. Only a plain path has one spelling the table can count on.
bool IsPlain(std::string_view path) {
  std::size_t start = path.starts_with('/') ? 1 : 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part == "." || part == ".." || (part.empty() && end != path.size())) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

PathTable::Kind PathTable::KindOf(std::string_view path) {
  if (auto it = kinds_.find(path); it != kinds_.end()) return it->second;
  // Answered from what the table knows of the holding directory, it is not remembered: the
  // same rule answers again, and stops answering once that knowledge goes.
  if (std::string_view holder = Holder(path); !holder.empty()) {
    auto known = kinds_.find(holder);
    bool noDirectory =
        known != kinds_.end() && known->second != Kind::Directory && known->second != Kind::Link;
    if (noDirectory || whole_.contains(holder)) return Kind::Missing;
  }
  std::string name(path);
  struct stat st;
  Kind kind = ::lstat(name.c_str(), &st) == 0 ? FromMode(st.st_mode) : Kind::Missing;
  if (!name.empty()) Note(name, kind);
  return kind;
}

EntryType PathTable::TypeOf(std::string_view path) {
  std::optional<std::string_view> name = StatName(path);
  if (!name) return EntryType::Missing;
  switch (KindOf(*name)) {
    case Kind::Missing:
      return EntryType::Missing;
    case Kind::File:
      return EntryType::Regular;
    case Kind::Directory:
      return EntryType::Directory;
    case Kind::Other:
      return EntryType::Other;
    case Kind::Link:
      break;  // where it leads is asked every time
  }
  return GetStatus(std::string(*name)).type;
}

void PathTable::Remember(const std::string& path, Kind kind) {
  if (!IsPlain(path)) Unsettle();
  Note(path, kind);
}

void PathTable::Note(const std::string& path, Kind kind) {
  if (!IsReplacementLeftover(LastComponent(path))) kinds_.insert_or_assign(path, kind);
}

void PathTable::RememberNewDirectory(const std::string& path) {
  Remember(path, Kind::Directory);
  if (IsPlain(path)) whole_.insert(path);
}

void PathTable::Forget(const std::string& path) {
  if (!IsPlain(path)) Unsettle();
  kinds_.erase(path);
  whole_.erase(path);
  // It no longer knows every entry there.
  if (auto holder = whole_.find(Holder(path)); holder != whole_.end()) whole_.erase(holder);
}

void PathTable::Unsettle() {
  whole_.clear();
  std::erase_if(kinds_, [](const auto& entry) { return entry.second == Kind::Missing; });
}

std::optional<std::vector<std::string>> PathTable::List(const std::string& dir) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return std::nullopt;
  std::vector<std::string> names;
  bool whole = !dir.empty() && IsPlain(dir);
  errno = 0;
  while (struct dirent* e = ::readdir(d)) {
    names.emplace_back(e->d_name);
    std::string_view name = names.back();
    if (dir.empty() || name == "." || name == "..") continue;
    switch (e->d_type) {
      case DT_REG:
        Note(dir + "/" + names.back(), Kind::File);
        break;
      case DT_DIR:
        Note(dir + "/" + names.back(), Kind::Directory);
        break;
      case DT_LNK:
        Note(dir + "/" + names.back(), Kind::Link);
        break;
      case DT_UNKNOWN:
        whole = false;  // the file system does not tell: asked when needed
        break;
      default:
        Note(dir + "/" + names.back(), Kind::Other);
        break;
    }
  }
  if (errno != 0) whole = false;  // the listing broke off
  ::closedir(d);
  if (whole) whole_.insert(dir);
  return names;
}

}  // namespace lumbra::platform
