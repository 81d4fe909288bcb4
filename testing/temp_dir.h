// A fresh temporary directory per test, with small helpers to make and read real files.
#pragma once

#include <string>
#include <string_view>

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
  // The whole content of a file below root() (or an absolute path); "<missing>" if none.
  std::string ReadFile(std::string_view pathOrRelative) const;

 private:
  platform::TempDirectory dir_{"lumbra-test"};
};

// Sets a file's modification time (seconds since the epoch).
void SetMtime(const std::string& path, long long seconds);

// Path of a file in the shared real-data folder.
std::string RealDataPath(std::string_view relative);

}  // namespace lumbra::testing
