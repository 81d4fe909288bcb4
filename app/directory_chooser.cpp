#include "app/directory_chooser.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/fs.h"
#include "platform/language.h"

namespace lumbra {
namespace {

struct Mount {
  std::string source, point, type;
};

// A field of the mount table: the kernel writes space, tab, newline and backslash in a path
// as a backslash and three octal digits.
std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    bool octal = field[i] == '\\' && i + 3 < field.size();
    if (octal) {
      int value = 0;
      for (std::size_t k = 1; k <= 3 && octal; ++k) {
        char c = field[i + k];
        octal = c >= '0' && c <= '7';
        value = value * 8 + (c - '0');
      }
      if (octal && value < 256) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// The mounts of a table in the form of /proc/self/mounts ("source point type options ...");
// a line with fewer than three fields is skipped. nullopt when the table cannot be read.
std::optional<std::vector<Mount>> ReadMounts(const std::string& file) {
  std::optional<std::string> text = platform::ReadFile(file);
  if (!text) return std::nullopt;
  std::vector<Mount> mounts;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::vector<std::string_view> fields;
    std::string_view line(text->data() + start, end - start);
    while (fields.size() < 3) {
      std::size_t from = line.find_first_not_of(" \t");
      if (from == std::string_view::npos) break;
      line.remove_prefix(from);
      std::size_t to = std::min(line.find_first_of(" \t"), line.size());
      fields.push_back(line.substr(0, to));
      line.remove_prefix(to);
    }
    if (fields.size() == 3) {
      mounts.push_back({Unescape(fields[0]), Unescape(fields[1]), std::string(fields[2])});
    }
    start = end + 1;
  }
  return mounts;
}

// Whether `dir` is `prefix` or lies below it.
bool Holds(std::string_view prefix, std::string_view dir) {
  if (prefix == "/") return dir.starts_with('/');
  return dir.starts_with(prefix) && (dir.size() == prefix.size() || dir[prefix.size()] == '/');
}

// A medium a user plugs in: a block device or a network share, mounted below a media root.
// Discs and RAM disks are not drives one can use (the drive box never lists them).
bool IsRemovableMedium(const Mount& m, const std::vector<std::string>& mediaRoots) {
  bool underMedia = std::any_of(mediaRoots.begin(), mediaRoots.end(), [&](const std::string& r) {
    return !r.empty() && m.point.size() > r.size() && Holds(r, m.point);
  });
  if (!underMedia) return false;
  if (m.type == "iso9660" || m.type == "udf") return false;
  if (m.type == "nfs" || m.type == "nfs4" || m.type == "cifs" || m.type == "smb3") return true;
  return m.source.starts_with("/dev/") && !m.source.starts_with("/dev/sr") &&
         !m.source.starts_with("/dev/ram") && !m.source.starts_with("/dev/zram");
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

DriveSource DriveSource::ForThisProcess() {
  const char* home = std::getenv("HOME");
  return {"/proc/self/mounts", home != nullptr ? home : "", {"/media", "/run/media"}, {}};
}

DirectoryChooser::DirectoryChooser(ChooserView& view, DriveSource drives, std::string startPath)
    : view_(view), source_(std::move(drives)), pathText_(std::move(startPath)) {}

void DirectoryChooser::Open() {
  drives_ = {{"/", false, ""}};
  std::string home = WithoutTrailingSlashes(source_.home);
  if (home.starts_with('/') && home != "/" && platform::GetStatus(home).isDirectory()) {
    drives_.push_back({home, false, ""});
  }
  mountPoints_.clear();
  for (const Mount& m : ReadMounts(source_.mountsFile).value_or(std::vector<Mount>{})) {
    mountPoints_.push_back(m.point);
    bool listed = std::any_of(drives_.begin(), drives_.end(),
                              [&](const Drive& d) { return d.path == m.point; });
    if (!listed && IsRemovableMedium(m, source_.mediaRoots)) drives_.push_back({m.point, true, ""});
  }
  for (const Shortcut& shortcut : source_.shortcuts) {
    std::string path = WithoutTrailingSlashes(shortcut.path);
    if (path.starts_with('/')) drives_.push_back({path, false, shortcut.label});
  }

  // A path on another drive makes that drive current first, so that a path which cannot be
  // entered leaves the window on its drive.
  if (pathText_.starts_with('/')) {
    if (int drive = DriveOf(pathText_); drive >= 0) MakeDriveCurrent(drives_[drive]);
  }
  platform::ChangeDirectory(pathText_);
  std::string current = platform::CurrentDirectory();
  if (current.empty()) {  // the current directory is gone: the window opens with empty lists
    ShowMembers();
    return;
  }
  pathText_ = current;
  currentDrive_ = DriveOf(current);
  ListDirectories(pathText_);
  FillDirectoryList();
  std::vector<std::string> names;
  for (const Drive& drive : drives_)
    names.push_back(drive.label.empty() ? drive.path : drive.label);
  view_.SetEntries(kDriveBox, names);
  ShowMembers();
}

void DirectoryChooser::OnDirectorySelected() {
  int line = view_.Selection(kDirectoryList);
  if (line < 0 || static_cast<std::size_t>(line) >= shownNames_.size()) return;
  std::string name = shownNames_[static_cast<std::size_t>(line)];
  std::string current = platform::CurrentDirectory();
  if (current.empty()) return;
  pathText_ = current;
  if (!pathText_.ends_with('/')) pathText_ += '/';
  pathText_ += name;
  platform::ChangeDirectory(pathText_);
  // A directory that cannot be entered lists nothing and the path returns to where we are.
  ListDirectories(pathText_);
  FillDirectoryList();
  if (std::string now = platform::CurrentDirectory(); !now.empty()) pathText_ = now;
  ShowMembers();
}

void DirectoryChooser::OnDriveSelected() {
  int index = view_.Selection(kDriveBox);
  if (index >= 0 && static_cast<std::size_t>(index) < drives_.size()) {
    if (MakeDriveCurrent(drives_[static_cast<std::size_t>(index)])) {
      currentDrive_ = index;
    } else {
      view_.ShowMessage(platform::Tr(kDriveUnusableMessage));
    }
  }
  std::string current = platform::CurrentDirectory();
  if (current.empty()) return;
  pathText_ = current;
  ListDirectories(pathText_);
  FillDirectoryList();  // shows the members: the box returns to the current drive
}

void DirectoryChooser::OnOk() {
  pathText_ = view_.GetText(kPathEdit);
  view_.Close(true);
}

void DirectoryChooser::OnCancel() { view_.Close(false); }

void DirectoryChooser::ListDirectories(const std::string& dir) {
  dirNames_.clear();
  std::optional<std::vector<std::string>> entries = platform::ListDirectory(dir);
  if (!entries) return;
  std::string prefix = dir.empty() || dir.ends_with('/') ? dir : dir + "/";
  for (const std::string& name : *entries) {
    if (name == ".") continue;
    if (platform::GetStatus(prefix + name).isDirectory()) dirNames_.push_back(name);
  }
}

void DirectoryChooser::FillDirectoryList() {
  shownNames_ = dirNames_;
  std::stable_sort(
      shownNames_.begin(), shownNames_.end(),
      [](const std::string& a, const std::string& b) { return SortedListOrder(a, b); });
  view_.SetEntries(kDirectoryList, shownNames_);
  view_.Select(kDirectoryList, shownNames_.empty() ? -1 : 0);
  ShowMembers();
}

void DirectoryChooser::ShowMembers() {
  view_.SetText(kPathEdit, pathText_);
  view_.Select(kDriveBox, currentDrive_);
}

int DirectoryChooser::DriveOf(const std::string& dir) const {
  int found = -1;
  std::size_t longest = 0;
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (Holds(drives_[i].path, dir) && drives_[i].path.size() > longest) {
      found = static_cast<int>(i);
      longest = drives_[i].path.size();
    }
  }
  for (const std::string& point : mountPoints_) {
    if (Holds(point, dir) && point.size() > longest) {
      found = -1;
      longest = point.size();
    }
  }
  return found;
}

bool DirectoryChooser::MakeDriveCurrent(const Drive& drive) const {
  if (drive.removable) {
    // The directory outlives its medium (or is made again by someone else): only a medium
    // still mounted there is a drive.
    std::optional<std::vector<Mount>> mounts = ReadMounts(source_.mountsFile);
    if (!mounts) return false;
    bool mounted = std::any_of(mounts->begin(), mounts->end(), [&](const Mount& m) {
      return m.point == drive.path && IsRemovableMedium(m, source_.mediaRoots);
    });
    if (!mounted) return false;
  }
  return platform::ChangeDirectory(drive.path);
}

}  // namespace lumbra
