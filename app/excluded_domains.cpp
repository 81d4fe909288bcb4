#include "app/excluded_domains.h"

#include <algorithm>

#include "core/ascii.h"
#include "logstore/excluded_hosts.h"
#include "platform/fs.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

// The order of a sorted list box: letter case ignored, then byte order.
bool ListOrder(const std::string& a, const std::string& b) {
  std::string la = LowerAscii(a);
  std::string lb = LowerAscii(b);
  return la != lb ? la < lb : a < b;
}

std::string FilePath(const std::string& dir) { return dir + "/" + std::string(kExcludedHostsFile); }

}  // namespace

void ExcludedDomainList::Load(const std::string& dir) {
  names_.clear();
  platform::TextReader reader;
  if (!reader.Open(FilePath(dir))) return;
  std::string piece;
  while (reader.ReadChunk(kDomainLineBuffer, piece)) {
    std::size_t end = piece.find_first_of("\r\n");
    if (end != std::string::npos) piece.resize(end);
    if (!piece.empty()) names_.push_back(piece);
  }
  std::stable_sort(names_.begin(), names_.end(), ListOrder);
}

bool ExcludedDomainList::Save(const std::string& dir) const {
  std::string text;
  for (const std::string& name : names_) text += name + "\r\n";
  std::string path = FilePath(dir);
  mode_t mode = platform::NormalFileMode();
  if (platform::FileStatus old = platform::GetStatus(path); old.isRegular()) mode = old.mode;
  if (platform::IsReadOnly(path)) return false;
  return platform::ReplaceFileContent(path, text, mode);
}

bool ExcludedDomainList::Add(std::string_view name) {
  if (name.empty()) return false;
  std::string lower = LowerAscii(name);
  for (const std::string& listed : names_) {
    if (LowerAscii(listed) == lower) return false;
  }
  std::string entry(name);
  names_.insert(std::upper_bound(names_.begin(), names_.end(), entry, ListOrder), entry);
  return true;
}

bool ExcludedDomainList::Remove(std::string_view name) {
  std::string lower = LowerAscii(name);
  for (auto it = names_.begin(); it != names_.end(); ++it) {
    if (LowerAscii(*it) == lower) {
      names_.erase(it);
      return true;
    }
  }
  return false;
}

bool ExcludedDomainList::RemoveAt(std::size_t index) {
  if (index >= names_.size()) return false;
  names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

}  // namespace lumbra
