// Internet Explorer 3.0 index files, as this reader reads them; the layout is in
// ie3_reader.h.
//
// Local rules: every text ends at its NUL or at the end of its R-byte record, whichever comes
// first; nothing outside the record is ever read for it. No content type in reach drops the
// record.

#include "cache/ie3_reader.h"

#include <array>
#include <optional>
#include <string>
#include <utility>

#include "cache/byte_span.h"
#include "cache/cache_index.h"
#include "cache/private_copy.h"
#include "core/exec_log.h"
#include "core/setting_line.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

constexpr std::size_t kSearchFrom = 256;
constexpr std::size_t kSearchStep = 256;
constexpr std::size_t kSearchWindow = 288;
constexpr std::size_t kSearchPositions = 272;
constexpr std::string_view kHttp = "http";
constexpr std::string_view kFtp = "ftp";

// The content type must start less than this many bytes after the name's NUL.
constexpr std::size_t kContentTypeReach = 256;

constexpr int kSubdirectoryCount = 19;

struct IndexFile {
  std::string_view name;
  std::size_t recordSize;
};
constexpr std::array<IndexFile, 3> kIndexFiles{{
    {"mm256.dat", 256},
    {"mm2048.dat", 2048},
    {"mm4096.dat", 4096},
}};

// Where the first record starts; the size of `bytes` when there is none.
std::size_t FirstRecord(std::string_view bytes) {
  for (std::size_t offset = kSearchFrom; offset < bytes.size(); offset += kSearchStep) {
    const std::size_t found = bytes.substr(offset, kSearchWindow).find(kHttp);
    if (found < kSearchPositions) return offset + found;
  }
  return bytes.size();
}

void AppendText(std::string* dump, std::string_view text, std::string_view after) {
  if (dump == nullptr) return;
  *dump += text;
  *dump += after;
}

// One record of R bytes: appends its row when it has every part.
void ParseRecord(std::string_view record, std::string_view prefix, CacheEntryTable& table,
                 std::string* dump) {
  if (!record.starts_with(kHttp) && !record.starts_with(kFtp)) return;
  const std::string_view url = TextAt(record, 0);
  AppendText(dump, url, " ");

  const std::size_t namePos = url.size() + 1;
  const std::string_view name = TextAt(record, namePos);
  AppendText(dump, name, " ");

  const std::string_view headers = TextAt(record, namePos + name.size() + 1);
  const std::string_view contentType = ContentTypeIn(headers, kContentTypeReach);
  AppendText(dump, contentType, "\n ");
  if (contentType.empty()) return;

  CacheEntry entry;
  entry.url = std::string(url);
  entry.cacheFile = std::string(prefix);
  entry.cacheFile += name;
  entry.contentType = std::string(contentType);
  table.Append(std::move(entry));
}

}  // namespace

void ParseExplorer3Segment(std::string_view bytes, std::size_t recordSize, std::string_view prefix,
                           CacheEntryTable& table, std::string* dump) {
  if (recordSize == 0) return;
  for (std::size_t start = FirstRecord(bytes);
       start < bytes.size() && bytes.size() - start >= recordSize; start += recordSize) {
    ParseRecord(bytes.substr(start, recordSize), prefix, table, dump);
  }
}

namespace {

bool LinksToDirectory(const std::string& path) {
  return !platform::GetLinkStatus(path).isDirectory() && platform::GetStatus(path).isDirectory();
}

}  // namespace

bool ReadExplorer3Cache(const JobContext& ctx, Frontend& frontend, bool debugDump,
                        const std::string& cacheDir, CacheEntryTable& table) {
  platform::TextWriter dumpFile;
  if (debugDump &&
      !dumpFile.Open(ctx.StartFile(kDebugDumpName), platform::TextWriter::Mode::Truncate)) {
    return true;
  }
  AppendExecLog(ctx, "iexplore 3.0  Cache ファイル名　読み出し開始\n");

  std::string dump;
  for (int d = 1; d <= kSubdirectoryCount; ++d) {
    const std::string prefix = "cache" + std::to_string(d) + "/";
    // No index is read through a link below the cache directory: a subdirectory that is a
    // link to a directory (anywhere) stops the read as a link in place of an index does.
    const std::string subdirectory = cacheDir + "/" + prefix.substr(0, prefix.size() - 1);
    if (LinksToDirectory(subdirectory)) {
      frontend.ShowMessage(
          platform::Fill(platform::Tr("キャッシュのサブディレクトリは%1"),
                         {platform::Tr(RefusalText(platform::OpenError::SymbolicLink))}) +
          SettingLine("CACHE_DIR", subdirectory));
      return false;
    }
    for (const IndexFile& file : kIndexFiles) {
      const std::string path = cacheDir + "/" + prefix + std::string(file.name);
      if (!platform::GetLinkStatus(path).exists()) continue;
      const bool copied =
          ReadFromPrivateCopy(frontend, path, file.name, [&](const std::string& copy) {
            std::optional<std::string> bytes = platform::ReadFile(copy);
            if (!bytes) {
              frontend.ShowMessage(platform::Tr(kCacheInUse));
              return;
            }
            ParseExplorer3Segment(*bytes, file.recordSize, prefix, table,
                                  debugDump ? &dump : nullptr);
          });
      dumpFile.Write(dump);
      dump.clear();
      if (!copied) return false;
    }
  }
  if (debugDump) dumpFile.Close();
  return true;
}

namespace {

// The first line of mm256.dat names the version; its first 299 characters are looked at.
constexpr std::size_t kFirstLineRead = 300;

bool FirstLineSaysVersion30(const std::string& path) {
  platform::TextReader reader;
  std::string line;
  if (!reader.Open(path) || !reader.ReadChunk(kFirstLineRead, line)) return false;
  return line.find("3.0") != std::string::npos;
}

class Explorer3Cache : public CacheLayout {
 public:
  explicit Explorer3Cache(Explorer3Version version) : version_(version) {}

  std::string_view name() const override {
    return version_ == Explorer3Version::V30 ? "Explorer 3.0" : "Explorer 3";
  }
  std::string_view marker() const override { return "/cache1/mm256.dat"; }
  bool Holds(const std::string& cacheDir) const override {
    if (!CacheLayout::Holds(cacheDir)) return false;
    // Its version is not read through a link either; the reader refuses such a cache.
    if (LinksToDirectory(cacheDir + "/cache1")) return version_ == Explorer3Version::Other;
    const bool v30 = FirstLineSaysVersion30(cacheDir + std::string(marker()));
    return v30 == (version_ == Explorer3Version::V30);
  }
  PageWithoutExtension pageWithoutExtension() const override {
    return version_ == Explorer3Version::V30 ? PageWithoutExtension::Directory
                                             : PageWithoutExtension::File;
  }

  bool ReadEntries(const JobContext& ctx, Frontend& frontend, const std::string& cacheDir,
                   CacheEntryTable& table) const override {
    return ReadExplorer3Cache(ctx, frontend, ctx.execLog, cacheDir, table);
  }

 private:
  Explorer3Version version_;
};

}  // namespace

std::unique_ptr<CacheLayout> Explorer3Layout(Explorer3Version version) {
  return std::make_unique<Explorer3Cache>(version);
}

}  // namespace lumbra
