#include "cache/cache_index.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/ascii.h"
#include "core/content_type.h"
#include "core/exec_log.h"
#include "platform/fs.h"
#include "platform/paths.h"

namespace lumbra {
namespace {

// The slash and character rule leaves the scheme and its two slashes ("http://", "https://")
// alone.
constexpr std::size_t kNormaliseFrom = 6;
constexpr std::size_t kNormaliseFromHttps = 7;

std::string NormaliseUrl(std::string url) {
  bool afterSlash = false;
  const std::size_t from = StartsWithNoCase(url, "https://") ? kNormaliseFromHttps : kNormaliseFrom;
  for (std::size_t i = from; i < url.size(); ++i) {
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

// The extensions the types of today's documents get: a stored file is opened through a
// file:// link, and a browser tells its type by its extension alone.
struct TypeExtension {
  std::string_view mediaType;
  std::string_view extension;  // added when the last segment has none of `fitting`
  std::array<std::string_view, 2> fitting;
};
constexpr std::array<TypeExtension, 19> kTypeExtensions = {{
    {"image/png", ".png", {".png"}},
    {"image/webp", ".webp", {".webp"}},
    {"image/svg+xml", ".svg", {".svg", ".svgz"}},
    {"image/avif", ".avif", {".avif"}},
    {"image/x-icon", ".ico", {".ico"}},
    {"image/vnd.microsoft.icon", ".ico", {".ico"}},
    {"text/css", ".css", {".css"}},
    {"text/javascript", ".js", {".js", ".mjs"}},
    {"application/javascript", ".js", {".js", ".mjs"}},
    {"application/json", ".json", {".json"}},
    {"application/xml", ".xml", {".xml"}},
    {"text/xml", ".xml", {".xml"}},
    {"application/pdf", ".pdf", {".pdf"}},
    {"video/mp4", ".mp4", {".mp4", ".m4v"}},
    {"video/webm", ".webm", {".webm"}},
    {"audio/mpeg", ".mp3", {".mp3"}},
    {"font/woff", ".woff", {".woff"}},
    {"font/woff2", ".woff2", {".woff2"}},
    {"application/font-woff", ".woff", {".woff"}},
}};

// The extension of the URL's last segment, from its last '.'; empty when it has none.
std::string_view LastExtension(std::string_view url) {
  std::string_view segment = url.substr(url.rfind('/') + 1);
  std::size_t dot = segment.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : segment.substr(dot);
}

void AddExtension(std::string& url, std::string_view contentType, PageWithoutExtension pages) {
  const std::string type = MediaTypeOf(contentType);
  if (type == "text/html") {
    if (!url.empty() && url.back() == '/') {
      url += "home.html";
    } else if (!ContainsNoCase(url, ".htm") && !ContainsNoCase(url, ".asp")) {
      url += pages == PageWithoutExtension::Directory ? "/home.html" : ".html";
    }
  } else if (type == "image/gif") {
    if (!ContainsNoCase(url, ".gif")) url += ".gif";
  } else if (type == "image/jpeg") {
    if (!ContainsNoCase(url, ".jp")) url += ".jpg";
  } else {
    for (const TypeExtension& known : kTypeExtensions) {
      if (known.mediaType != type) continue;
      const std::string_view extension = LastExtension(url);
      const bool fits = std::any_of(known.fitting.begin(), known.fitting.end(), [&](auto fit) {
        return !fit.empty() && EqualsNoCase(extension, fit);
      });
      if (!fits) url += known.extension;
      break;
    }
  }
}

}  // namespace

bool ReadCacheIndex(const JobContext& ctx, Frontend& frontend, const CacheLayout* layout,
                    CacheEntryTable& table, const std::string& cacheDir) {
  table.Reset();
  if (layout != nullptr && !layout->ReadEntries(ctx, frontend, cacheDir, table)) return false;

  table.RemoveRepeatedRows();
  const PageWithoutExtension pages =
      layout != nullptr ? layout->pageWithoutExtension() : PageWithoutExtension::File;
  for (int i = 0; i < table.count(); ++i) NormaliseCacheEntry(table.row(i), cacheDir, pages);

  AppendExecLog(ctx,
                "Cache ファイル名　読み出し終了 ( " + std::to_string(table.count()) + " 件 )\n");
  return true;
}

std::string_view RefusalText(platform::OpenError why) {
  switch (why) {
    case platform::OpenError::OutsideRoot:
      return platform::TrLater("キャッシュの外を指す名前のため読みません");
    case platform::OpenError::SymbolicLink:
      return platform::TrLater("シンボリックリンクのため読みません");
    case platform::OpenError::NotRegular:
      return platform::TrLater("通常のファイルでないため読みません");
    case platform::OpenError::None:
    case platform::OpenError::Missing:
    case platform::OpenError::Unreadable:
      break;
  }
  return platform::TrLater("キャッシュファイルを読めません");
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

void NormaliseCacheEntry(CacheEntry& entry, const std::string& cacheDir,
                         PageWithoutExtension pages) {
  if (entry.contentType.size() > kContentTypeMax) entry.contentType.resize(kContentTypeMax);

  std::string url = NormaliseUrl(entry.url);
  AddExtension(url, entry.contentType, pages);
  entry.url = std::move(url);

  // A name with a drive letter (an index written on Windows) is taken without it.
  std::string_view name = entry.cacheFile;
  if (platform::HasDriveLetter(name)) name.remove_prefix(2);
  entry.cacheFile = cacheDir + "/" + std::string(name);
  entry.status = 0;
}

}  // namespace lumbra
