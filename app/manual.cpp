#include "app/manual.h"

#include "platform/fs.h"

namespace lumbra {

std::string ManualPath(const std::string& programDir, const std::string& sourceDocsDir,
                       bool english) {
  const std::string name = english ? "manual-en.html" : "manual.html";
  const std::string installed = programDir + "/../share/doc/lumbra/" + name;
  if (platform::GetStatus(installed).isRegular()) return installed;
  if (!sourceDocsDir.empty()) {
    std::string source = sourceDocsDir + "/" + name;
    if (platform::GetStatus(source).isRegular()) return source;
  }
  return installed;
}

}  // namespace lumbra
