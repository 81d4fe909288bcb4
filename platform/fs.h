// The file-system layer: everything the system asks of the operating system about paths.
// Paths are byte strings (POSIX, '/' separators); nothing here interprets or converts them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace lumbra::platform {

class PathTable;

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

// Every entry of a directory as a "*.*" search yields it: "." and ".." included, in the
// order readdir gives. nullopt when the directory cannot be listed (errno says why).
std::optional<std::vector<std::string>> ListDirectory(const std::string& dir);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& dir);
bool MakeDirectory(const std::string& dir);  // one level; true when made
bool RenameFile(const std::string& from, const std::string& to);
bool DeleteFile(const std::string& path);

// "Read-only" is a file without the owner's write bit. Tested on the bit itself, never
// with access(W_OK): root may write anything, and a read-only copy must stay protected.
bool IsReadOnly(const std::string& path);
bool IsReadOnly(const FileStatus& status);
// The mode a new file gets under the umask (0666 & ~umask): the "normal" attribute.
mode_t NormalFileMode();
bool SetFileMode(const std::string& path, mode_t mode);

// Whether an open for reading follows a final symbolic link.
enum class FollowLinks { Yes, No };

// Why a file could not be opened for reading.
enum class OpenError {
  None,
  Missing,       // no such entry (also a dangling link that is followed)
  OutsideRoot,   // a name below a root that would leave it: absolute, "." or "..", a NUL
  SymbolicLink,  // a link where none may be
  NotRegular,    // a FIFO, device, socket or directory
  Unreadable,    // the entry exists but cannot be read (permissions, I/O)
};

// Whether a name given below a root stays there: relative, no "." or ".." segment between
// its '/', no NUL (which would end the name early at the system call).
bool NameStaysBelow(std::string_view relative);

// A regular file open for reading. Opening never blocks and never takes anything but a
// regular file: the entry is tested with lstat (or stat) first, opened non-blocking (so a
// FIFO put in its place cannot hang the open), and tested again with fstat, so a FIFO, device,
// socket or directory is refused and nothing else is read in its place.
class ReadableFile {
 public:
  ReadableFile() = default;
  ~ReadableFile() { Close(); }
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  OpenError Open(const std::string& path, FollowLinks follow);
  // Opens a file that this job has just seen as a regular file (in a listing, or with lstat),
  // without testing it again first: the open still takes no link and never blocks, and fstat
  // still refuses anything but a regular file.
  OpenError OpenSeenRegular(const std::string& path);

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The status of the open file (fstat).
  const FileStatus& status() const { return status_; }
  // Reads up to `size` bytes; 0 at the end, -1 on an error.
  long Read(char* buffer, std::size_t size);
  // Reads the rest of the file into `out`; false on a read error.
  bool ReadAll(std::string& out);
  // Reads up to `size` bytes from `offset` on, whatever has been read before; 0 at the end,
  // -1 on an error.
  long ReadAt(char* buffer, std::size_t size, std::uint64_t offset);
  // Reads exactly `length` bytes from `offset` on into `out`: false when the file as it was
  // opened (status().size) does not hold them, or it was cut or failed while it was read. A
  // file that grows meanwhile is read as it was opened.
  bool ReadExactlyAt(std::uint64_t offset, std::uint64_t length, std::string& out);
  // Hands the file over as a stdio stream for reading; this object is closed afterwards.
  std::FILE* ReleaseAsStream();
  // Hands the descriptor over (-1 when none); this object is closed afterwards.
  int Release();
  void Close();

 private:
  OpenError Finish(int fd);
  friend class FilesBelow;
  // The regular file `name` of the open directory `dir`, never through a link.
  OpenError OpenAt(int dir, const std::string& name);

  int fd_ = -1;
  FileStatus status_;
};

// The files below one root directory, each opened through real directories only: the root
// itself may be a link, but no component below it may be, and a name must stay below it
// (relative, no "." or ".." segment, no NUL). The directories reached last stay open (up to
// kKeptDirectories), so the files of a directory are opened without walking to it again: a
// cache keeps its files in a few directories, and the entries of its index take them in turn.
class FilesBelow {
 public:
  explicit FilesBelow(std::string root) : root_(std::move(root)) {}
  ~FilesBelow();
  FilesBelow(const FilesBelow&) = delete;
  FilesBelow& operator=(const FilesBelow&) = delete;

  const std::string& root() const { return root_; }
  OpenError Open(std::string_view relative, ReadableFile& file);
  static constexpr std::size_t kKeptDirectories = 16;

 private:
  struct OpenDirectory {
    std::string part;  // the directory part of the names opened in it
    int fd;
  };

  std::string root_;
  std::vector<OpenDirectory> kept_;  // the one reached first, first
};

// The number of regular files directly in `dir` (links followed); 0 when it cannot be listed.
int CountFiles(const std::string& dir);

// Reads a whole regular file (links followed); nullopt when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);

// Whether a path below `root` reaches anything through a symbolic link: true when a
// component of `path` after `root` (the final one included) is a link. `path` must begin
// with root + "/"; components that do not exist end the test. `root` itself may be a link.
// With the job's `table`, components it knows are not asked again.
bool CrossesSymbolicLink(std::string_view root, std::string_view path, PathTable* table = nullptr);

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

  // Creates the temporary file beside `target`; false when it cannot be made. A file kept by
  // Discard beside a file of the same directory is taken instead of making another.
  bool Open(const std::string& target);
  // As Open, but the temporary file is made only once it is needed: when the bytes outgrow
  // the buffer, else by Complete (on whichever thread does it). A writer that is given no
  // bytes, as for a page that comes out unchanged, makes none at all.
  void OpenLater(const std::string& target);
  bool isOpen() const { return fd_ >= 0 || later_; }
  // False (and the writer failed) when not every byte could be written. Small writes are
  // gathered into kBufferSize bytes, so that a file of many small pieces reaches the disk
  // in few system calls; Commit writes what is left.
  bool Write(std::string_view bytes);
  static constexpr std::size_t kBufferSize = 32 * 1024;
  // Gives the temporary file `mode`, closes it and renames it over the target.
  bool Commit(mode_t mode);
  void Abort();
  // Drops what was written. When none of it had reached the temporary file, the empty file
  // is kept open for the next Open in the same directory, so that a run of pages that come
  // out unchanged costs one temporary file, not one each; otherwise it goes as in Abort.
  // The owner must Abort before anything lists the directory, which would take the kept
  // file for a leftover.
  void Discard();
  // The errno of the first failure (0 when none).
  int error() const { return error_; }
  // Whether that failure was that the temporary file could not be made.
  bool tempFailed() const { return tempFailed_; }

  // What is left of Commit once the new bytes are all given, taken out of the writer (which
  // is empty afterwards) so that Complete may do it elsewhere, on a thread of its own.
  struct Handover {
    int fd = -1;            // the temporary file, when it was made
    bool makeTemp = false;  // none was made yet: Complete makes it
    int closeAfter = -1;    // closed once the target is replaced, or failed: its old content's
    bool failed = false;
    bool tempFailed = false;  // the temporary file could not be made
    int error = 0;            // the errno of the first failure
    mode_t mode = 0;
    std::string temp;
    std::string target;
    std::string buffer;  // the bytes not yet written to the temporary file
  };
  Handover Release(mode_t mode);
  // Commit's work on what Release gave: true when the target was replaced; otherwise the
  // temporary file is gone and `handover.error` (and tempFailed) say why.
  static bool Complete(Handover& handover);

 private:
  bool Flush();
  // Makes the temporary file beside target_; false, the writer failed, when it cannot.
  bool MakeTemp();

  int fd_ = -1;
  bool failed_ = false;
  bool reachedFile_ = false;  // bytes were written to the temporary file itself
  bool kept_ = false;         // an empty temporary file kept by Discard
  bool later_ = false;        // opened by OpenLater: the temporary file is made when needed
  bool tempFailed_ = false;
  int error_ = 0;
  std::string target_;
  std::string temp_;
  std::string buffer_;
};

// Whether a directory entry is a temporary file that a replacement left behind when the
// process was killed mid-write (".lumbra-tmp-" and six letters or digits). Such a file is
// never a page.
bool IsReplacementLeftover(std::string_view name);

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
  // Where it is made: $TMPDIR, or /tmp when that is not set.
  const std::string& parent() const { return parent_; }
  // The errno of mkdtemp when it could not be made (0 otherwise).
  int error() const { return error_; }

 private:
  std::string parent_;
  std::string path_;
  int error_ = 0;
};

// Removes a directory tree without following symbolic links; true when all of it is gone.
bool RemoveTree(const std::string& path);

}  // namespace lumbra::platform
