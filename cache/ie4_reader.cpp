// Internet Explorer 4.0 index.dat, as this reader reads it; the layout is in ie4_reader.h.
//
// Local rules: every text ends at its NUL or at the end of the 512 bytes of its record,
// whichever comes first; nothing outside the record is ever read for it.

#include "cache/ie4_reader.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cache/byte_span.h"
#include "cache/cache_index.h"
#include "cache/ie5_reader.h"
#include "cache/ie_directory_table.h"
#include "cache/private_copy.h"
#include "core/exec_log.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

constexpr std::string_view kSignature47("Client UrlCache MMF Ver 4.7\0", 28);
constexpr std::string_view kSignature46("Client UrlCache MMF Ver 4.6\0", 28);
constexpr std::size_t kTableOffset47 = 72;
constexpr std::size_t kTableOffset46 = 80;
constexpr std::size_t kOtherTableOffset = 1024;

constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kRecordSize = 512;
constexpr std::string_view kRecordTag = "URL ";
constexpr std::size_t kFieldsOffset = 4;
constexpr int kFieldCount = 25;
constexpr int kSubdirectoryField = 14;  // the field at offset 60
constexpr std::size_t kUrlOffset = 104;
constexpr std::size_t kNameAlignment = 4;

// The content type must start less than this many bytes after the end of the name's NULs.
constexpr std::size_t kContentTypeReach = 128;

// Where the directory table lies, by the signature.
std::size_t DirectoryTableOffset(std::string_view bytes) {
  if (bytes.substr(0, kSignature47.size()) == kSignature47) return kTableOffset47;
  if (bytes.substr(0, kSignature46.size()) == kSignature46) return kTableOffset46;
  return kOtherTableOffset;
}

void AppendNumber(std::string* dump, int value) {
  if (dump == nullptr) return;
  *dump += std::to_string(value);
  *dump += ' ';
}

void AppendText(std::string* dump, std::string_view text, std::string_view after) {
  if (dump == nullptr) return;
  *dump += text;
  *dump += after;
}

// One URL record of kRecordSize bytes: appends its row when it is whole.
void ParseRecord(std::string_view record, const std::vector<std::string>& subdirectories,
                 CacheEntryTable& table, std::string* dump) {
  int subdirectory = 0;
  for (int i = 0; i < kFieldCount; ++i) {
    int value = LowByte(record, kFieldsOffset + 4 * static_cast<std::size_t>(i));
    if (i == kSubdirectoryField) subdirectory = value;
    AppendNumber(dump, value);
  }

  std::string_view url = TextAt(record, kUrlOffset);
  std::size_t pos = SkipNuls(record, kUrlOffset + url.size());
  AppendText(dump, url, " ");

  // The record starts on a block boundary, so its offsets align as the file's do.
  while (pos < record.size() && pos % kNameAlignment != 0) ++pos;
  std::string_view name = TextAt(record, pos);
  pos = SkipNuls(record, pos + name.size());

  CacheEntry entry;
  entry.url = std::string(url);
  // An index that names no slot of the directory table gives the bare file name (a file
  // directly in the cache directory): a name that begins with '/' is always an absolute one.
  if (subdirectory >= 0 && static_cast<std::size_t>(subdirectory) < subdirectories.size()) {
    entry.cacheFile = subdirectories[static_cast<std::size_t>(subdirectory)];
    entry.cacheFile += '/';
  }
  entry.cacheFile += name;
  AppendText(dump, name, " ");

  std::string_view contentType = ContentTypeIn(TextAt(record, pos), kContentTypeReach);
  AppendText(dump, contentType, "\n ");
  if (contentType.empty()) return;
  entry.contentType = std::string(contentType);
  table.Append(std::move(entry));
}

}  // namespace

void ParseExplorer4Index(std::string_view bytes, CacheEntryTable& table, std::string* dump) {
  // Version 5.2 records say where their texts lie; they are read by that layout.
  if (bytes.substr(0, kExplorer5Signature.size()) == kExplorer5Signature) {
    ParseExplorer5Index(bytes, table, dump);
    return;
  }
  const std::vector<std::string> subdirectories =
      ReadDirectoryTable(bytes, DirectoryTableOffset(bytes), DirectoryTableExtent::kWhole);
  for (std::size_t p = 0; p < bytes.size() && bytes.size() - p >= kRecordSize; p += kBlockSize) {
    std::string_view record = bytes.substr(p, kRecordSize);
    if (record.substr(0, kRecordTag.size()) != kRecordTag) continue;
    ParseRecord(record, subdirectories, table, dump);
  }
}

void ReadExplorer4Cache(const JobContext& ctx, Frontend& frontend, bool debugDump,
                        const std::string& indexFile, CacheEntryTable& table) {
  platform::TextWriter dumpFile;
  if (debugDump &&
      !dumpFile.Open(ctx.StartFile(kDebugDumpName), platform::TextWriter::Mode::Truncate)) {
    return;
  }
  AppendExecLog(ctx, "iexplore 4.0  Cache ファイル名　読み出し開始\n");

  std::optional<std::string> bytes = platform::ReadFile(indexFile);
  if (!bytes) {
    frontend.ShowMessage(platform::Tr(kCacheInUse));
    return;
  }
  std::string dump;
  ParseExplorer4Index(*bytes, table, debugDump ? &dump : nullptr);
  if (debugDump) {
    dumpFile.Write(dump);
    dumpFile.Close();
  }
}

namespace {

class Explorer4Cache : public CacheLayout {
 public:
  std::string_view name() const override { return "Explorer 4 to 9"; }
  std::string_view marker() const override { return "/index.dat"; }

  bool ReadEntries(const JobContext& ctx, Frontend& frontend, const std::string& cacheDir,
                   CacheEntryTable& table) const override {
    return ReadIndexCopy(frontend, cacheDir, marker(), "index.dat", [&](const std::string& copy) {
      ReadExplorer4Cache(ctx, frontend, ctx.execLog, copy, table);
    });
  }
};

}  // namespace

std::unique_ptr<CacheLayout> Explorer4Layout() { return std::make_unique<Explorer4Cache>(); }

}  // namespace lumbra
