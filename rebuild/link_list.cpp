#include "rebuild/link_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/ascii.h"
#include "rebuild/link_resolver.h"

namespace lumbra {

bool LinkList::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  written_ = 0;
  return fd_ >= 0;
}

void LinkList::Record(std::string_view link, bool found) {
  if (found || fd_ < 0 || HasMediaExtension(link)) return;
  std::string copy(link);
  if (copy.find("../") != std::string::npos || copy.find("/./") != std::string::npos) {
    copy = ResolveDotSegments(copy);
  }
  if (!ContainsNoCase(copy, "cgi-bin")) {
    std::size_t cut = FindEither(copy, '#', '?', 10);
    if (cut != std::string::npos) copy.resize(cut);
  }
  if (FindNoCase(copy, "http") != 0) return;
  if (copy.size() < kLinkListMax) {
    pending_ += copy + " 0\r\n";  // the list is text with CR LF line ends
    pendingLinks_.push_back(std::move(copy));
    if (pending_.size() >= kChunk) Flush();
  } else {
    tooLong_.insert(std::move(copy));
  }
}

void LinkList::Flush() {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                               static_cast<off_t>(written_ + done));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (done == pending_.size()) {
    written_ += done;
    for (std::string& link : pendingLinks_) {
      lost_.erase(link);  // listed after all
      listed_.insert(std::move(link));
    }
  } else {
    // A piece written in part is taken back, so that a later piece does not continue a cut
    // line; its links are lost, and said to be.
    if (done > 0 && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
      written_ += done;  // the cut line stays, and ends where the next piece begins
    }
    for (std::string& link : pendingLinks_) {
      if (!listed_.contains(link)) lost_.insert(std::move(link));
    }
  }
  pending_.clear();
  pendingLinks_.clear();
}

bool LinkList::Close() {
  if (fd_ < 0) return false;
  if (!pending_.empty()) Flush();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return closed && lost_.empty();
}

}  // namespace lumbra
