#include "tally/tally_command.h"

#include <algorithm>

#include "core/version.h"
#include "platform/language.h"
#include "tally/tally.h"
#include "tally/tally_dialog.h"

namespace lumbra {
namespace {

constexpr const char* kUsage =
    "usage: fennow              open the window \"%1\"\n"
    "       fennow --count DIR  count the directories, files and bytes below DIR and print\n"
    "                           them as the window shows them; needs no display\n"
    "       fennow --version    print \"fennow VERSION\"\n"
    "\n"
    "Directories whose name begins with \".\" are neither counted nor entered; symbolic\n"
    "links are counted as files and never followed. Exit status: 0 done, 1 DIR is empty,\n"
    "missing or cannot be read (a message on stderr says why), 2 usage.\n";

}  // namespace

std::optional<int> RunTallyCommand(const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err) {
  if (args.empty()) return std::nullopt;
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << platform::Fill(kUsage, {platform::Tr(kTallyTitle)});
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "fennow " << kVersion << '\n';
    return 0;
  }
  if (args.size() != 2 || args[0] != "--count") {
    err << "fennow: unknown arguments (fennow --help shows the usage)\n";
    return 2;
  }
  if (const std::optional<std::string> refusal = TallyRefusal(args[1])) {
    std::string lines = *refusal;
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    err << "fennow: " << lines << '\n';
    return 1;
  }
  TallyCounts counts = CountTree(args[1]);
  out << platform::Tr(kDirCountLabel) << '\t' << counts.dirCount << '\n'
      << platform::Tr(kFileCountLabel) << '\t' << counts.fileCount << '\n'
      << platform::Tr(kByteTotalLabel) << '\t' << GroupThousands(counts.byteTotal) << '\n';
  return 0;
}

}  // namespace lumbra
