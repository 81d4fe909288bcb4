#include "cache/private_copy.h"

#include <cstring>

#include "cache/cache_index.h"
#include "core/document.h"
#include "core/setting_line.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/paths.h"

namespace lumbra {

bool ReadFromPrivateCopy(Frontend& frontend, const std::string& indexFile,
                         std::string_view copyName,
                         const std::function<void(const std::string& copy)>& read) {
  FileDocument source;
  const platform::OpenError opened = source.file().Open(indexFile, platform::FollowLinks::No);
  // A link or a FIFO in place of the index is no cache this job may read: an empty read would
  // pass for an empty cache and replace the last add's index of new pages.
  if (opened == platform::OpenError::SymbolicLink || opened == platform::OpenError::NotRegular) {
    frontend.ShowMessage(platform::Fill(platform::Tr("キャッシュファイルは%1"),
                                        {platform::Tr(RefusalText(opened))}) +
                         SettingLine("CACHE_DIR", indexFile));
    return false;
  }
  if (opened != platform::OpenError::None) {
    read(std::string());
    return true;
  }
  platform::TempDirectory dir("lumbra-cache");
  int error = dir.error();
  std::string copy;
  if (!dir.path().empty()) {
    copy = dir.path() + "/" + std::string(copyName);
    if (!CopyDocument(copy, source, &error)) copy.clear();
  }
  source.file().Close();
  if (copy.empty()) {
    frontend.ShowMessage(platform::Fill(
        platform::Tr("キャッシュデータを一時ディレクトリにコピーできません（%1）\r%2"),
        {std::strerror(error), dir.parent()}));
    return false;
  }
  read(copy);
  platform::DeleteFile(copy);
  return true;
}

bool ReadIndexCopy(Frontend& frontend, const std::string& cacheDir, std::string_view indexName,
                   std::string_view copyName,
                   const std::function<void(const std::string& copy)>& read) {
  const std::string index = cacheDir + std::string(indexName);
  if (!platform::GetLinkStatus(index).exists()) return true;
  return ReadFromPrivateCopy(frontend, index, copyName, read);
}

}  // namespace lumbra
