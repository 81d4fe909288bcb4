// What one job has learnt of the entries it looked at, so that a path is asked of the disk
// once per job and not once for every link that names it. Each entry is kept as lstat shows
// it (the last component not followed). The table stays true because the job tells it what
// it creates, renames or deletes, and nothing else writes into the logs while a job runs.
// One table per job; not shared between threads.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace lumbra::platform {

class PathTable {
 public:
  enum class Kind : unsigned char { Missing, File, Directory, Link, Other };

  // The entry at `path`: from the table, else from lstat (then remembered). A temporary file
  // of a replacement is never remembered: it comes and goes within one write.
  Kind KindOf(const std::string& path);
  // What the job made or saw.
  void Remember(const std::string& path, Kind kind);
  // An entry that changed in a way the job cannot tell: asked again next time.
  void Forget(const std::string& path) { kinds_.erase(path); }

  // The names in `dir` as platform::ListDirectory gives them, each entry's kind remembered
  // when the listing tells it; nullopt when it cannot be listed.
  std::optional<std::vector<std::string>> List(const std::string& dir);

  std::size_t size() const { return kinds_.size(); }

 private:
  std::unordered_map<std::string, Kind> kinds_;
};

}  // namespace lumbra::platform
