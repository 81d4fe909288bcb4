// The pages of an add that wait for the second pass, where each is copied from the cache and
// rewritten in one write rather than copied now and replaced then: a page is written once,
// and no file is made only to be deleted. Meanwhile the job's table holds each as a file, so
// the later entries and the links of every page see it as they would see its copy.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "logstore/log_copy.h"
#include "platform/fs.h"

namespace lumbra {

class WaitingPages {
 public:
  struct Page {
    LogState state;            // of the log copy when the entry was met
    platform::FileStatus old;  // the log copy then, whose mode the new page keeps
  };

  // The page of `entry` waits at `path` (its place in the logs, which MapEntryToLogPath gives
  // again whenever it is asked, so it is not kept twice).
  void Add(int entry, const std::string& path, Page page) {
    byPath_[path] = entry;
    byEntry_.emplace(entry, page);
  }
  // The entry waiting for `path`, or -1.
  int EntryAt(const std::string& path) const {
    auto it = byPath_.find(path);
    return it == byPath_.end() ? -1 : it->second;
  }
  // Takes the page of `entry` (waiting at `path`) from the waiting ones; nullopt when it was
  // not waiting.
  std::optional<Page> Take(int entry, const std::string& path) {
    auto it = byEntry_.find(entry);
    if (it == byEntry_.end()) return std::nullopt;
    Page page = it->second;
    byEntry_.erase(it);
    byPath_.erase(path);
    return page;
  }
  // The entries still waiting, in cache order.
  std::vector<int> Entries() const {
    std::vector<int> entries;
    for (const auto& [entry, page] : byEntry_) entries.push_back(entry);
    std::sort(entries.begin(), entries.end());
    return entries;
  }

 private:
  std::unordered_map<std::string, int> byPath_;
  std::unordered_map<int, Page> byEntry_;
};

}  // namespace lumbra
