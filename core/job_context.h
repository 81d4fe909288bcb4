// The job snapshot and the job counters: what every working subsystem reads and counts while
// one job runs. One JobContext and one JobCounters live in the session object that main()
// owns; operations receive them by reference, so tests build their own.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

// The five kinds of job, numbered as the requests carry them.
enum class JobKind : int {
  AddToLogs = 1,
  RebuildAllLogs = 2,
  ListUnreferenced = 3,
  RebuildOneLog = 4,
  RebuildSurf = 5,
};

inline constexpr int kLogTreeCount = 5;  // LogTrees A..E

// Paths of the snapshot hold at most this many characters (fields of 200 bytes); the start
// checks refuse longer ones instead of cutting them.
inline constexpr std::size_t kJobPathMax = 199;

// The switches, with their defaults. The settings hold them between jobs; the snapshot of a
// job takes a copy, so a switch changed during a job does not reach it.
struct JobSwitches {
  bool readAll = false;          // READ_ALL: store every entry whose cached file exists
  bool readNew = true;           // READ_NEW: store only new or changed entries
  bool readRef = true;           // READ_REF: links to pages not stored stay working web links
  bool readHtm = false;          // READ_HTM: pages are copied again where ALL/NEW would skip them
  bool readAel = true;           // READ_AEL: links may resolve into another LogTree
  bool readCnt = true;           // READ_CNT: counter images that cannot be served are disabled
  bool execLog = false;          // the execution log lumbralog.txt (never saved)
  bool unrefRef = false;         // never saved; no effect
  bool unreferencedJob = false;  // on while the unreferenced-links job runs (never saved)
  bool readBak = false;          // READ_BAK: keep numbered old copies
  bool readDom = false;          // READ_DOM: rewrite every page below the hosts that received files
};

// How Lumbra writes a link to a local copy or to a page of its own (LINK_STYLE): as a file://
// URL of the absolute path, or relative to the page that holds it, so that a collection moved
// or copied as a whole (LogTrees and index directory together) or served by a web server keeps
// working. Links to the web are absolute either way.
enum class LinkStyle { Absolute, Relative };

// The snapshot taken by the start checks: normalised paths ('/' separators, no trailing '/',
// LogTree roots ending in "log") and the switches, fixed for the whole job.
struct JobContext : JobSwitches {
  // Absolute directory where the bare-named files live (lumbra.ini, lumbralog.txt, fat.txt,
  // serch.tmp, lumbra-url.ini, ...): the directory current when the program started.
  std::string startDir;

  std::string cacheDir;
  std::string cacheIndexFile;
  std::array<std::string, kLogTreeCount> logDir;  // empty: that LogTree is not used
  // LOG_DIR_A..E as the user typed them: the logs' display names come from these, so a
  // setting "…/ALOG" shows ALOG and one ending in a separator shows no name.
  std::array<std::string, kLogTreeCount> logSetting;
  std::string indexDir;
  std::string unreferencedDir;
  // SURF_DIRS split at ';', each made absolute as the other paths are; empty parts dropped.
  std::vector<std::string> surfDirs;

  // Whether surf data (lumbra.mdb or lumbrasurf.txt) existed in the start directory at
  // program start; decides the Surf link of the top bar.
  bool surfAvailable = false;

  LinkStyle linkStyle = LinkStyle::Absolute;

  // startDir + "/" + name: where a bare-named file of the system lives.
  std::string StartFile(std::string_view name) const;

  // The link to the local file or directory `target` (absolute; a directory ends in '/') as
  // a page in the directory `fromDir` holds it, in the job's LINK_STYLE; always the file://
  // URL when `fromDir` is empty (where a page's base would take a relative link elsewhere).
  std::string LocalLink(std::string_view fromDir, std::string_view target) const;
};

// The five job counters, reset by the start checks and shown by the end report, and the
// count of failures that the front end reports beside it.
struct JobCounters {
  int entryCount = 0;
  int scannedEntries = 0;
  int loggedFiles = 0;
  int convertedPages = 0;
  int scannedFiles = 0;
  // Files the job could not copy, rewrite or write, and cached files it refused to read.
  int failedFiles = 0;
};

}  // namespace lumbra
