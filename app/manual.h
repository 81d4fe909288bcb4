// Where the window's "ヘルプ" finds the manual it opens in the user's browser.
#pragma once

#include <string>

namespace lumbra {

// The manual for this user: manual-en.html when `english` (the locale asks for English),
// manual.html otherwise. Looked for where an installation puts it, beside the program's
// directory (`programDir`/../share/doc/lumbra), then in `sourceDocsDir`, the docs of the
// source tree a program run from its build tree was built from. When neither holds it, the
// installed place (the browser then says what is missing, and where).
std::string ManualPath(const std::string& programDir, const std::string& sourceDocsDir,
                       bool english);

}  // namespace lumbra
