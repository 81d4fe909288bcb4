// What one job has learnt of the entries it looked at, so that a path is asked of the disk
// once per job and not once for every link that names it. Each entry is kept as lstat shows
// it (the last component not followed). The table stays true because the job tells it what
// it creates, renames or deletes, and nothing else writes into the logs while a job runs.
// One table per job. The threads that rewrite a walk's pages ask it too: each call is done
// under the table's lock. The job tells it of no change while they are under way (a walk's
// pages are settled before the job goes on), so the answers a page gets hold for all of it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/fs.h"

namespace lumbra::platform {

class PathTable {
 public:
  enum class Kind : unsigned char { Missing, File, Directory, Link, Other };

  PathTable() = default;
  PathTable(const PathTable&) = delete;
  PathTable& operator=(const PathTable&) = delete;

  // The entry at `path`: from the table, else from lstat (then remembered). A name in a
  // directory that is missing or no directory is missing, and so is a name the table does not
  // hold in a directory whose every entry it knows; neither is asked of the disk. A temporary
  // file of a replacement is never remembered: it comes and goes within one write.
  Kind KindOf(std::string_view path);
  // The type of the entry StatPath finds for `path` (links followed): what the table knows
  // of its StatName, a link asked every time; Missing when there is none.
  EntryType TypeOf(std::string_view path);
  // What the job made or saw.
  void Remember(const std::string& path, Kind kind);
  // A directory the job has just made: empty, so every entry it will hold is one the job
  // makes and remembers.
  void RememberNewDirectory(const std::string& path);
  // An entry that changed in a way the job cannot tell: asked again next time.
  void Forget(const std::string& path);

  // The names in `dir` as platform::ListDirectory gives them, each entry's kind remembered
  // when the listing tells it; nullopt when it cannot be listed.
  std::optional<std::vector<std::string>> List(const std::string& dir);

  // The entries it holds.
  std::size_t size() const;
  // How often the job told the table of a change (Remember, Forget): what was worked out from
  // the table's answers holds while this stays the same. What the table learns by asking the
  // disk or listing a directory changes no answer.
  std::uint64_t changes() const { return changes_.load(std::memory_order_relaxed); }

 private:
  // Looked up by string_view too, so that no look-up copies a path.
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view path) const {
      return std::hash<std::string_view>{}(path);
    }
  };
  using Names = std::unordered_map<std::string, Kind, Hash, std::equal_to<>>;

  // What the table holds of one directory's entries, by name.
  struct Directory {
    Names kinds;
    // Every entry is in `kinds` (listed, or made by the job).
    bool whole = false;
  };
  // Keyed by the path up to and including its last '/' ("" for a bare name), so that each
  // path is its directory's key and a name, and no path is stored whole twice.
  using Directories = std::unordered_map<std::string, Directory, Hash, std::equal_to<>>;

  // The public calls' work, with the lock held.
  Kind KindOfLocked(std::string_view path);
  void RememberLocked(const std::string& path, Kind kind);

  // The directory under `key`, or null when the table holds none.
  Directory* FindDirectory(std::string_view key);
  // The directory under `key`, made empty when the table holds none.
  Directory& DirectoryAt(std::string_view key);
  void KeepRecent(Directories::value_type& entry);
  // The job made or removed something under a spelling other than the plain one, so what
  // the table holds as missing, or as all of a directory, may be untrue under another.
  void Unsettle();
  // Keeps what the disk or a listing showed.
  void Note(const std::string& path, Kind kind);
  void Note(Directory& dir, std::string_view name, Kind kind);

  // The directories looked up last: a page's links ask again and again in the same few (its
  // own, its images', each above it). They point into this table's own directories.
  struct RecentDirectories {
    static constexpr std::size_t kCount = 8;
    std::array<Directories::value_type*, kCount> entries{};
    std::size_t next = 0;  // the one to give up for the next directory
  };

  mutable std::mutex mutex_;
  Directories directories_;
  RecentDirectories recent_;
  // Read without the lock: every link of a page asks it.
  std::atomic<std::uint64_t> changes_ = 0;
};

}  // namespace lumbra::platform
