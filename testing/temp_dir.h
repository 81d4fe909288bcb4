// A fresh temporary directory per test, with small helpers to make and read real files.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fs.h"

namespace lumbra::testing {

class TempDirTest : public ::testing::Test {
 protected:
  // Absolute path of this test's directory (no trailing '/').
  const std::string& root() const { return dir_.path(); }
  // root() + "/" + relative.
  std::string Path(std::string_view relative) const;
  // Writes a file below root(), making its directories; returns its absolute path.
  std::string WriteFile(std::string_view relative, std::string_view content) const;
  // Makes a directory (and its parents) below root(); returns its absolute path.
  std::string MakeDir(std::string_view relative) const;
  // Makes a symbolic link `relative` (its directories too) pointing at `target`; returns its
  // absolute path.
  std::string MakeLink(std::string_view target, std::string_view relative) const;
  // Makes a FIFO `relative` (its directories too); returns its absolute path.
  std::string MakeFifo(std::string_view relative) const;
  // The whole content of a file below root() (or an absolute path); "<missing>" if none.
  std::string ReadFile(std::string_view pathOrRelative) const;
  // Every regular file below a directory, by its path relative to it, sorted.
  std::vector<std::string> FilesBelow(std::string_view pathOrRelative) const;
  // Copies a directory of the shared real-data folder (read-only there) to `relative`,
  // writable so that the test's directory can be removed; returns its absolute path.
  std::string CopyRealData(std::string_view realRelative, std::string_view relative) const;

 private:
  platform::TempDirectory dir_{"lumbra-test"};
};

// Points $TMPDIR at `dir` while it lives (where the jobs make their private directories).
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const std::string& dir);
  ~ScopedTmpDir();
  ScopedTmpDir(const ScopedTmpDir&) = delete;
  ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

 private:
  std::string old_;
  bool had_ = false;
};

// Writes `bytes` to `path`, making its missing directories; false when it cannot.
bool WriteBytes(const std::string& path, std::string_view bytes);

// Runs `body` in a child process whose files may grow to `limit` bytes only (a write past it
// fails, as on a full disk); true when the child ran it and it returned true.
bool InChildWithFileSizeLimit(std::size_t limit, const std::function<bool()>& body);

// Sets a file's modification time (seconds since the epoch).
void SetMtime(const std::string& path, long long seconds);

// Path of a file in the shared real-data folder.
std::string RealDataPath(std::string_view relative);

}  // namespace lumbra::testing
