// fennow without its window: `fennow --count DIR` prints the three values of a count, for
// scripts and tests, and never starts the toolkit, so it runs where there is no display.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lumbra {

// Runs the command line `args` (without the program name) when it asks for no window:
// `--count DIR` prints the counts (exit 0), or the message of TallyRefusal on `err` (exit 1);
// `--help` the usage (0), `--version` "fennow VERSION" (0), anything else but an empty
// command line a usage error (2). nullopt for an empty command line: open the window.
std::optional<int> RunTallyCommand(const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err);

}  // namespace lumbra
