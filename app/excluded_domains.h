// The list of excluded domains as the user edits it: the names as typed, sorted, no two
// equal when letter case is ignored; read from and written to lumbra-url.ini.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

inline constexpr std::size_t kDomainLineBuffer = 300;  // lines are read in 299-character pieces

class ExcludedDomainList {
 public:
  // Reads `dir`/lumbra-url.ini: each piece of a line up to its first CR or LF, blank lines
  // dropped. A missing file gives an empty list.
  void Load(const std::string& dir);
  // Writes every name in list order, each with a CR LF; false when the file cannot be written
  // (the old file then stays as it was).
  bool Save(const std::string& dir) const;
  // Adds a name unless it is empty or already listed in any letter case; true when added.
  bool Add(std::string_view name);
  // Removes the name listed equal to `name` ignoring letter case; true when removed.
  bool Remove(std::string_view name);
  // Removes the name at `index` of names(); true when there was one. (A file may hold names
  // that differ only in case; the window removes the very one selected.)
  bool RemoveAt(std::size_t index);

  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;
};

}  // namespace lumbra
