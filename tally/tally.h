// fennow's count: the subdirectories, the files and the bytes below a directory.
//
// The walk lists every entry of a directory in the order the file system gives it, depth
// first. A directory whose name begins with "." ("." and ".." among them) is neither counted
// nor entered; a file with a leading "." is counted like any other. Entries are classified by
// lstat: a symbolic link is counted as a file with the size of the link itself and never
// followed, so no walk can loop or leave the tree. A directory that cannot be listed and an
// entry whose status cannot be read are skipped silently. Totals are 64-bit, and the walk goes
// from directory to directory by descriptor (openat), so a tree of any depth is counted whole,
// its paths however much longer than PATH_MAX, and a tree over 2 GiB shows its true size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/language.h"

namespace lumbra {

struct TallyCounts {
  std::int64_t dirCount = 0;
  std::int64_t fileCount = 0;
  std::uint64_t byteTotal = 0;
};

// Counts what lies below `dir` (the directory itself is not counted) into `counts`.
void TallyDirectory(const std::string& dir, TallyCounts& counts);

// Why `dir` cannot be counted, as a message: it is empty, names no directory, or the
// directory cannot be opened (the path and the system's reason on a line after the text).
// nullopt when it can be counted.
std::optional<std::string> TallyRefusal(const std::string& dir);

// The counts of a fresh count of `dir`.
TallyCounts CountTree(const std::string& dir);

// A number with a "," between every group of three digits from the right (1,234,567).
std::string GroupThousands(std::uint64_t value);

// The labels the window and `fennow --count` show the three values under.
inline constexpr std::string_view kDirCountLabel = platform::TrLater("ディレクトリー数");
inline constexpr std::string_view kFileCountLabel = platform::TrLater("ファイル数");
inline constexpr std::string_view kByteTotalLabel = platform::TrLater("ファイル容量");

}  // namespace lumbra
