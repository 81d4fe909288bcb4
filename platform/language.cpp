#include "platform/language.h"

#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace lumbra::platform {
namespace {

constexpr const char* kDomain = "lumbra";
bool english = false;

bool IsFile(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// The directory that holds en/LC_MESSAGES/lumbra.mo: the installed one beside the program
// first, then the build tree's; empty when there is none.
std::string CatalogDir() {
  std::vector<std::string> candidates;
  std::vector<char> exe(4096);
  ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
  if (n > 0) {
    std::string dir(exe.data(), static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'));
    candidates.push_back(dir + "/../share/locale");
  }
#ifdef LUMBRA_BUILD_LOCALE_DIR
  candidates.push_back(LUMBRA_BUILD_LOCALE_DIR);
#endif
  for (const std::string& dir : candidates) {
    if (IsFile(dir + "/en/LC_MESSAGES/" + kDomain + ".mo")) return dir;
  }
  return {};
}

}  // namespace

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

void UseUserLanguage() {
  english = false;
  if (!PrefersEnglish()) return;
  std::string dir = CatalogDir();
  if (dir.empty()) return;
  // gettext picks the catalog by the LC_MESSAGES locale. When the user's English locale is
  // not installed here, the C.UTF-8 locale with LANGUAGE=en still leads it to the English
  // catalog (the plain C locale would make gettext ignore LANGUAGE).
  const char* locale = std::setlocale(LC_MESSAGES, "");
  if (locale == nullptr || std::string_view(locale) == "C" || std::string_view(locale) == "POSIX") {
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) return;
    setenv("LANGUAGE", "en", 1);
  }
  if (bindtextdomain(kDomain, dir.c_str()) == nullptr) return;
  bind_textdomain_codeset(kDomain, "UTF-8");
  english = true;
}

bool UsesEnglish() { return english; }

std::string Tr(std::string_view japanese) {
  std::string id(japanese);
  if (!english || id.empty()) return id;  // "" is the catalog's header, never a text
  return dgettext(kDomain, id.c_str());
}

std::string Fill(std::string_view text, std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(text.size() + 64);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (next >= '1' && next <= '9' && static_cast<std::size_t>(next - '1') < values.size()) {
        out += values.begin()[next - '1'];
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

Said Say(std::string_view japanese, std::initializer_list<std::string_view> values) {
  return {Fill(japanese, values), Fill(Tr(japanese), values)};
}

}  // namespace lumbra::platform
