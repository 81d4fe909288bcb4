#include "platform/fs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
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

bool IsReadOnly(const std::string& path) {
  FileStatus status = GetStatus(path);
  return status.exists() && (status.mode & S_IWUSR) == 0;
}

mode_t NormalFileMode() {
  // umask can only be read by setting it; put it back at once.
  mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

bool SetFileMode(const std::string& path, mode_t mode) {
  return ::chmod(path.c_str(), mode & 07777) == 0;
}

bool SetNormal(const std::string& path) { return SetFileMode(path, NormalFileMode()); }

std::optional<std::string> ReadFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  std::string content;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) return std::nullopt;
  return content;
}

AtomicFileWriter::~AtomicFileWriter() { Abort(); }

bool AtomicFileWriter::Open(const std::string& target) {
  Abort();
  target_ = target;
  std::string pattern = DirectoryOf(target) + "/.lumbra-tmp-XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return false;
  fd_ = fd;
  temp_ = pattern;
  failed_ = false;
  return true;
}

bool AtomicFileWriter::Write(std::string_view bytes) {
  if (fd_ < 0 || failed_) return false;
  if (!WriteAll(fd_, bytes)) failed_ = true;
  return !failed_;
}

bool AtomicFileWriter::Commit(mode_t mode) {
  if (fd_ < 0) return false;
  bool ok = !failed_ && ::fchmod(fd_, mode & 07777) == 0;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  if (ok && ::rename(temp_.c_str(), target_.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp_.c_str());
  temp_.clear();
  return ok;
}

void AtomicFileWriter::Abort() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

bool ReplaceFileContent(const std::string& path, std::string_view content, mode_t mode) {
  AtomicFileWriter writer;
  return writer.Open(path) && writer.Write(content) && writer.Commit(mode);
}

TempDirectory::TempDirectory(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  pattern += "/";
  pattern += prefix;
  pattern += "-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
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

}  // namespace lumbra::platform
