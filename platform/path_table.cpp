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

// A path as the key of its directory and a name: split after its last '/'. "a/b" is "a/" and
// "b", "/b" is "/" and "b", "a/" is "a/" and "", and a bare name's directory is "".
struct Split {
  std::string_view directory;
  std::string_view name;
};
Split AtLastSlash(std::string_view path) {
  std::size_t cut = path.rfind('/') + 1;  // 0 when there is no '/'
  return {path.substr(0, cut), path.substr(cut)};
}

// Whether `split` names an entry of a directory the table may know whole or missing: not a
// path without a name of its own ("dir/", "dir/.", "dir/.."), nor a bare name or a name in
// "/".
bool HasHolder(const Split& split) {
  return split.directory.size() > 1 && !split.name.empty() && split.name != "." &&
         split.name != "..";
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
  std::lock_guard lock(mutex_);
  return KindOfLocked(path);
}

PathTable::Kind PathTable::KindOfLocked(std::string_view path) {
  Split split = AtLastSlash(path);
  Directory* dir = FindDirectory(split.directory);
  if (dir != nullptr) {
    if (auto it = dir->kinds.find(split.name); it != dir->kinds.end()) return it->second;
  }
  // Answered from what the table knows of the holding directory, it is not remembered: the
  // same rule answers again, and stops answering once that knowledge goes.
  if (HasHolder(split)) {
    if (dir != nullptr && dir->whole) return Kind::Missing;
    std::string_view holder = split.directory.substr(0, split.directory.size() - 1);
    Split up = AtLastSlash(holder);
    if (Directory* above = FindDirectory(up.directory)) {
      auto known = above->kinds.find(up.name);
      if (known != above->kinds.end() && known->second != Kind::Directory &&
          known->second != Kind::Link)
        return Kind::Missing;
    }
  }
  struct stat st;
  Kind kind = ::lstat(std::string(path).c_str(), &st) == 0 ? FromMode(st.st_mode) : Kind::Missing;
  if (!path.empty()) Note(dir != nullptr ? *dir : DirectoryAt(split.directory), split.name, kind);
  return kind;
}

EntryType PathTable::TypeOf(std::string_view path) {
  std::optional<std::string_view> name = StatName(path);
  if (!name) return EntryType::Missing;
  Kind kind;
  {
    std::lock_guard lock(mutex_);
    kind = KindOfLocked(*name);
  }
  switch (kind) {
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
  std::lock_guard lock(mutex_);
  RememberLocked(path, kind);
}

void PathTable::RememberLocked(const std::string& path, Kind kind) {
  ++changes_;
  if (!IsPlain(path)) Unsettle();
  Note(path, kind);
}

void PathTable::Note(const std::string& path, Kind kind) {
  Split split = AtLastSlash(path);
  Note(DirectoryAt(split.directory), split.name, kind);
}

void PathTable::Note(Directory& dir, std::string_view name, Kind kind) {
  if (IsReplacementLeftover(name)) return;
  dir.kinds.insert_or_assign(std::string(name), kind);
}

void PathTable::RememberNewDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  RememberLocked(path, Kind::Directory);
  if (IsPlain(path)) DirectoryAt(path + "/").whole = true;
}

void PathTable::Forget(const std::string& path) {
  std::lock_guard lock(mutex_);
  ++changes_;
  if (!IsPlain(path)) Unsettle();
  Split split = AtLastSlash(path);
  if (Directory* dir = FindDirectory(split.directory)) {
    if (auto it = dir->kinds.find(split.name); it != dir->kinds.end()) dir->kinds.erase(it);
    // It no longer knows every entry there.
    if (HasHolder(split)) dir->whole = false;
  }
  if (Directory* itself = FindDirectory(path + "/")) itself->whole = false;
}

void PathTable::Unsettle() {
  for (auto& [key, dir] : directories_) {
    dir.whole = false;
    std::erase_if(dir.kinds, [](const auto& entry) { return entry.second == Kind::Missing; });
  }
  std::erase_if(directories_, [](const auto& entry) { return entry.second.kinds.empty(); });
  recent_.entries = {};
}

std::size_t PathTable::size() const {
  std::lock_guard lock(mutex_);
  std::size_t entries = 0;
  for (const auto& [key, dir] : directories_) entries += dir.kinds.size();
  return entries;
}

PathTable::Directory* PathTable::FindDirectory(std::string_view key) {
  for (Directories::value_type* entry : recent_.entries) {
    if (entry != nullptr && entry->first == key) return &entry->second;
  }
  auto it = directories_.find(key);
  if (it == directories_.end()) return nullptr;
  KeepRecent(*it);
  return &it->second;
}

PathTable::Directory& PathTable::DirectoryAt(std::string_view key) {
  if (Directory* dir = FindDirectory(key)) return *dir;
  auto& entry = *directories_.try_emplace(std::string(key)).first;
  KeepRecent(entry);
  return entry.second;
}

void PathTable::KeepRecent(Directories::value_type& entry) {
  recent_.entries[recent_.next] = &entry;
  recent_.next = (recent_.next + 1) % RecentDirectories::kCount;
}

std::optional<std::vector<std::string>> PathTable::List(const std::string& dir) {
  std::lock_guard lock(mutex_);
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return std::nullopt;
  std::vector<std::string> names;
  bool whole = !dir.empty() && IsPlain(dir);
  Directory* listed = dir.empty() ? nullptr : &DirectoryAt(dir + "/");
  errno = 0;
  while (struct dirent* e = ::readdir(d)) {
    names.emplace_back(e->d_name);
    std::string_view name = names.back();
    if (dir.empty() || name == "." || name == "..") continue;
    switch (e->d_type) {
      case DT_REG:
        Note(*listed, name, Kind::File);
        break;
      case DT_DIR:
        Note(*listed, name, Kind::Directory);
        break;
      case DT_LNK:
        Note(*listed, name, Kind::Link);
        break;
      case DT_UNKNOWN:
        whole = false;  // the file system does not tell: asked when needed
        break;
      default:
        Note(*listed, name, Kind::Other);
        break;
    }
  }
  if (errno != 0) whole = false;  // the listing broke off
  ::closedir(d);
  if (whole) listed->whole = true;
  return names;
}

}  // namespace lumbra::platform
