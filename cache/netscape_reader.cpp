// Netscape Navigator fat.db, as this reader reads it; the layout is in netscape_reader.h.
//
// Local rules:
// - Fields are read from the file bytes one after the other from J + offset, each directly
//   after the one before, wherever that leads (offsets above P reach into later pages, a
//   negative one into earlier ones). A field that does not lie wholly inside the file cannot
//   be read and gets its message; nothing before the file start or past its end is read.
// - A text is its bytes up to the first NUL; bytes without a NUL end at the field's length,
//   and a length of 0 gives an empty text.
// - A negative length of a text counts as too long, as a negative rest does.

#include "cache/netscape_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "cache/byte_span.h"
#include "cache/cache_index.h"
#include "cache/private_copy.h"
#include "core/exec_log.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

constexpr std::size_t kProbeOffset = 4096;
constexpr int kProbedPageSize = 4096;
constexpr int kMinEntries = 1;
constexpr int kMaxEntries = 1000;
constexpr std::int16_t kMaxItemOffset = 16384;
constexpr std::string_view kSkippedKeyTag = "INT";
constexpr std::int32_t kMaxTextLength = 512;
// A URL (with its NUL) may be as long as the entry table keeps one.
constexpr std::int32_t kMaxUrlLength = static_cast<std::int32_t>(kCacheUrlMax) + 1;
constexpr std::int64_t kMaxRest = 1024;
constexpr int kMiddleFields = 7;
constexpr std::size_t kTypeCut = 150;
// Widths of the debug dump's columns.
constexpr int kCountWidth = 6;
constexpr int kNumberWidth = 10;
constexpr std::size_t kUrlWidth = 200;
constexpr std::size_t kTextWidth = 20;

constexpr std::string_view kProbeUnreadable = "fat read Ns001:バージョンチェック";
constexpr std::string_view kCountUnreadable = "fat read error Ns002:ブロック データ数エラー";
constexpr std::string_view kTableUnreadable = "fat read error Ns003:FAT 読みとりエラー";
constexpr std::string_view kNoKeySize = "fat read Ns004:no No";
constexpr std::string_view kNoUrlLength = "fat read Ns005:no Len";
constexpr std::string_view kUrlTooLong = "fat read Ns006:名前が長すぎます";
constexpr std::string_view kNoUrl = "fat read Ns007:no pname";
constexpr std::string_view kNoKeyField = "fat read Ns008:no Len";
constexpr std::string_view kKeyRestTooLong = "fat read Ns009:データが長すぎます";
constexpr std::string_view kNoKeyRest = "fat read Ns010:no Data";
constexpr std::string_view kNoRecordSize = "fat read Ns020:no No";
constexpr std::string_view kNoN1 = "fat read Ns021:no N1";
constexpr std::string_view kNoTime1 = "fat read Ns022:no time1";
constexpr std::string_view kNoTime2 = "fat read Ns023:no time2";
constexpr std::string_view kNoN4 = "fat read Ns024:no N4";
constexpr std::string_view kNoMem = "fat read Ns025:no mem";
constexpr std::string_view kNoN5 = "fat read Ns026:no N5";
constexpr std::string_view kNoFirstC = "fat read Ns027:no c";
constexpr std::string_view kNoNameLength = "fat read Ns028:no Len";
constexpr std::string_view kNameTooLong = "fat read Ns029:名前が長すぎます";
constexpr std::string_view kNoName = "fat read Ns030:名前が読めません";
constexpr std::string_view kNoMiddle[kMiddleFields] = {
    "fat read Ns031:no N1", "fat read Ns032:no N2", "fat read Ns033:no N3", "fat read Ns034:no N4",
    "fat read Ns035:no N5", "fat read Ns036:no N6", "fat read Ns037:no N7"};
constexpr std::string_view kNoN8 = "fat read Ns038:no N8";
constexpr std::string_view kNoSecondC = "fat read Ns040:no c";
constexpr std::string_view kNoTypeLength = "fat read Ns041:no Len";
constexpr std::string_view kTypeTooLong = "fat read Ns042:タイプが長すぎます";
constexpr std::string_view kNoType = "fat read Ns043:タイプ読みとりエラーn";
constexpr std::string_view kNoLastN1 = "fat read Ns044:no N1";
constexpr std::string_view kNoLastN2 = "fat read Ns045:no N2";
constexpr std::string_view kNoN3 = "fat read Ns046:no N3";
constexpr std::string_view kRecordRestTooLong = "fat read Ns047:データが長すぎます";
constexpr std::string_view kNoRecordRest = "fat read Ns048:no Data";

constexpr const char* kDumpNotCreated =
    platform::TrLater("ERROR : デバッグ用記録ファイルが作成できません");
constexpr std::string_view kStartLine = "Netscape Cache ファイル名　読み出し開始\n";

// Reads fields one after the other from a position in the file and counts the bytes taken.
// A field that does not lie wholly inside the file is missing (nullopt).
class FieldReader {
 public:
  FieldReader(std::string_view file, std::int64_t pos) : file_(file), pos_(pos) {}

  std::optional<std::int32_t> Int32() {
    std::optional<std::string_view> bytes = Bytes(4);
    if (!bytes) return std::nullopt;
    return ReadLe32(*bytes, 0);
  }

  std::optional<std::string_view> Bytes(std::int64_t size) {
    const std::int64_t length = static_cast<std::int64_t>(file_.size());
    if (size < 0 || pos_ < 0 || pos_ > length || size > length - pos_) return std::nullopt;
    std::string_view bytes =
        file_.substr(static_cast<std::size_t>(pos_), static_cast<std::size_t>(size));
    pos_ += size;
    taken_ += size;
    return bytes;
  }

  // A text field of `size` bytes: up to its first NUL, or all of it when it holds none.
  std::optional<std::string_view> Text(std::int32_t size) {
    std::optional<std::string_view> bytes = Bytes(size);
    if (!bytes) return std::nullopt;
    return TextAt(*bytes, 0);
  }

  std::int64_t taken() const { return taken_; }

 private:
  std::string_view file_;
  std::int64_t pos_;
  std::int64_t taken_ = 0;
};

bool TextLengthTooLong(std::int32_t length, std::int32_t max = kMaxTextLength) {
  return length < 0 || length > max;
}

bool RestTooLong(std::int64_t rest) { return rest < 0 || rest > kMaxRest; }

// The debug dump, written value by value as they are read; does nothing without a target.
class DumpWriter {
 public:
  explicit DumpWriter(std::string* out) : out_(out) {}

  void Number(std::int32_t value, int width) {
    if (out_ == nullptr) return;
    char buffer[32];
    int n = std::snprintf(buffer, sizeof buffer, "%*d ", width, static_cast<int>(value));
    out_->append(buffer, static_cast<std::size_t>(n));
  }

  // The text padded with blanks to `width` (never cut), then a blank.
  void Text(std::string_view text, std::size_t width) {
    if (out_ == nullptr) return;
    out_->append(text);
    if (text.size() < width) out_->append(width - text.size(), ' ');
    out_->push_back(' ');
  }

  void EndLine() {
    if (out_ != nullptr) out_->push_back('\n');
  }

 private:
  std::string* out_;
};

// The key from `in`: sets `url`; returns the message of the first field that fails, or an
// empty view.
std::string_view ReadKey(FieldReader in, DumpWriter& dump, std::string_view& url) {
  std::optional<std::int32_t> keySize = in.Int32();
  if (!keySize) return kNoKeySize;
  std::optional<std::int32_t> urlLength = in.Int32();
  if (!urlLength) return kNoUrlLength;
  if (TextLengthTooLong(*urlLength, kMaxUrlLength)) return kUrlTooLong;
  std::optional<std::string_view> text = in.Text(*urlLength);
  if (!text) return kNoUrl;
  url = *text;
  dump.Text(url, kUrlWidth);
  if (!in.Int32()) return kNoKeyField;
  const std::int64_t rest = std::int64_t{*keySize} - in.taken();
  if (RestTooLong(rest)) return kKeyRestTooLong;
  if (!in.Bytes(rest)) return kNoKeyRest;
  return {};
}

// The data record from `in`: sets `name` and `type`; returns the message of the first field
// that fails, or an empty view.
std::string_view ReadData(FieldReader in, DumpWriter& dump, std::string_view& name,
                          std::string_view& type) {
  std::optional<std::int32_t> recordSize = in.Int32();
  if (!recordSize) return kNoRecordSize;
  if (!in.Int32()) return kNoN1;
  std::optional<std::int32_t> time1 = in.Int32();
  if (!time1) return kNoTime1;
  dump.Number(*time1, kNumberWidth);
  std::optional<std::int32_t> time2 = in.Int32();
  if (!time2) return kNoTime2;
  dump.Number(*time2, kNumberWidth);
  if (!in.Int32()) return kNoN4;
  std::optional<std::int32_t> mem = in.Int32();
  if (!mem) return kNoMem;
  dump.Number(*mem, kNumberWidth);
  std::optional<std::int32_t> n5 = in.Int32();
  if (!n5) return kNoN5;
  dump.Number(*n5, 0);  // no padding
  if (!in.Bytes(1)) return kNoFirstC;

  std::optional<std::int32_t> nameLength = in.Int32();
  if (!nameLength) return kNoNameLength;
  if (TextLengthTooLong(*nameLength)) return kNameTooLong;
  std::optional<std::string_view> nameText = in.Text(*nameLength);
  if (!nameText) return kNoName;
  name = *nameText;
  dump.Text(name, kTextWidth);

  std::optional<std::int32_t> n7;
  for (std::string_view missing : kNoMiddle) {
    n7 = in.Int32();
    if (!n7) return missing;
  }
  if (*n7 == 0 && !in.Int32()) return kNoN8;
  if (!in.Bytes(1)) return kNoSecondC;

  std::optional<std::int32_t> typeLength = in.Int32();
  if (!typeLength) return kNoTypeLength;
  if (TextLengthTooLong(*typeLength)) return kTypeTooLong;
  std::optional<std::string_view> typeText = in.Text(*typeLength);
  if (!typeText) return kNoType;
  type = *typeText;
  dump.Text(type, kTextWidth);

  if (!in.Int32()) return kNoLastN1;
  if (!in.Int32()) return kNoLastN2;
  std::optional<std::int32_t> n3 = in.Int32();
  if (!n3) return kNoN3;
  dump.Number(*n3, kNumberWidth);
  const std::int64_t rest = std::int64_t{*recordSize} - in.taken();
  if (RestTooLong(rest)) return kRecordRestTooLong;
  if (!in.Bytes(rest)) return kNoRecordRest;
  return {};
}

using Report = std::function<void(std::string_view)>;

// One pair of the offset table of the page at `page`.
void ReadPair(std::string_view bytes, std::int64_t page, std::int16_t keyOffset,
              std::int16_t dataOffset, CacheEntryTable& table, DumpWriter& dump,
              const Report& report) {
  if (keyOffset == 0 || dataOffset == 0 || keyOffset > kMaxItemOffset ||
      dataOffset > kMaxItemOffset) {
    return;
  }
  const std::int64_t keyAt = page + keyOffset;
  std::optional<std::string_view> tag = FieldReader(bytes, keyAt).Bytes(3);
  if (!tag || *tag == kSkippedKeyTag) return;

  dump.Number(table.count(), kCountWidth);
  std::string_view url;
  std::string_view name;
  std::string_view type;
  std::string_view failure = ReadKey(FieldReader(bytes, keyAt), dump, url);
  if (failure.empty()) failure = ReadData(FieldReader(bytes, page + dataOffset), dump, name, type);
  if (!failure.empty()) {
    report(failure);
    return;
  }
  dump.EndLine();
  CacheEntry entry;
  entry.url = std::string(url);
  entry.cacheFile = std::string(name);
  entry.contentType = std::string(type.substr(0, kTypeCut));
  table.Append(std::move(entry));
}

// The page size to walk with, or nullopt when the probe cannot be read.
std::optional<int> ProbePageSize(std::string_view bytes, int pageSize) {
  std::optional<std::int16_t> probe = ReadLe16(bytes, kProbeOffset);
  if (!probe) return std::nullopt;
  return *probe != 0 ? kProbedPageSize : pageSize;
}

void WalkPages(std::string_view bytes, int pageSize, CacheEntryTable& table, std::string* dumpText,
               const Report& report) {
  if (pageSize <= 0) return;
  DumpWriter dump(dumpText);
  const std::size_t step = static_cast<std::size_t>(pageSize);
  for (std::size_t page = step; page < bytes.size(); page += step) {
    std::optional<std::int16_t> n = ReadLe16(bytes, page);
    if (!n) {
      report(kCountUnreadable);
      continue;
    }
    if (*n < kMinEntries || *n > kMaxEntries) continue;
    const std::size_t pairs = static_cast<std::size_t>(*n / 2);
    const std::string_view offsets = bytes.substr(page + 2);  // n was read, so it is there
    if (offsets.size() < 4 * pairs) {
      report(kTableUnreadable);
      continue;
    }
    for (std::size_t i = 0; i < pairs; ++i) {
      std::optional<std::int16_t> keyOffset = ReadLe16(offsets, 4 * i);
      std::optional<std::int16_t> dataOffset = ReadLe16(offsets, 4 * i + 2);
      if (!keyOffset || !dataOffset) break;
      ReadPair(bytes, static_cast<std::int64_t>(page), *keyOffset, *dataOffset, table, dump,
               report);
    }
  }
}

}  // namespace

int ParseNetscapeIndex(std::string_view bytes, int pageSize, CacheEntryTable& table,
                       std::string* dump, const std::function<void(std::string_view)>& report) {
  std::optional<int> used = ProbePageSize(bytes, pageSize);
  if (!used) {
    report(kProbeUnreadable);
    return 0;
  }
  WalkPages(bytes, *used, table, dump, report);
  return *used;
}

int ReadNetscapeCache(const JobContext& ctx, Frontend& frontend, bool debugDump,
                      const std::string& indexFile, int pageSize, CacheEntryTable& table) {
  std::optional<std::string> bytes = platform::ReadFile(indexFile);
  if (!bytes) {
    frontend.ShowMessage(platform::Tr(kCacheInUse));
    return 0;
  }
  AppendExecLog(ctx, kStartLine);
  const Report report = [&ctx](std::string_view text) { LogReaderMessage(ctx, text); };
  // The dump is created only once the file has proved readable, so a failed probe leaves the
  // last fat.txt as it was.
  std::optional<int> used = ProbePageSize(*bytes, pageSize);
  if (!used) {
    report(kProbeUnreadable);
    return 0;
  }
  platform::TextWriter dumpFile;
  if (debugDump &&
      !dumpFile.Open(ctx.StartFile(kDebugDumpName), platform::TextWriter::Mode::Truncate)) {
    frontend.ShowMessage(platform::Tr(kDumpNotCreated));
    return 0;
  }
  std::string dump;
  WalkPages(*bytes, *used, table, debugDump ? &dump : nullptr, report);
  if (debugDump) {
    dumpFile.Write(dump);
    dumpFile.Close();
  }
  return *used;
}

namespace {

// The page sizes of a Netscape index: the larger is read first.
constexpr int kLargePage = 16384;
constexpr int kSmallPage = 4096;

class NetscapeCache : public CacheLayout {
 public:
  explicit NetscapeCache(std::string_view indexName) : indexName_(indexName) {}

  std::string_view name() const override { return "Netscape"; }
  std::string_view marker() const override { return indexName_; }

  bool ReadEntries(const JobContext& ctx, Frontend& frontend, const std::string& cacheDir,
                   CacheEntryTable& table) const override {
    return ReadIndexCopy(frontend, cacheDir, indexName_, "tmp.db", [&](const std::string& copy) {
      // The probe of the reader sees a 4,096-byte file only when its first bucket holds
      // entries; too few rows for the files of the cache say the pages were smaller.
      if (ReadNetscapeCache(ctx, frontend, ctx.execLog, copy, kLargePage, table) == kLargePage &&
          platform::CountFiles(cacheDir) > 2 * table.count()) {
        table.Reset();
        ReadNetscapeCache(ctx, frontend, ctx.execLog, copy, kSmallPage, table);
      }
    });
  }

 private:
  std::string_view indexName_;
};

}  // namespace

std::unique_ptr<CacheLayout> NetscapeLayout(std::string_view indexName) {
  return std::make_unique<NetscapeCache>(indexName);
}

}  // namespace lumbra
