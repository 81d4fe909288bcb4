// The file-system layer: everything the system asks of the operating system about paths.
// Paths are byte strings (POSIX, '/' separators); nothing here interprets or converts them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace lumbra::platform {

enum class EntryType { Missing, Regular, Directory, Other };

struct FileStatus {
  EntryType type = EntryType::Missing;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;  // seconds since the epoch
  mode_t mode = 0;

  bool exists() const { return type != EntryType::Missing; }
  bool isDirectory() const { return type == EntryType::Directory; }
  bool isRegular() const { return type == EntryType::Regular; }
};

// Status of the entry a path names, following symbolic links (stat).
FileStatus GetStatus(const std::string& path);
// Status of the entry itself, not following a final symbolic link (lstat).
FileStatus GetLinkStatus(const std::string& path);

// Whether the path itself is a symbolic link.
bool IsSymbolicLink(const std::string& path);

// Every entry of a directory as a "*.*" search yields it: "." and ".." included, in the
// order readdir gives. nullopt when the directory cannot be listed.
std::optional<std::vector<std::string>> ListDirectory(const std::string& dir);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& dir);
bool MakeDirectory(const std::string& dir);  // one level; true when made
bool RenameFile(const std::string& from, const std::string& to);
bool DeleteFile(const std::string& path);

// "Read-only" is a file without the owner's write bit. Tested on the bit itself, never
// with access(W_OK): root may write anything, and a read-only copy must stay protected.
bool IsReadOnly(const std::string& path);
// The mode a new file gets under the umask (0666 & ~umask): the "normal" attribute.
mode_t NormalFileMode();
bool SetFileMode(const std::string& path, mode_t mode);
bool SetNormal(const std::string& path);

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);

// Replaces a file safely, streaming: the new content goes into a temporary file in the
// target's own directory, and Commit renames it over the target only when every byte was
// written. A writer destroyed without Commit removes its temporary file and leaves the
// target as it was.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Creates the temporary file beside `target`; false when it cannot be made.
  bool Open(const std::string& target);
  bool isOpen() const { return fd_ >= 0; }
  // False (and the writer failed) when not every byte could be written.
  bool Write(std::string_view bytes);
  // Gives the temporary file `mode`, closes it and renames it over the target.
  bool Commit(mode_t mode);
  void Abort();

 private:
  int fd_ = -1;
  bool failed_ = false;
  std::string target_;
  std::string temp_;
};

// Writes `content` to `path` safely: into a temporary file in the same directory, which is
// flushed, given `mode` and renamed over `path` only when all of it was written. On failure
// the old file stays as it was and false is returned.
bool ReplaceFileContent(const std::string& path, std::string_view content, mode_t mode);

// A private directory made for one job under $TMPDIR (or /tmp), removed with all its files
// when the object goes out of scope. Empty path() when it could not be made.
class TempDirectory {
 public:
  explicit TempDirectory(std::string_view prefix = "lumbra");
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Removes a directory tree without following symbolic links; true when all of it is gone.
bool RemoveTree(const std::string& path);

}  // namespace lumbra::platform
