#include "cache/chromium_simple.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include <zlib.h>

#include "cache/cache_index.h"
#include "cache/chromium_response.h"
#include "cache/key_digest.h"
#include "core/document.h"
#include "core/exec_log.h"
#include "core/setting_line.h"
#include "platform/fs.h"
#include "platform/language.h"
#include "platform/work_threads.h"

namespace lumbra {
namespace {

constexpr std::uint64_t kInitialMagic = 0xfcfb6d1ba7725c30;
constexpr std::uint64_t kFinalMagic = 0xf4fa6f45970d41d8;
// The only version of entry files Chromium has written for years; another may lay its streams
// out otherwise.
constexpr std::uint32_t kVersion = 5;
constexpr std::uint64_t kHeaderSize = 24;
constexpr std::uint64_t kEndSize = 24;
constexpr std::uint64_t kKeyShaSize = 32;
constexpr std::uint32_t kHasCrc = 1u << 0;
constexpr std::uint32_t kHasKeySha = 1u << 1;
// A key is a URL (Chromium takes none beyond 2 MiB) and its isolation prefix; a response head
// is its headers and certificates. Anything larger is no entry of a browser.
constexpr std::uint64_t kKeyMax = std::uint64_t{4} << 20;
constexpr std::uint64_t kHeadMax = std::uint64_t{16} << 20;
// The response head's flag of a transfer that stopped before the body's end.
constexpr std::uint32_t kResponseTruncated = 1u << 12;
constexpr std::size_t kChunk = 64 * 1024;
// Entry files looked at for the magic when the directory has no index that tells.
constexpr int kProbedEntriesMax = 4;

constexpr std::string_view kShort =
    "エントリファイルが短すぎるため読みません（書きかけか壊れています）";
constexpr std::string_view kBadMagic =
    "エントリファイルの先頭が Simple Cache のものでないため読みません";
constexpr std::string_view kKeyTooLong = "キーが長すぎるため読みません";
constexpr std::string_view kKeyOutside = "キーの長さがファイルに収まらないため読みません";
constexpr std::string_view kKeyHash = "キーのハッシュ値が合わないため読みません";
constexpr std::string_view kName = "ファイル名がキーと合わないため読みません";
constexpr std::string_view kNoEnd = "末尾の記録がないため読みません（書きかけか壊れています）";
constexpr std::string_view kEndFlags = "末尾の記録に知らないフラグがあるため読みません";
constexpr std::string_view kHeadOutside = "応答ヘッダの長さがファイルに収まらないため読みません";
constexpr std::string_view kHeadCrc = "応答ヘッダの CRC32 が合わないため読みません";
constexpr std::string_view kKeySha = "キーの SHA-256 が合わないため読みません";
constexpr std::string_view kNoBodyEnd =
    "本文の終わりの記録がないため読みません（書きかけか壊れています）";
constexpr std::string_view kBodyCrc =
    "本文の CRC32 が合わないため読みません（書きかけか壊れています）";
constexpr std::string_view kHead = "応答ヘッダを読めないため読みません";
constexpr std::string_view kCutOff = "転送が途中で止まり本文が切れているため読みません";
constexpr std::string_view kLength =
    "本文の長さが Content-Length と合わないため読みません（本文が切れています）";
constexpr std::string_view kUnread =
    "エントリファイルを最後まで読めないため読みません（書き換え中か壊れています）";
constexpr std::string_view kTooLarge = "エントリファイルが 2 GiB を超えるため読みません";
constexpr std::string_view kVanished = "エントリファイルが読む前に消えたため読みません";
constexpr std::string_view kNoRoom = "本文を一時ファイルに書けないため読みません";

// The files of an entry beside its `_0` that are not read, and the note each gets.
struct SideFile {
  std::string_view suffix;
  std::string_view note;
};
constexpr std::array<SideFile, 2> kSideFiles = {{
    {"_1", "別ファイル _1 のストリームは読みません（_0 は読みます）"},
    {"_s", "別ファイル _s の部分データは読みません（_0 は読みます）"},
}};

std::uint32_t Le32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint64_t Le64(std::string_view bytes, std::size_t at) {
  return Le32(bytes, at) | std::uint64_t{Le32(bytes, at + 4)} << 32;
}

std::uint32_t Crc32(std::uint32_t crc, std::string_view data) {
  return static_cast<std::uint32_t>(
      crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Where the bytes of one entry file come from: the file held in memory, or its open descriptor.
class EntrySource {
 public:
  virtual ~EntrySource() = default;
  virtual std::uint64_t size() const = 0;
  // Points `out` at the `count` bytes from `offset`: into the source's own bytes, or into
  // `scratch`, read there (valid while `scratch` is left alone). False when not all of them
  // can be read.
  virtual bool ReadAt(std::uint64_t offset, std::size_t count, std::string& scratch,
                      std::string_view& out) = 0;
};

class MemorySource : public EntrySource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::size_t count, std::string& /*scratch*/,
              std::string_view& out) override {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    out = bytes_.substr(offset, count);
    return true;
  }

 private:
  std::string_view bytes_;
};

// An open entry file, its size taken when it was opened: a file that shrinks while it is read
// fails the read, one that grows is read as it was. A file of up to kReadWholeMax bytes (almost
// every entry) is read with one call and its parts are taken from memory; a larger one, or one
// that could not be read whole, is read part by part.
class FileSource : public EntrySource {
 public:
  explicit FileSource(platform::ReadableFile& file) : file_(file) {
    whole_ = size() <= kReadWholeMax && file_.ReadExactlyAt(0, size(), bytes_);
  }
  std::uint64_t size() const override { return file_.status().size; }
  bool ReadAt(std::uint64_t offset, std::size_t count, std::string& scratch,
              std::string_view& out) override {
    if (whole_) return MemorySource(bytes_).ReadAt(offset, count, scratch, out);
    if (!file_.ReadExactlyAt(offset, count, scratch)) return false;
    out = scratch;
    return true;
  }

 private:
  static constexpr std::uint64_t kReadWholeMax = 64 * 1024;
  platform::ReadableFile& file_;
  std::string bytes_;
  bool whole_ = false;
};

struct EndRecord {
  std::uint64_t magic = 0;
  std::uint32_t flags = 0;
  std::uint32_t crc = 0;
  std::uint32_t streamSize = 0;
};

std::optional<EndRecord> ReadEndRecord(EntrySource& source, std::uint64_t offset) {
  std::string scratch;
  std::string_view bytes;
  if (!source.ReadAt(offset, kEndSize, scratch, bytes)) return std::nullopt;
  return EndRecord{Le64(bytes, 0), Le32(bytes, 8), Le32(bytes, 12), Le32(bytes, 16)};
}

bool Fail(std::string& why, std::string_view text) {
  why = std::string(text);
  return false;
}

// The body's checksum as its end record keeps it.
struct BodyCheck {
  bool crcKept = false;
  std::uint32_t crc = 0;
};

// Reads and checks everything of an entry file but the body's bytes: the header, the key (and,
// when `expectedName` is not empty, that it is the key of a file of that name), the records
// from the end, the response head, and for a document that its body is whole.
bool ReadFrame(EntrySource& source, std::string_view expectedName, ChromiumSimpleEntry& entry,
               BodyCheck& check, std::string& why) {
  const std::uint64_t size = source.size();
  if (size < kHeaderSize + 2 * kEndSize) return Fail(why, kShort);
  // Each part read has a scratch string of its own, so that the views of the parts read before
  // stay valid.
  std::string headerScratch;
  std::string_view header;
  if (!source.ReadAt(0, kHeaderSize, headerScratch, header)) return Fail(why, kUnread);
  if (Le64(header, 0) != kInitialMagic) return Fail(why, kBadMagic);
  if (const std::uint32_t version = Le32(header, 8); version != kVersion) {
    why = "知らない版 (" + std::to_string(version) + ") のエントリファイルのため読みません";
    return false;
  }
  const std::uint64_t keyLength = Le32(header, 12);
  if (keyLength > kKeyMax) return Fail(why, kKeyTooLong);
  if (keyLength > size - kHeaderSize - 2 * kEndSize) return Fail(why, kKeyOutside);
  std::string keyScratch;
  std::string_view key;
  if (!source.ReadAt(kHeaderSize, keyLength, keyScratch, key)) return Fail(why, kUnread);
  entry.key.assign(key);
  if (ChromiumHash(entry.key) != Le32(header, 16)) return Fail(why, kKeyHash);
  if (!expectedName.empty() && ChromiumSimpleFileName(entry.key) != expectedName) {
    return Fail(why, kName);
  }

  // From the end: the record of stream 0 gives its size.
  const std::optional<EndRecord> last = ReadEndRecord(source, size - kEndSize);
  if (!last) return Fail(why, kUnread);
  if (last->magic != kFinalMagic) return Fail(why, kNoEnd);
  if ((last->flags & ~(kHasCrc | kHasKeySha)) != 0) return Fail(why, kEndFlags);
  const std::uint64_t shaSize = (last->flags & kHasKeySha) != 0 ? kKeyShaSize : 0;
  const std::uint64_t afterKey = kHeaderSize + keyLength;
  // Between the key and the last record lie the body's record, stream 0 and the key's SHA-256.
  const std::uint64_t room = size - kEndSize - afterKey;
  if (last->streamSize > kHeadMax || last->streamSize + shaSize + kEndSize > room) {
    return Fail(why, kHeadOutside);
  }
  const std::uint64_t headOffset = size - kEndSize - shaSize - last->streamSize;
  std::string headScratch;
  std::string_view head;
  if (!source.ReadAt(headOffset, last->streamSize, headScratch, head)) return Fail(why, kUnread);
  if ((last->flags & kHasCrc) != 0 && Crc32(0, head) != last->crc) return Fail(why, kHeadCrc);
  if (shaSize != 0) {
    std::string shaScratch;
    std::string_view sha;
    if (!source.ReadAt(headOffset + last->streamSize, kKeyShaSize, shaScratch, sha)) {
      return Fail(why, kUnread);
    }
    if (sha != DigestOf(KeyDigest::Sha256, entry.key)) return Fail(why, kKeySha);
  }

  // The body's record; its stream size is not kept (the body is what lies before it).
  const std::uint64_t bodyEnd = headOffset - kEndSize;
  const std::optional<EndRecord> body = ReadEndRecord(source, bodyEnd);
  if (!body) return Fail(why, kUnread);
  if (body->magic != kFinalMagic) return Fail(why, kNoBodyEnd);
  if ((body->flags & ~kHasCrc) != 0) return Fail(why, kEndFlags);
  entry.bodyOffset = afterKey;
  entry.bodySize = bodyEnd - afterKey;
  check.crcKept = (body->flags & kHasCrc) != 0;
  check.crc = body->crc;

  if (!ReadChromiumResponseInfo(head, entry.response)) return Fail(why, kHead);
  entry.response.url = std::string(UrlOfChromiumKey(entry.key));
  if (IsDocumentStatus(entry.response.status)) {
    // The pickle's first field, after its size, is the flags word (ReadChromiumResponseInfo
    // has read it).
    if ((Le32(head, 4) & kResponseTruncated) != 0) return Fail(why, kCutOff);
    const std::int64_t length = entry.response.contentLength;
    if (length >= 0 && static_cast<std::uint64_t>(length) != entry.bodySize) {
      return Fail(why, kLength);
    }
  }
  return true;
}

// Reads the body of `entry` in pieces, checks its CRC32 where kept, and hands it to `sink`
// when there is one.
bool ReadBody(EntrySource& source, const ChromiumSimpleEntry& entry, const BodyCheck& check,
              SpooledDocument* sink, std::string& why) {
  if (sink == nullptr && !check.crcKept) return true;
  std::uint32_t crc = Crc32(0, {});
  std::string scratch;
  std::string_view chunk;
  for (std::uint64_t done = 0; done < entry.bodySize;) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, entry.bodySize - done));
    if (!source.ReadAt(entry.bodyOffset + done, count, scratch, chunk)) return Fail(why, kUnread);
    crc = Crc32(crc, chunk);
    if (sink != nullptr && !sink->Append(chunk)) return Fail(why, kNoRoom);
    done += count;
  }
  if (check.crcKept && crc != check.crc) return Fail(why, kBodyCrc);
  return true;
}

// Which bodies ReadEntry hands to its sink.
enum class Bodies { Every, ReadWithTable };

bool ReadEntry(EntrySource& source, std::string_view expectedName, ChromiumSimpleEntry& entry,
               SpooledDocument* body, std::string& why, Bodies bodies = Bodies::Every) {
  BodyCheck check;
  if (!ReadFrame(source, expectedName, entry, check, why)) return false;
  if (bodies == Bodies::ReadWithTable && !BodyReadWithTable(entry.response)) body = nullptr;
  return ReadBody(source, entry, check, body, why);
}

// Reads the entry file `name` of the cache below `files` from one descriptor: None with the
// entry (and its body into `body` when given and `bodies` takes it), or why not with `why`
// set.
platform::OpenError ReadEntryFile(platform::FilesBelow& files, std::string_view name,
                                  ChromiumSimpleEntry& entry, SpooledDocument* body,
                                  std::string& why, Bodies bodies = Bodies::Every) {
  platform::ReadableFile file;
  const platform::OpenError opened = files.Open(name, file);
  if (opened != platform::OpenError::None) {
    why = opened == platform::OpenError::Missing ? std::string(kVanished)
                                                 : std::string(RefusalText(opened));
    return opened;
  }
  if (file.status().size > kChromiumSimpleFileMax) {
    why = std::string(kTooLarge);
    return platform::OpenError::Unreadable;
  }
  FileSource source(file);
  if (!ReadEntry(source, name, entry, body, why, bodies)) return platform::OpenError::Unreadable;
  return platform::OpenError::None;
}

// Whether the file at `path` begins with the Simple Cache magic.
bool BeginsWithMagic(const std::string& path, platform::FollowLinks follow) {
  platform::ReadableFile file;
  if (file.Open(path, follow) != platform::OpenError::None) return false;
  std::array<char, 8> magic{};
  return file.ReadAt(magic.data(), magic.size(), 0) == static_cast<long>(magic.size()) &&
         Le64(std::string_view(magic.data(), magic.size()), 0) == kInitialMagic;
}

// Whether `cacheDir` is a Simple Cache: its index says so when it can be read (8 bytes at
// least), otherwise one of its first entry files does.
bool ShowsSimpleCache(const std::string& cacheDir, std::string_view marker,
                      platform::FollowLinks follow) {
  platform::ReadableFile index;
  if (index.Open(cacheDir + std::string(marker), follow) == platform::OpenError::None) {
    std::array<char, 8> magic{};
    if (index.ReadAt(magic.data(), magic.size(), 0) == static_cast<long>(magic.size())) {
      return Le64(std::string_view(magic.data(), magic.size()), 0) == kInitialMagic;
    }
  }
  const std::optional<std::vector<std::string>> names = platform::ListDirectory(cacheDir);
  if (!names) return false;
  int probed = 0;
  for (const std::string& name : *names) {
    if (!IsChromiumSimpleFileName(name)) continue;
    if (BeginsWithMagic(cacheDir + "/" + name, follow)) return true;
    if (++probed == kProbedEntriesMax) break;
  }
  return false;
}

// The entries of one cache, read again one by one for their documents.
class SimpleEntries : public StoredEntries {
 public:
  explicit SimpleEntries(const std::string& cacheDir) : files_(cacheDir) {}

  platform::OpenError Read(std::string_view locator, StoredResponse& response,
                           SpooledDocument& body, std::string& why) override {
    if (!IsChromiumSimpleFileName(locator)) {
      why = std::string(RefusalText(platform::OpenError::OutsideRoot));
      return platform::OpenError::OutsideRoot;
    }
    ChromiumSimpleEntry entry;
    const platform::OpenError read = ReadEntryFile(files_, locator, entry, &body, why);
    if (read == platform::OpenError::None) response = std::move(entry.response);
    return read;
  }

 private:
  platform::FilesBelow files_;
};

class ChromiumSimpleCache : public CacheLayout {
 public:
  std::string_view name() const override { return "Chromium Simple Cache"; }
  std::string_view marker() const override { return "/index"; }

  bool Holds(const std::string& cacheDir) const override {
    return ShowsSimpleCache(cacheDir, marker(), platform::FollowLinks::No);
  }
  bool Marks(const std::string& cacheDir) const override {
    return ShowsSimpleCache(cacheDir, marker(), platform::FollowLinks::Yes);
  }

  bool ReadEntries(const JobContext& ctx, Frontend& frontend, const std::string& cacheDir,
                   CacheEntryTable& table) const override {
    std::optional<std::vector<std::string>> listed = platform::ListDirectory(cacheDir);
    if (!listed) {
      const int error = errno;
      frontend.ShowMessage(platform::Tr("キャッシュディレクトリの中を読めません") +
                           SettingLine("CACHE_DIR", cacheDir, error));
      return false;
    }
    AppendExecLog(ctx, std::string(name()) + "  Cache ファイル名　読み出し開始\n");
    std::vector<std::string> names = std::move(*listed);
    std::sort(names.begin(), names.end());
    std::vector<const std::string*> files;
    for (const std::string& file : names) {
      if (IsChromiumSimpleFileName(file)) files.push_back(&file);
    }
    // The entry files are read on work threads, several at once, and taken in name order.
    struct Read {
      ChromiumSimpleEntry entry;
      std::string why;
      platform::OpenError error = platform::OpenError::None;
      bool readWhole = false;
      std::array<bool, kSideFiles.size()> sides{};  // which side files lie beside it
    };
    std::vector<Read> slots(platform::kWorkAhead);
    const std::size_t threads = platform::WorkThreads::ForProcessors();
    std::deque<platform::FilesBelow> below;  // each thread's
    for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
      below.emplace_back(cacheDir);
    }
    StoredResponses responses(ctx, name());
    platform::WorkInOrder(
        files.size(), threads,
        [&](std::size_t i, std::size_t thread) {
          Read& read = slots[i % platform::kWorkAhead];
          read = Read{};
          SpooledDocument body;
          read.error = ReadEntryFile(below[thread], *files[i], read.entry, &body, read.why,
                                     Bodies::ReadWithTable);
          read.readWhole =
              read.error == platform::OpenError::None && ReadWithTable(read.entry.response, body);
          const std::string& file = *files[i];
          const std::string hash = file.substr(0, file.size() - 2);
          for (std::size_t side = 0; side < kSideFiles.size(); ++side) {
            read.sides[side] = std::binary_search(names.begin(), names.end(),
                                                  hash + std::string(kSideFiles[side].suffix));
          }
        },
        [&](std::size_t i) {
          const std::string& file = *files[i];
          Read& read = slots[i % platform::kWorkAhead];
          for (std::size_t side = 0; side < kSideFiles.size(); ++side) {
            if (read.sides[side]) responses.Note(file, kSideFiles[side].note);
          }
          if (IsRefusedCacheFile(read.error)) {
            responses.RefuseFile(file, read.why);
          } else if (read.error != platform::OpenError::None) {
            responses.Refuse(file, read.why);
          } else {
            responses.Add(std::move(read.entry.response), file, read.readWhole);
          }
        });
    responses.AppendTo(table);
    return true;
  }

  std::unique_ptr<CachedDocuments> Documents(const std::string& cacheDir) const override {
    return StoredDocuments(cacheDir, std::make_unique<SimpleEntries>(cacheDir));
  }
};

}  // namespace

bool ParseChromiumSimpleEntry(std::string_view bytes, ChromiumSimpleEntry& entry,
                              std::string& why) {
  if (bytes.size() > kChromiumSimpleFileMax) return Fail(why, kTooLarge);
  MemorySource source(bytes);
  return ReadEntry(source, {}, entry, nullptr, why);
}

std::string ChromiumSimpleFileName(std::string_view key) {
  const std::string sha1 = DigestOf(KeyDigest::Sha1, key);
  std::uint64_t hash = 0;
  if (sha1.size() >= 8) hash = Le64(sha1, 0);
  std::array<char, 17> hex{};
  std::snprintf(hex.data(), hex.size(), "%016llx", static_cast<unsigned long long>(hash));
  return std::string(hex.data(), 16) + "_0";
}

bool IsChromiumSimpleFileName(std::string_view name) {
  if (name.size() != 18 || !name.ends_with("_0")) return false;
  return std::all_of(name.begin(), name.end() - 2,
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::unique_ptr<CacheLayout> ChromiumSimpleLayout() {
  return std::make_unique<ChromiumSimpleCache>();
}

}  // namespace lumbra
