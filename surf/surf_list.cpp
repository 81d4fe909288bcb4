#include "surf/surf_list.h"

#include "core/ascii.h"
#include "core/log_tree.h"
#include "platform/fs.h"

namespace lumbra {
namespace {

// The white space that separates the tokens of the list: blank, tab, LF, vertical tab, form
// feed and CR.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr int kGroupSize = 5;
constexpr int kPathPosition = 4;

}  // namespace

void SurfListReader::Feed(std::string_view bytes) {
  for (char c : bytes) {
    if (IsSpace(c)) {
      if (inToken_) EndToken();
      continue;
    }
    inToken_ = true;
    // Only the path is kept; one byte past its limit tells that it is too long.
    if (position_ == kPathPosition && !tooLong_) {
      if (token_.size() < kSurfListPathMax) {
        token_ += c;
      } else {
        tooLong_ = true;
      }
    }
  }
}

void SurfListReader::Finish() {
  if (inToken_) EndToken();
}

void SurfListReader::EndToken() {
  if (position_ == kPathPosition && !tooLong_) paths_.push_back(token_);
  token_.clear();
  inToken_ = false;
  tooLong_ = false;
  position_ = (position_ + 1) % kGroupSize;
}

std::optional<std::string> SurfListDirectory(std::string_view path, std::string_view startDir) {
  if (path.size() <= 5) return std::nullopt;
  std::string dir(path);
  const std::string_view tail = path.substr(path.size() >= 7 ? path.size() - 7 : 0);
  if (!ContainsNoCase(tail, ".htm") && dir.back() != '/') dir += '/';
  const std::size_t marker = FindLogMarker(dir);
  if (marker == std::string::npos) return std::nullopt;
  const std::size_t cut = dir.rfind('/');
  if (cut < marker + kLogMarker.size()) return std::nullopt;
  dir.resize(cut);
  // The directory is walked and its pages rewritten: it must be the one the path names.
  if (dir.front() == '/') {
    if (!platform::NameStaysBelow(std::string_view(dir).substr(1))) return std::nullopt;
    return dir;
  }
  if (!platform::NameStaysBelow(dir)) return std::nullopt;
  std::string absolute(startDir);
  if (absolute.empty() || absolute.back() != '/') absolute += '/';
  return absolute + dir;
}

}  // namespace lumbra
