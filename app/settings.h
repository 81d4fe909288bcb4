// The settings and their file lumbra.ini in the start directory: the seven paths, the
// eight saved switches and the surf job's directories, one KEY=VALUE line each, CR LF line ends,
// values byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

inline constexpr std::string_view kSettingsFileName = "lumbra.ini";
inline constexpr int kSettingsMaxLines = 17;             // lines after these are ignored
inline constexpr std::size_t kSettingsLineBuffer = 250;  // at most 249 characters per read

// The paths as typed and the switches, owned by the window (or lumbra-cli) between jobs.
struct JobSettings : JobSwitches {
  std::string cacheDir;
  std::array<std::string, kLogTreeCount> logDir;  // LOG_DIR_A..LOG_DIR_E
  std::string indexDir;
  std::string unreferencedDir;  // not saved
  // SURF_DIRS: directories, separated by ';', below which a surf site's log directory is
  // trusted besides the start directory and the LogTrees.
  std::string surfDirs;
};

// Sets the defaults, then reads `dir`/lumbra.ini. A missing or unreadable file keeps the
// defaults silently. unreferencedDir starts as the value of LOG_DIR_E.
void LoadSettings(const std::string& dir, JobSettings& settings);

// Writes `dir`/lumbra.ini with the 16 lines in their order. On failure shows
// "LUMBRA.INI への書き込みに失敗しました", leaves the old file as it was and returns false.
bool SaveSettings(const std::string& dir, const JobSettings& settings, Frontend& frontend);

// The 16 lines of the file (each ending in "\n"), as SaveSettings writes them.
std::string FormatSettings(const JobSettings& settings);

// The keys of the file in their order, and access to one value by key: a path as typed, a
// switch as "TRUE" or "FALSE". SetSetting returns false for an unknown key or a switch value
// other than TRUE or FALSE.
const std::array<std::string_view, 16>& SettingKeys();
bool SetSetting(JobSettings& settings, std::string_view key, std::string_view value);
std::string GetSetting(const JobSettings& settings, std::string_view key);

}  // namespace lumbra
