// The settings reader on arbitrary lumbra.ini contents: no crash, and every path value fits
// the 249-character line it came from.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "memory_scratch.h"
#include "platform/fs.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  lumbra::fuzz::KeepScratchInMemory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static lumbra::platform::TempDirectory dir("lumbra-fuzz-settings");
  std::string content(reinterpret_cast<const char*>(data), size);
  if (!lumbra::platform::ReplaceFileContent(dir.path() + "/lumbra.ini", content, 0644)) return 0;
  lumbra::JobSettings settings;
  lumbra::LoadSettings(dir.path(), settings);
  if (settings.cacheDir.size() > 239 || settings.indexDir.size() > 239) std::abort();
  for (const std::string& log : settings.logDir) {
    if (log.size() > 239) std::abort();
  }
  return 0;
}
