// The settings and their file lumbra.ini in the start directory: the seven paths, the
// eight saved switches, the surf job's directories and the form of the links (LINK_STYLE), one
// KEY=VALUE line each, CR LF line ends, values byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
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
  // LINK_STYLE as the file has it: "absolute" or "relative" (see ParseLinkStyle); any other
  // text is kept, so that saving loses nothing, and refused by the start checks.
  std::string linkStyle = "absolute";
};

// The link style a LINK_STYLE value names: "absolute" (or nothing, the form of old files
// without the line) or "relative", in any letter case; nullopt for any other value.
std::optional<LinkStyle> ParseLinkStyle(std::string_view value);

// Sets the defaults, then reads `dir`/lumbra.ini. A missing or unreadable file keeps the
// defaults silently. unreferencedDir starts as the value of LOG_DIR_E.
void LoadSettings(const std::string& dir, JobSettings& settings);

// Writes `dir`/lumbra.ini with the 17 lines in their order. On failure shows
// "LUMBRA.INI への書き込みに失敗しました", leaves the old file as it was and returns false.
bool SaveSettings(const std::string& dir, const JobSettings& settings, Frontend& frontend);

// The 17 lines of the file (each ending in "\n"), as SaveSettings writes them.
std::string FormatSettings(const JobSettings& settings);

// The keys of the file in their order, and access to one value by key: a path as typed, a
// switch as "TRUE" or "FALSE", LINK_STYLE as "absolute" or "relative". SetSetting returns
// false for an unknown key, a switch value other than TRUE or FALSE, or a LINK_STYLE that
// ParseLinkStyle refuses (a value it takes is stored as the style's own word).
const std::array<std::string_view, 17>& SettingKeys();
bool SetSetting(JobSettings& settings, std::string_view key, std::string_view value);
std::string GetSetting(const JobSettings& settings, std::string_view key);

}  // namespace lumbra
