#include "platform/fs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/path_table.h"

namespace lumbra::platform {
namespace {

FileStatus FromStat(const struct stat& st) {
  FileStatus status;
  if (S_ISREG(st.st_mode)) {
    status.type = EntryType::Regular;
  } else if (S_ISDIR(st.st_mode)) {
    status.type = EntryType::Directory;
  } else {
    status.type = EntryType::Other;
  }
  status.size = static_cast<std::uint64_t>(st.st_size);
  status.mtime = static_cast<std::int64_t>(st.st_mtime);
  status.mode = st.st_mode;
  return status;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

FileStatus GetStatus(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  return FromStat(st);
}

FileStatus GetLinkStatus(const std::string& path) {
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return {};
  FileStatus status = FromStat(st);
  if (S_ISLNK(st.st_mode)) status.type = EntryType::Other;
  return status;
}

std::optional<std::vector<std::string>> ListDirectory(const std::string& dir) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
  ::closedir(d);
  return names;
}

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

bool ChangeDirectory(const std::string& dir) { return ::chdir(dir.c_str()) == 0; }

bool MakeDirectory(const std::string& dir) { return ::mkdir(dir.c_str(), 0777) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool IsReadOnly(const std::string& path) { return IsReadOnly(GetStatus(path)); }

bool IsReadOnly(const FileStatus& status) {
  return status.exists() && (status.mode & S_IWUSR) == 0;
}

mode_t NormalFileMode() {
  // umask can only be read by setting it; put it back at once. Read once: nothing here
  // changes it.
  static const mode_t mode = [] {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
  }();
  return mode;
}

bool SetFileMode(const std::string& path, mode_t mode) {
  return ::chmod(path.c_str(), mode & 07777) == 0;
}

namespace {

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

OpenError FromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return OpenError::Missing;
    case ELOOP:
      return OpenError::SymbolicLink;
    default:
      return OpenError::Unreadable;
  }
}

// What lstat or stat says of an entry before anything opens it: only a regular file is
// opened, so no device is ever touched.
OpenError Classify(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return OpenError::SymbolicLink;
  if (!S_ISREG(st.st_mode)) return OpenError::NotRegular;
  return OpenError::None;
}

}  // namespace

bool NameStaysBelow(std::string_view relative) {
  if (relative.empty() || relative.front() == '/') return false;
  if (relative.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    std::string_view segment = relative.substr(start, end - start);
    if (segment == "." || segment == "..") return false;
    start = end + 1;
  }
  return true;
}

OpenError ReadableFile::Open(const std::string& path, FollowLinks follow) {
  Close();
  if (path.empty()) return OpenError::Missing;
  struct stat st;
  int got = follow == FollowLinks::Yes ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (got != 0) return FromErrno(errno);
  if (OpenError why = Classify(st); why != OpenError::None) return why;
  int flags = kReadFlags | (follow == FollowLinks::No ? O_NOFOLLOW : 0);
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) return FromErrno(errno);
  return Finish(fd);
}

OpenError ReadableFile::OpenSeenRegular(const std::string& path) {
  Close();
  if (path.empty()) return OpenError::Missing;
  int fd = ::open(path.c_str(), kReadFlags | O_NOFOLLOW);
  if (fd < 0) return FromErrno(errno);
  return Finish(fd);
}

OpenError ReadableFile::OpenAt(int dir, const std::string& name) {
  if (name.empty()) return OpenError::NotRegular;  // the name ends in '/': a directory
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
  if (OpenError why = Classify(st); why != OpenError::None) return why;
  int fd = ::openat(dir, name.c_str(), kReadFlags | O_NOFOLLOW);
  if (fd < 0) return FromErrno(errno);
  return Finish(fd);
}

FilesBelow::~FilesBelow() {
  for (const OpenDirectory& dir : kept_) ::close(dir.fd);
}

OpenError FilesBelow::Open(std::string_view relative, ReadableFile& file) {
  file.Close();
  if (!NameStaysBelow(relative)) return OpenError::OutsideRoot;
  std::size_t slash = relative.rfind('/');
  std::string_view dirPart = slash == std::string_view::npos ? "" : relative.substr(0, slash);
  std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
  for (const OpenDirectory& kept : kept_) {
    if (kept.part == dirPart) return file.OpenAt(kept.fd, name);
  }

  int dir = ::open(root_.empty() ? "." : root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return FromErrno(errno);
  // Each directory is opened from the one before it, never following a link, so the file
  // reached is the one the name says, below the root, whatever the components are.
  std::size_t start = 0;
  while (start < dirPart.size()) {
    std::size_t end = std::min(dirPart.find('/', start), dirPart.size());
    std::string segment(dirPart.substr(start, end - start));
    start = end + 1;
    if (segment.empty()) continue;
    struct stat st;
    if (::fstatat(dir, segment.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      int error = errno;
      ::close(dir);
      return FromErrno(error);
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
      ::close(dir);
      return S_ISLNK(st.st_mode) ? OpenError::SymbolicLink : OpenError::Missing;
    }
    int next = ::openat(dir, segment.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    ::close(dir);
    if (next < 0) return FromErrno(error);
    dir = next;
  }
  if (kept_.size() == kKeptDirectories) {
    ::close(kept_.front().fd);
    kept_.erase(kept_.begin());
  }
  kept_.push_back({std::string(dirPart), dir});
  return file.OpenAt(dir, name);
}

OpenError ReadableFile::Finish(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return OpenError::Unreadable;
  }
  // Something else may have been put in the entry's place between the test and the open.
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return OpenError::NotRegular;
  }
  fd_ = fd;
  status_ = FromStat(st);
  return OpenError::None;
}

long ReadableFile::Read(char* buffer, std::size_t size) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool ReadableFile::ReadAll(std::string& out) {
  char buffer[65536];
  for (;;) {
    long n = Read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

long ReadableFile::ReadAt(char* buffer, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool ReadableFile::ReadExactlyAt(std::uint64_t offset, std::uint64_t length, std::string& out) {
  if (offset > status_.size || length > status_.size - offset) return false;
  out.resize(static_cast<std::size_t>(length));
  for (std::size_t done = 0; done < out.size();) {
    const long n = ReadAt(out.data() + done, out.size() - done, offset + done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::FILE* ReadableFile::ReleaseAsStream() {
  if (fd_ < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd_, "rb");
  if (stream == nullptr) {
    Close();
    return nullptr;
  }
  fd_ = -1;
  return stream;
}

int ReadableFile::Release() {
  const int fd = fd_;
  fd_ = -1;
  status_ = {};
  return fd;
}

void ReadableFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  status_ = {};
}

std::optional<std::string> ReadFile(const std::string& path) {
  ReadableFile file;
  if (file.Open(path, FollowLinks::Yes) != OpenError::None) return std::nullopt;
  std::string content;
  if (!file.ReadAll(content)) return std::nullopt;
  return content;
}

bool CrossesSymbolicLink(std::string_view root, std::string_view path, PathTable* table) {
  std::size_t start = root.size() + 1;
  if (path.size() < start || path.substr(0, root.size()) != root || path[root.size()] != '/') {
    return true;  // not below the root at all: never taken for a safe path
  }
  PathTable once;
  PathTable& kinds = table != nullptr ? *table : once;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      PathTable::Kind kind = kinds.KindOf(path.substr(0, end));
      if (kind == PathTable::Kind::Missing) return false;  // nothing further exists
      if (kind == PathTable::Kind::Link) return true;
    }
    start = end + 1;
  }
  return false;
}

bool IsReplacementLeftover(std::string_view name) {
  constexpr std::string_view kPrefix = ".lumbra-tmp-";
  if (name.size() != kPrefix.size() + 6 || !name.starts_with(kPrefix)) return false;
  for (char c : name.substr(kPrefix.size())) {
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

AtomicFileWriter::~AtomicFileWriter() { Abort(); }

bool AtomicFileWriter::Open(const std::string& target) {
  failed_ = tempFailed_ = false;
  error_ = 0;
  if (kept_ && DirectoryOf(target) == DirectoryOf(target_)) {
    kept_ = false;
    target_ = target;
    return true;
  }
  Abort();
  target_ = target;
  return MakeTemp();
}

void AtomicFileWriter::OpenLater(const std::string& target) {
  Abort();
  failed_ = tempFailed_ = false;
  error_ = 0;
  target_ = target;
  later_ = true;
}

bool AtomicFileWriter::MakeTemp() {
  std::string pattern = DirectoryOf(target_) + "/.lumbra-tmp-XXXXXX";
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    failed_ = tempFailed_ = true;
    error_ = errno;
    return false;
  }
  fd_ = fd;
  temp_ = pattern;
  return true;
}

bool AtomicFileWriter::Write(std::string_view bytes) {
  if ((fd_ < 0 && !later_) || failed_) return false;
  if (buffer_.size() + bytes.size() > kBufferSize && !Flush()) return false;
  if (bytes.size() >= kBufferSize) {
    if (fd_ < 0 && !MakeTemp()) return false;
    reachedFile_ = true;
    if (!WriteAll(fd_, bytes)) {
      failed_ = true;
      error_ = errno;
    }
    return !failed_;
  }
  if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
  buffer_.append(bytes);
  return true;
}

bool AtomicFileWriter::Flush() {
  if (!failed_ && !buffer_.empty() && (fd_ >= 0 || MakeTemp())) {
    reachedFile_ = true;
    if (!WriteAll(fd_, buffer_)) {
      failed_ = true;
      error_ = errno;
    }
  }
  buffer_.clear();
  return !failed_;
}

bool AtomicFileWriter::Commit(mode_t mode) {
  Handover handover = Release(mode);
  const bool ok = Complete(handover);
  if (!ok) {
    error_ = handover.error;
    tempFailed_ = handover.tempFailed;
  }
  return ok;
}

AtomicFileWriter::Handover AtomicFileWriter::Release(mode_t mode) {
  Handover handover;
  handover.fd = fd_;
  handover.makeTemp = later_ && fd_ < 0 && !failed_;
  handover.failed = failed_;
  handover.tempFailed = tempFailed_;
  handover.error = error_;
  handover.mode = mode;
  handover.temp = std::move(temp_);
  handover.target = target_;
  handover.buffer = buffer_;  // the writer keeps its buffer for the next file
  fd_ = -1;
  reachedFile_ = kept_ = later_ = false;
  temp_.clear();
  buffer_.clear();
  return handover;
}

bool AtomicFileWriter::Complete(Handover& handover) {
  struct CloseAfter {
    int& fd;
    ~CloseAfter() {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  } closeAfter{handover.closeAfter};
  if (handover.fd < 0) {
    if (!handover.makeTemp) return false;
    std::string pattern = DirectoryOf(handover.target) + "/.lumbra-tmp-XXXXXX";
    handover.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (handover.fd < 0) {
      handover.tempFailed = true;
      handover.error = errno;
      return false;
    }
    handover.temp = std::move(pattern);
  }
  bool ok = !handover.failed;
  if (ok && !handover.buffer.empty() && !WriteAll(handover.fd, handover.buffer)) ok = false;
  if (ok && ::fchmod(handover.fd, handover.mode & 07777) != 0) ok = false;
  if (!ok && handover.error == 0) handover.error = errno;
  if (::close(handover.fd) != 0 && ok) {
    ok = false;
    handover.error = errno;
  }
  handover.fd = -1;
  if (ok && ::rename(handover.temp.c_str(), handover.target.c_str()) != 0) {
    ok = false;
    handover.error = errno;
  }
  if (!ok) ::unlink(handover.temp.c_str());
  return ok;
}

void AtomicFileWriter::Abort() {
  buffer_.clear();
  reachedFile_ = kept_ = later_ = false;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

void AtomicFileWriter::Discard() {
  if (fd_ < 0 || reachedFile_) {
    Abort();
    return;
  }
  buffer_.clear();
  failed_ = false;
  error_ = 0;
  kept_ = true;
}

bool ReplaceFileContent(const std::string& path, std::string_view content, mode_t mode) {
  AtomicFileWriter writer;
  return writer.Open(path) && writer.Write(content) && writer.Commit(mode);
}

TempDirectory::TempDirectory(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  parent_ = (base != nullptr && *base != '\0') ? base : "/tmp";
  std::string pattern = parent_ + "/" + std::string(prefix) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) {
    path_ = pattern;
  } else {
    error_ = errno;
  }
}

TempDirectory::~TempDirectory() {
  if (!path_.empty()) RemoveTree(path_);
}

bool RemoveTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
  bool ok = true;
  if (auto names = ListDirectory(path)) {
    for (const std::string& name : *names) {
      if (name == "." || name == "..") continue;
      ok = RemoveTree(path + "/" + name) && ok;
    }
  }
  return ::rmdir(path.c_str()) == 0 && ok;
}

int CountFiles(const std::string& dir) {
  auto names = ListDirectory(dir);
  if (!names) return 0;
  std::string prefix = dir;
  if (prefix.empty() || (prefix.back() != '/' && prefix.back() != '\\')) prefix += '/';
  int count = 0;
  for (const std::string& name : *names) {
    if (GetStatus(prefix + name).isRegular()) ++count;
  }
  return count;
}

}  // namespace lumbra::platform
