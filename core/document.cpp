#include "core/document.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace lumbra {

long FileDocument::Read(char* buffer, std::size_t size) {
  if (!file_.isOpen()) return -1;
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
