// The language the programs speak to their user. The system's own texts are Japanese and are
// the message ids of a gettext catalog (po/en.po, built into share/locale); a user whose
// locale asks for English reads them in English. The files Lumbra writes (index pages,
// lumbralog.txt, lumbra.ini) never change with it: only what is shown passes through Tr.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace lumbra::platform {

// Whether the user's locale asks for English: the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty starts with "en" (en, en_US.UTF-8, en_GB, ...). The C locale and
// every other language keep the Japanese texts.
bool PrefersEnglish();

// Chooses the language of Tr once, at the start of a program: English when PrefersEnglish
// and the catalog is found (beside the installed program in ../share/locale, else in the
// build tree), Japanese otherwise. Also when the user's English locale is not installed on
// the machine. Until it is called, Tr gives the Japanese texts (so the tests see those).
void UseUserLanguage();

// Whether UseUserLanguage chose English.
bool UsesEnglish();

// Marks a text for the catalog where it is defined (a table, a constant) when it is shown
// elsewhere, through Tr; it changes nothing.
constexpr const char* TrLater(const char* japanese) { return japanese; }

// The text to show: `japanese` itself, or its English text when English was chosen and the
// catalog has one.
std::string Tr(std::string_view japanese);

// `text` with %1 ... %9 replaced by the values, in the order the text wants them (a
// translation may put them elsewhere); "%%" is a '%'.
std::string Fill(std::string_view text, std::initializer_list<std::string_view> values);

// A text that is both written (into lumbralog.txt: the system's own words) and shown (in the
// user's language), with its values filled in.
struct Said {
  std::string written;
  std::string shown;
};
Said Say(std::string_view japanese, std::initializer_list<std::string_view> values = {});

}  // namespace lumbra::platform
