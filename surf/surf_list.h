// The surf list lumbrasurf.txt: the pages a crawling program saved, for the surf job when
// there is no lumbra.mdb. The file is a stream of tokens separated by white space (blanks,
// tabs, line ends, vertical tabs and form feeds alike), taken in groups of five:
//
//   token  meaning
//   1..4   not used by Lumbra (the crawler's own fields)
//   5      the path of a saved page or directory inside a log directory, with '/'
//          separators and containing "log/" in any letter case; at most 255 bytes
//
// A token is every byte up to the next white space, however long: a first to fourth token
// longer than its 9-byte field is still one token, and a fifth longer than 255 bytes drops
// the path of its group. An incomplete last group is ignored. Every path is kept, however many.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

inline constexpr std::string_view kSurfListFile = "lumbrasurf.txt";
inline constexpr std::size_t kSurfListPathMax = 255;

// Reads the list from its bytes in pieces of any size, holding at most one path's worth of an
// unfinished token.
class SurfListReader {
 public:
  void Feed(std::string_view bytes);
  // The end of the file: ends the token being read.
  void Finish();
  // The paths kept, in file order.
  const std::vector<std::string>& paths() const { return paths_; }

 private:
  void EndToken();

  std::vector<std::string> paths_;
  std::string token_;
  bool inToken_ = false;
  bool tooLong_ = false;
  int position_ = 0;  // of the token being read within its group, 0..4
};

// The directory the surf job reconstructs for a kept path: the path with "/" added when it
// does not name a page (no ".htm" in any letter case in its last seven characters) and does
// not end in "/", cut at the last "/" after its first "log/" (any case). nullopt when the path
// has 5 bytes or fewer, no "log/", or no "/" after it, and when the directory would not be a
// plain one: a "." or ".." segment or a NUL. A relative path is taken below `startDir`.
std::optional<std::string> SurfListDirectory(std::string_view path, std::string_view startDir);

}  // namespace lumbra
