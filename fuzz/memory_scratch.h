// The targets that must hand an input over as a file make one or more files per input. On a
// disk file system creating and deleting them costs more than the rest of the input (ext4
// searches its recently deleted inodes on every create), so their scratch directory goes to
// the memory file system when the machine has one and TMPDIR names no other place.
#pragma once

#include <cstdlib>

#include <unistd.h>

namespace lumbra::fuzz {

inline void KeepScratchInMemory() {
  const char* chosen = std::getenv("TMPDIR");
  if ((chosen == nullptr || *chosen == '\0') && ::access("/dev/shm", W_OK | X_OK) == 0) {
    ::setenv("TMPDIR", "/dev/shm", 1);
  }
}

}  // namespace lumbra::fuzz
