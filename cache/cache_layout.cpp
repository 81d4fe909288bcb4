#include "cache/cache_layout.h"

#include <utility>

#include "cache/cache_index.h"
#include "cache/chromium_blockfile.h"
#include "cache/chromium_simple.h"
#include "cache/firefox_cache2.h"
#include "cache/ie2_reader.h"
#include "cache/ie3_reader.h"
#include "cache/ie4_reader.h"
#include "cache/netscape_reader.h"
#include "platform/paths.h"

namespace lumbra {
namespace {

// The cached files below one cache directory, each entry's cacheFile its document.
class CachedFiles : public CachedDocuments {
 public:
  explicit CachedFiles(const std::string& cacheDir) : files_(cacheDir) {}

  platform::OpenError Open(const CacheEntry& entry,
                           std::unique_ptr<DocumentSource>& document) override {
    auto file = std::make_unique<FileDocument>();
    platform::OpenError opened = OpenCachedFile(files_, entry.cacheFile, file->file());
    document = std::move(file);
    return opened;
  }

 private:
  platform::FilesBelow files_;  // keeps the directories reached last open
};

}  // namespace

std::string CachedDocuments::RefusalOf(platform::OpenError why) const {
  return std::string(RefusalText(why));
}

bool CacheLayout::Holds(const std::string& cacheDir) const {
  const std::string path = cacheDir + std::string(marker());
  platform::ReadableFile file;
  switch (file.Open(path, platform::FollowLinks::No)) {
    case platform::OpenError::None:
      return true;
    case platform::OpenError::NotRegular:
    case platform::OpenError::SymbolicLink:
      return !platform::GetStatus(path).isDirectory();
    case platform::OpenError::Missing:
    case platform::OpenError::OutsideRoot:
    case platform::OpenError::Unreadable:
      return false;
  }
  return false;
}

bool CacheLayout::Marks(const std::string& cacheDir) const {
  return platform::StatPath(cacheDir + std::string(marker())).exists();
}

std::unique_ptr<CachedDocuments> CacheLayout::Documents(const std::string& cacheDir) const {
  return std::make_unique<CachedFiles>(cacheDir);
}

CacheLayouts CacheLayouts::BuiltIn() {
  CacheLayouts layouts;
  layouts.Add(NetscapeLayout(kNetscapeIndex));
  layouts.Add(Explorer3Layout(Explorer3Version::V30));
  layouts.Add(Explorer3Layout(Explorer3Version::Other));
  layouts.Add(Explorer4Layout());
  layouts.Add(Explorer2Layout());
  // Netscape on Unix keeps the same database under another name.
  layouts.Add(NetscapeLayout(kNetscapeUnixIndex));
  // The caches of today's browsers.
  layouts.Add(ChromiumSimpleLayout());
  layouts.Add(ChromiumBlockfileLayout());
  layouts.Add(FirefoxCache2Layout());
  return layouts;
}

void CacheLayouts::Add(std::unique_ptr<CacheLayout> layout) {
  layouts_.push_back(std::move(layout));
}

const CacheLayout* CacheLayouts::Find(const std::string& cacheDir) const {
  for (const auto& layout : layouts_) {
    if (layout->Holds(cacheDir)) return layout.get();
  }
  return nullptr;
}

const CacheLayout* CacheLayouts::Marked(const std::string& cacheDir) const {
  for (const auto& layout : layouts_) {
    if (layout->Marks(cacheDir)) return layout.get();
  }
  return nullptr;
}

}  // namespace lumbra
