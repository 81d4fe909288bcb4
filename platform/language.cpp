#include "platform/language.h"

#include <cstdlib>
#include <string_view>

namespace lumbra::platform {

bool PrefersEnglish() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string_view locale = value;
    return locale.starts_with("en") &&
           (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@');
  }
  return false;
}

}  // namespace lumbra::platform
