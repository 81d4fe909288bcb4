#include "app/settings.h"

#include "core/ascii.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

// One key of the file: where its value lives in JobSettings.
struct Key {
  std::string_view name;
  std::string JobSettings::*path = nullptr;
  int logIndex = -1;  // LOG_DIR_A..E live in an array
  bool JobSettings::*flag = nullptr;
  bool linkStyle = false;  // LINK_STYLE: a text value that must name a link style
};

const std::array<Key, 17>& Keys() {
  static const std::array<Key, 17> keys = {{
      {"CACHE_DIR", &JobSettings::cacheDir, -1, nullptr},
      {"LOG_DIR_A", nullptr, 0, nullptr},
      {"LOG_DIR_B", nullptr, 1, nullptr},
      {"LOG_DIR_C", nullptr, 2, nullptr},
      {"LOG_DIR_D", nullptr, 3, nullptr},
      {"LOG_DIR_E", nullptr, 4, nullptr},
      {"INDEX_DIR", &JobSettings::indexDir, -1, nullptr},
      {"READ_ALL", nullptr, -1, &JobSettings::readAll},
      {"READ_NEW", nullptr, -1, &JobSettings::readNew},
      {"READ_REF", nullptr, -1, &JobSettings::readRef},
      {"READ_HTM", nullptr, -1, &JobSettings::readHtm},
      {"READ_AEL", nullptr, -1, &JobSettings::readAel},
      {"READ_CNT", nullptr, -1, &JobSettings::readCnt},
      {"READ_BAK", nullptr, -1, &JobSettings::readBak},
      {"READ_DOM", nullptr, -1, &JobSettings::readDom},
      {"SURF_DIRS", &JobSettings::surfDirs, -1, nullptr},
      {"LINK_STYLE", &JobSettings::linkStyle, -1, nullptr, true},
  }};
  return keys;
}

// The path field of a path key, for a const or a mutable JobSettings.
template <typename Settings>
auto* PathOf(Settings& settings, const Key& key) {
  if (key.path != nullptr) return &(settings.*key.path);
  return &settings.logDir[static_cast<std::size_t>(key.logIndex)];
}

const Key* FindKey(std::string_view name) {
  for (const Key& key : Keys()) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

// Acts on the first key text found anywhere in the line, in the order of the file's keys,
// each switch tested as KEY=TRUE before KEY=FALSE. Text in front of a key text is ignored;
// a path value runs to the end of the line, untrimmed.
void ApplyLine(std::string_view line, JobSettings& settings) {
  for (const Key& key : Keys()) {
    if (key.flag == nullptr) {
      std::string text = std::string(key.name) + "=";
      std::size_t at = line.find(text);
      if (at != std::string_view::npos) {
        *PathOf(settings, key) = std::string(line.substr(at + text.size()));
        return;
      }
      continue;
    }
    if (line.find(std::string(key.name) + "=TRUE") != std::string_view::npos) {
      settings.*key.flag = true;
      return;
    }
    if (line.find(std::string(key.name) + "=FALSE") != std::string_view::npos) {
      settings.*key.flag = false;
      return;
    }
  }
}

}  // namespace

const std::array<std::string_view, 17>& SettingKeys() {
  static const std::array<std::string_view, 17> names = [] {
    std::array<std::string_view, 17> n;
    for (std::size_t i = 0; i < n.size(); ++i) n[i] = Keys()[i].name;
    return n;
  }();
  return names;
}

void LoadSettings(const std::string& dir, JobSettings& settings) {
  settings = JobSettings{};
  platform::TextReader reader;
  std::string path = dir + "/" + std::string(kSettingsFileName);
  if (platform::GetStatus(path).isDirectory() || !reader.Open(path)) return;
  std::string line;
  for (int i = 0; i < kSettingsMaxLines && reader.ReadChunk(kSettingsLineBuffer, line); ++i) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    ApplyLine(line, settings);
  }
  settings.unreferencedDir = settings.logDir[4];
}

std::string FormatSettings(const JobSettings& settings) {
  std::string text;
  for (const Key& key : Keys()) {
    text += key.name;
    text += '=';
    text += GetSetting(settings, key.name);
    text += '\n';
  }
  return text;
}

bool SaveSettings(const std::string& dir, const JobSettings& settings, Frontend& frontend) {
  // Written beside the old file and renamed over it, so a failed write leaves it whole.
  std::string path = dir + "/" + std::string(kSettingsFileName);
  std::string text = FormatSettings(settings);
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  mode_t mode = platform::NormalFileMode();
  if (platform::FileStatus old = platform::GetStatus(path); old.isRegular()) mode = old.mode;
  if (platform::IsReadOnly(path) || !platform::ReplaceFileContent(path, crlf, mode)) {
    frontend.ShowMessage(platform::Tr("LUMBRA.INI への書き込みに失敗しました"));
    return false;
  }
  return true;
}

std::optional<LinkStyle> ParseLinkStyle(std::string_view value) {
  if (value.empty() || EqualsNoCase(value, "absolute")) return LinkStyle::Absolute;
  if (EqualsNoCase(value, "relative")) return LinkStyle::Relative;
  return std::nullopt;
}

bool SetSetting(JobSettings& settings, std::string_view name, std::string_view value) {
  const Key* key = FindKey(name);
  if (key == nullptr) return false;
  if (key->linkStyle) {
    const std::optional<LinkStyle> style = ParseLinkStyle(value);
    if (!style) return false;
    *PathOf(settings, *key) = *style == LinkStyle::Relative ? "relative" : "absolute";
    return true;
  }
  if (key->flag == nullptr) {
    *PathOf(settings, *key) = std::string(value);
    return true;
  }
  if (value == "TRUE" || value == "FALSE") {
    settings.*key->flag = value == "TRUE";
    return true;
  }
  return false;
}

std::string GetSetting(const JobSettings& settings, std::string_view name) {
  const Key* key = FindKey(name);
  if (key == nullptr) return {};
  if (key->flag != nullptr) return settings.*key->flag ? "TRUE" : "FALSE";
  return *PathOf(settings, *key);
}

}  // namespace lumbra
