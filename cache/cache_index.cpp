#include "cache/cache_index.h"

#include <algorithm>

#include "cache/ie2_reader.h"
#include "cache/ie3_reader.h"
#include "cache/ie4_reader.h"
#include "cache/netscape_reader.h"
#include "cache/private_copy.h"
#include "core/ascii.h"
#include "core/exec_log.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

// The page sizes of a Netscape index: the larger is read first.
constexpr int kNetscapeLargePage = 16384;
constexpr int kNetscapeSmallPage = 4096;
// The first line of mm256.dat is read as a 300-byte buffer would hold it.
constexpr std::size_t kFirstLineBuffer = 300;
// The slash and character rule leaves the scheme and its two slashes ("http://") alone.
constexpr std::size_t kNormaliseFrom = 6;

// A probe succeeds when the file can be opened for reading. A directory of that name is no
// index file (on Windows it cannot be opened as one either). A FIFO, device or link of that
// name is taken as found, so that the reader refuses it with its message instead of the
// layout going unnoticed.
bool CanOpenForReading(const std::string& path) {
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

bool FirstLineSaysVersion30(const std::string& path) {
  platform::TextReader reader;
  std::string line;
  if (!reader.Open(path) || !reader.ReadChunk(kFirstLineBuffer, line)) return false;
  return line.find("3.0") != std::string::npos;
}

std::string NormaliseUrl(std::string url) {
  bool afterSlash = false;
  for (std::size_t i = kNormaliseFrom; i < url.size(); ++i) {
    char& c = url[i];
    if (c == '/') {
      if (afterSlash) c = '-';
      afterSlash = true;
      continue;
    }
    afterSlash = false;
    if (c == '?' || c == ':' || c == '*') c = '-';
  }
  return url;
}

void AddExtension(std::string& url, const std::string& contentType, CacheKind kind) {
  if (contentType == "text/html") {
    if (!url.empty() && url.back() == '/') {
      url += "home.html";
    } else if (!ContainsNoCase(url, ".htm") && !ContainsNoCase(url, ".asp")) {
      // Kind 2 caches keep an extension-less page URL as a directory.
      url += kind == CacheKind::Explorer30 ? "/home.html" : ".html";
    }
  } else if (contentType == "image/gif") {
    if (!ContainsNoCase(url, ".gif")) url += ".gif";
  } else if (contentType == "image/jpeg") {
    if (!ContainsNoCase(url, ".jp")) url += ".jpg";
  }
}

}  // namespace

CacheKind DetectCacheKind(const std::string& cacheDir) {
  if (CanOpenForReading(cacheDir + std::string(kNetscapeIndex))) return CacheKind::Netscape;
  std::string mm256 = cacheDir + std::string(kExplorer3Index);
  if (CanOpenForReading(mm256)) {
    return FirstLineSaysVersion30(mm256) ? CacheKind::Explorer30 : CacheKind::Explorer3Other;
  }
  if (CanOpenForReading(cacheDir + std::string(kExplorer4Index))) return CacheKind::Explorer4;
  if (CanOpenForReading(cacheDir + std::string(kExplorer2Index))) return CacheKind::Explorer2;
  if (CanOpenForReading(cacheDir + std::string(kNetscapeUnixIndex))) return CacheKind::Netscape;
  return CacheKind::None;
}

bool ReadCacheIndex(const JobContext& ctx, Frontend& frontend, CacheEntryTable& table,
                    const std::string& cacheDir) {
  const bool debugDump = ctx.execLog;
  table.Reset();
  const CacheKind kind = DetectCacheKind(cacheDir);
  bool copied = true;
  switch (kind) {
    case CacheKind::Netscape: {
      std::string index =
          cacheDir + std::string(CanOpenForReading(cacheDir + std::string(kNetscapeIndex))
                                     ? kNetscapeIndex
                                     : kNetscapeUnixIndex);
      if (platform::CheckPath(index) != platform::PathCheck::Ok) break;
      copied = ReadFromPrivateCopy(frontend, index, "tmp.db", [&](const std::string& copy) {
        // The probe of the reader sees a 4,096-byte file only when its first bucket holds
        // entries; too few rows for the files of the cache say the pages were smaller.
        if (ReadNetscapeCache(ctx, frontend, debugDump, copy, kNetscapeLargePage, table) ==
                kNetscapeLargePage &&
            platform::CountFiles(cacheDir) > 2 * table.count()) {
          table.Reset();
          ReadNetscapeCache(ctx, frontend, debugDump, copy, kNetscapeSmallPage, table);
        }
      });
      break;
    }
    case CacheKind::Explorer30:
    case CacheKind::Explorer3Other:
      copied = ReadExplorer3Cache(ctx, frontend, debugDump, cacheDir, table);
      break;
    case CacheKind::Explorer2: {
      std::string index = cacheDir + std::string(kExplorer2Index);
      if (platform::CheckPath(index) != platform::PathCheck::Ok) break;
      copied = ReadFromPrivateCopy(frontend, index, "tmp.db", [&](const std::string& copy) {
        ReadExplorer2Cache(ctx, frontend, debugDump, copy, table);
      });
      break;
    }
    case CacheKind::Explorer4: {
      std::string index = cacheDir + std::string(kExplorer4Index);
      if (platform::CheckPath(index) != platform::PathCheck::Ok) break;
      copied = ReadFromPrivateCopy(frontend, index, "index.dat", [&](const std::string& copy) {
        ReadExplorer4Cache(ctx, frontend, debugDump, copy, table);
      });
      break;
    }
    case CacheKind::None:
      break;
  }
  if (!copied) return false;

  table.RemoveRepeatedRows();
  for (int i = 0; i < table.count(); ++i) NormaliseCacheEntry(table.row(i), cacheDir, kind);

  AppendExecLog(ctx,
                "Cache ファイル名　読み出し終了 ( " + std::to_string(table.count()) + " 件 )\n");
  return true;
}

bool CacheNameStaysInside(std::string_view name) {
  // The cache's own system took '\\' for a separator as well.
  std::string slashed(name);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  return platform::NameStaysBelow(slashed);
}

platform::OpenError OpenCachedFile(const std::string& cacheDir, const std::string& cacheFile,
                                   platform::ReadableFile& file) {
  platform::FilesBelow cache(cacheDir);
  return OpenCachedFile(cache, cacheFile, file);
}

platform::OpenError OpenCachedFile(platform::FilesBelow& cache, const std::string& cacheFile,
                                   platform::ReadableFile& file) {
  file.Close();
  const std::string prefix = cache.root() + "/";
  if (!cacheFile.starts_with(prefix)) return platform::OpenError::OutsideRoot;
  std::string_view name = std::string_view(cacheFile).substr(prefix.size());
  if (!CacheNameStaysInside(name)) return platform::OpenError::OutsideRoot;
  return cache.Open(name, file);
}

void NormaliseCacheEntry(CacheEntry& entry, const std::string& cacheDir, CacheKind kind) {
  if (entry.url.size() > kCacheUrlMax) entry.url.resize(kCacheUrlMax);
  if (entry.contentType.size() > kContentTypeMax) entry.contentType.resize(kContentTypeMax);

  std::string url = NormaliseUrl(entry.url);
  AddExtension(url, entry.contentType, kind);
  entry.url = std::move(url);

  // A name with a drive letter (an index written on Windows) is taken without it.
  std::string_view name = entry.cacheFile;
  if (platform::HasDriveLetter(name)) name.remove_prefix(2);
  entry.cacheFile = cacheDir + "/" + std::string(name);
  entry.status = 0;
}

}  // namespace lumbra
