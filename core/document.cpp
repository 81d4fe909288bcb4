#include "core/document.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace lumbra {
namespace {

// An unnamed file in $TMPDIR (or /tmp) that disappears with its descriptor; -1 on failure.
int OpenAnonymousFile() {
  const char* base = std::getenv("TMPDIR");
  std::string dir = (base != nullptr && *base != '\0') ? base : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // File systems without O_TMPFILE: a named file, unlinked at once.
  std::string pattern = dir + "/lumbra-spool-XXXXXX";
  fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(pattern.c_str());
  return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

SpooledDocument::SpooledDocument() { status_.type = platform::EntryType::Regular; }

SpooledDocument::~SpooledDocument() { Clear(); }

void SpooledDocument::Clear() {
  if (spill_ >= 0) ::close(spill_);
  spill_ = -1;
  memory_.clear();
  memory_.shrink_to_fit();
  status_.size = 0;
  offset_ = 0;
}

bool SpooledDocument::Spill() {
  spill_ = OpenAnonymousFile();
  if (spill_ < 0 || !WriteAll(spill_, memory_)) return false;
  memory_.clear();
  memory_.shrink_to_fit();
  return true;
}

bool SpooledDocument::Append(std::string_view bytes) {
  if (spill_ < 0 && memory_.size() + bytes.size() > kInMemoryMax && !Spill()) return false;
  if (spill_ >= 0) {
    if (!WriteAll(spill_, bytes)) return false;
  } else {
    memory_.append(bytes);
  }
  status_.size += bytes.size();
  return true;
}

long SpooledDocument::Read(char* buffer, std::size_t size) {
  if (offset_ >= status_.size) return 0;
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, status_.size - offset_));
  if (spill_ >= 0) {
    ssize_t got = ::pread(spill_, buffer, n, static_cast<off_t>(offset_));
    if (got < 0) return -1;
    offset_ += static_cast<std::uint64_t>(got);
    return static_cast<long>(got);
  }
  std::memcpy(buffer, memory_.data() + offset_, n);
  offset_ += n;
  return static_cast<long>(n);
}

bool SpooledDocument::Rewind() {
  offset_ = 0;
  return true;
}

long FileDocument::Read(char* buffer, std::size_t size) {
  if (!file_.isOpen()) return -1;
  // The document is the file as it was opened: one that goes on growing (a browser still
  // writing it, or a file made to fill the disk) is read up to its size then.
  const std::uint64_t opened = file_.status().size;
  if (offset_ >= opened) return 0;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, opened - offset_));
  long n = file_.ReadAt(buffer, size, offset_);
  if (n > 0) offset_ += static_cast<std::uint64_t>(n);
  return n;
}

bool FileDocument::Rewind() {
  offset_ = 0;
  return file_.isOpen();
}

bool CopyDocument(const std::string& target, DocumentSource& document, int* error,
                  const platform::FileStatus* targetStatus) {
  int cause = EACCES;  // a read-only target
  bool ok = targetStatus != nullptr ? !platform::IsReadOnly(*targetStatus)
                                    : !platform::IsReadOnly(target);
  platform::AtomicFileWriter writer;
  ok = ok && document.Rewind() && writer.Open(target);
  std::array<char, 65536> buffer;
  while (ok) {
    long n = document.Read(buffer.data(), buffer.size());
    if (n <= 0) {
      ok = n == 0;
      if (!ok) cause = errno != 0 ? errno : EIO;
      break;
    }
    ok = writer.Write(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  ok = ok && writer.Commit(platform::NormalFileMode());
  if (!ok && error != nullptr) *error = writer.error() != 0 ? writer.error() : cause;
  return ok;
}

bool SameContent(DocumentSource& a, DocumentSource& b) {
  if (!a.Rewind() || !b.Rewind()) return false;
  std::array<char, 4096> blockA;
  std::array<char, 4096> blockB;
  for (;;) {
    long n = a.Read(blockA.data(), blockA.size());
    if (n < 0) return false;
    if (n == 0) return true;
    // b must give as many bytes as a's block, whatever its reads return at a time.
    long got = 0;
    while (got < n) {
      long m = b.Read(blockB.data() + got, static_cast<std::size_t>(n - got));
      if (m <= 0) return false;
      got += m;
    }
    if (std::memcmp(blockA.data(), blockB.data(), static_cast<std::size_t>(n)) != 0) return false;
  }
}

}  // namespace lumbra
