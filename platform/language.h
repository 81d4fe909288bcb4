// The language the programs speak to their user. The system's own texts are Japanese; a user
// whose locale asks for English gets them in English. The files Lumbra writes never change
// with it.
#pragma once

namespace lumbra::platform {

// Whether the user's locale asks for English: the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty starts with "en" (en, en_US.UTF-8, en_GB, ...). The C locale and
// every other language keep the Japanese texts.
bool PrefersEnglish();

}  // namespace lumbra::platform
