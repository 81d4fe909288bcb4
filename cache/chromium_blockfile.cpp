#include "cache/chromium_blockfile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "cache/cache_index.h"
#include "cache/cache_table.h"
#include "cache/chromium_response.h"

namespace lumbra {
namespace {

constexpr std::uint32_t kIndexMagic = 0xC103CAC3;
constexpr std::uint32_t kBlockMagic = 0xC104CAC3;
constexpr std::uint64_t kIndexHeaderSize = 368;
constexpr std::uint32_t kDefaultTableLength = 0x10000;
// Chromium makes tables of 64K to 1M buckets.
constexpr std::uint32_t kMaxTableLength = 1u << 20;
constexpr std::uint64_t kBlockHeaderSize = 8192;
constexpr std::size_t kBitmapOffset = 80;
constexpr std::int64_t kMaxBlocks = (kBlockHeaderSize - kBitmapOffset) * 8;
constexpr std::int32_t kMaxBlockData = 4 * 4096;  // larger data lies in an external file
constexpr std::size_t kEntryBlock = 256;
constexpr std::size_t kKeyOffset = 96;
constexpr std::int32_t kMaxInlineKey = 4 * kEntryBlock - kKeyOffset - 1;
// Longer keys than a URL can make are not taken.
constexpr std::int32_t kMaxKeyLength = 4 << 20;
// A response head longer than this is no response head.
constexpr std::int32_t kMaxHeadLength = 1 << 20;
constexpr std::size_t kRankingsSize = 36;
// No cache holds more entries than this; a walk that finds more is led astray.
constexpr std::size_t kMaxEntriesWalked = 1 << 20;
constexpr std::size_t kBodyChunk = 1 << 20;

// The version 3.0 of the index keeps a hash of each rankings node; 2.x a pointer instead.
constexpr std::uint32_t kHashedRankingsMajor = 3;
// EntryStore flags: a range-stored entry keeps its data in child entries.
constexpr std::uint32_t kParentEntry = 1;
constexpr std::uint32_t kChildEntry = 2;
// The response head's flag of a body the browser stopped receiving.
constexpr std::uint32_t kResponseTruncated = 1u << 12;

constexpr std::string_view kIndexName = "index";

std::uint32_t U32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}
std::int32_t I32(std::string_view bytes, std::size_t at) {
  return static_cast<std::int32_t>(U32(bytes, at));
}
std::uint32_t U16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

// Whether a record's own hash (kept in the 4 bytes at `at`, over the bytes before them) holds;
// 0 means none was kept.
bool OwnHashHolds(std::string_view record, std::size_t at) {
  const std::uint32_t kept = U32(record, at);
  return kept == 0 || kept == ChromiumHash(record.substr(0, at));
}

// Block files of versions 2.0 and 3.0 have been written.
bool KnownBlockVersion(std::uint32_t version) { return version >> 16 == 2 || version >> 16 == 3; }

enum FileType : int { kExternal = 0, kRankings = 1, kBlock256 = 2, kBlock1K = 3, kBlock4K = 4 };

std::uint64_t BlockSizeOf(int type) {
  switch (type) {
    case kRankings:
      return kRankingsSize;
    case kBlock256:
      return kEntryBlock;
    case kBlock1K:
      return 1024;
    case kBlock4K:
      return 4096;
    default:
      return 0;
  }
}

struct Addr {
  std::uint32_t value = 0;

  bool used() const { return (value & 0x80000000u) != 0; }
  int type() const { return static_cast<int>((value >> 28) & 7); }
  bool external() const { return type() == kExternal; }
  int blocks() const { return static_cast<int>((value >> 24) & 3) + 1; }
  std::uint32_t fileNumber() const {
    return external() ? value & 0x0FFFFFFFu : (value >> 16) & 0xFFu;
  }
  std::uint32_t firstBlock() const { return value & 0xFFFFu; }
  bool reservedClear() const { return (value & 0x0C000000u) == 0; }
  // The file the address points into; empty for a type this reader does not know.
  std::string fileName() const {
    char name[32];
    if (external()) {
      std::snprintf(name, sizeof name, "f_%06x", static_cast<unsigned>(fileNumber()));
    } else if (BlockSizeOf(type()) != 0) {
      std::snprintf(name, sizeof name, "data_%u", static_cast<unsigned>(fileNumber()));
    } else {
      return {};
    }
    return name;
  }
};

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

// How a refusal names an entry: its file and address.
std::string AddressName(Addr address) { return address.fileName() + "#" + Hex8(address.value); }

std::string LocatorOf(Addr address, std::uint32_t keyHash) {
  return AddressName(address) + "#" + Hex8(keyHash);
}

bool ParseHex8(std::string_view text, std::uint32_t& value) {
  if (text.size() != 8) return false;
  value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// The files of the cache, on disk or in memory.

class CacheFile {
 public:
  virtual ~CacheFile() = default;
  virtual std::uint64_t size() const = 0;
  // Exactly `length` bytes from `offset` on into `out`; false when the file has fewer or
  // cannot be read.
  virtual bool ReadAt(std::uint64_t offset, std::size_t length, std::string& out) = 0;
};

class CacheFiles {
 public:
  virtual ~CacheFiles() = default;
  // The file `name` of the cache; null, with the reason in `error`, when it cannot be opened.
  virtual std::shared_ptr<CacheFile> Open(const std::string& name, platform::OpenError& error) = 0;
};

class DiskFile : public CacheFile {
 public:
  platform::ReadableFile& file() { return file_; }
  std::uint64_t size() const override { return file_.status().size; }
  bool ReadAt(std::uint64_t offset, std::size_t length, std::string& out) override {
    return file_.ReadExactlyAt(offset, length, out);
  }

 private:
  platform::ReadableFile file_;
};

// The files below the cache directory, each a regular file reached through no link. The
// index and the block files stay open while the object lives; external files only while an
// entry holds them, as a cache may have thousands.
class DiskFiles : public CacheFiles {
 public:
  explicit DiskFiles(std::string cacheDir) : below_(std::move(cacheDir)) {}

  std::shared_ptr<CacheFile> Open(const std::string& name, platform::OpenError& error) override {
    const bool keep = name == kIndexName || name.starts_with("data_");
    if (keep) {
      if (auto kept = kept_.find(name); kept != kept_.end()) return kept->second;
    }
    auto file = std::make_shared<DiskFile>();
    error = below_.Open(name, file->file());
    if (error != platform::OpenError::None) return nullptr;
    if (keep) kept_.emplace(name, file);
    return file;
  }

 private:
  platform::FilesBelow below_;
  std::map<std::string, std::shared_ptr<CacheFile>> kept_;
};

class MemoryFile : public CacheFile {
 public:
  explicit MemoryFile(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::size_t length, std::string& out) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    out.assign(bytes_.substr(static_cast<std::size_t>(offset), length));
    return true;
  }

 private:
  std::string_view bytes_;
};

class MemoryFiles : public CacheFiles {
 public:
  explicit MemoryFiles(const BlockfileFiles& files) : files_(files) {}
  std::shared_ptr<CacheFile> Open(const std::string& name, platform::OpenError& error) override {
    auto found = files_.find(name);
    if (found == files_.end()) {
      error = platform::OpenError::Missing;
      return nullptr;
    }
    error = platform::OpenError::None;
    return std::make_shared<MemoryFile>(found->second);
  }

 private:
  const BlockfileFiles& files_;
};

// ---------------------------------------------------------------------------------------------
// The reader.

std::string CannotOpen(const std::string& name, platform::OpenError error) {
  if (error == platform::OpenError::Missing)
    return platform::Fill("%1 がないため読みません", {name});
  return std::string(RefusalText(error)) + " (" + name + ")";
}

constexpr std::string_view kDamaged = "エントリが壊れているため読みません";
constexpr std::string_view kBadAddress = "番地が正しくないため読みません";
constexpr std::string_view kChanged = "読んでいる間にエントリが変わったため読みません";

struct Index {
  std::shared_ptr<CacheFile> file;
  std::uint32_t version = 0;
  std::uint32_t tableLength = 0;
  bool open = false;  // a browser has the cache open, or crashed
};

// Where a stream lies: `length` bytes of `file` from `offset` on.
struct Place {
  std::shared_ptr<CacheFile> file;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct Entry {
  Addr address;
  std::string store;     // the EntryStore blocks as read
  std::string rankings;  // the rankings node as read
  std::uint32_t hash = 0;
  Addr next;
  std::string key;
  std::array<std::int32_t, 4> sizes{};
  std::array<Addr, 4> streams{};
  Place body;
  StoredResponse response;
};

enum class Verdict { Read, Refused, Passed };

class Reader {
 public:
  explicit Reader(CacheFiles& files) : files_(files) {}

  // Opens the index and checks its header: false with `why` (and `error` when the index
  // could not be opened) otherwise.
  bool OpenIndex(Index& index, platform::Said& why, platform::OpenError& error) {
    index.file = files_.Open(std::string(kIndexName), error);
    if (!index.file) {
      if (error == platform::OpenError::Missing) {
        why = platform::Say("%1 がないため読みません", {kIndexName});
      } else {
        why = {CannotOpen(std::string(kIndexName), error),
               platform::Fill("%1 (%2)", {platform::Tr(RefusalText(error)), kIndexName})};
      }
      return false;
    }
    std::string header;
    if (!index.file->ReadAt(0, kIndexHeaderSize, header) || U32(header, 0) != kIndexMagic) {
      why = platform::Say("index が Chromium blockfile の索引でないため読みません");
      return false;
    }
    index.version = U32(header, 4);
    const std::uint32_t major = index.version >> 16;
    if (major != 2 && major != 3) {
      why = platform::Say("index の版 0x%1 を知らないため読みません", {Hex8(index.version)});
      return false;
    }
    std::uint32_t length = U32(header, 28);
    if (length == 0) length = kDefaultTableLength;
    if ((length & (length - 1)) != 0 || length > kMaxTableLength ||
        index.file->size() < kIndexHeaderSize + 4ull * length) {
      why = platform::Say("index の表の長さ 0x%1 が正しくないため読みません",
                          {Hex8(U32(header, 28))});
      return false;
    }
    index.tableLength = length;
    index.open = I32(header, 32) != 0;
    hashedRankings_ = major >= kHashedRankingsMajor;
    return true;
  }

  // Reads the EntryStore at `address` and checks what makes its fields trustworthy: the
  // address, the blocks in use, its own hash.
  bool ReadEntryStore(Addr address, Entry& entry, std::string& why) {
    entry.address = address;
    if (!address.used() || address.type() != kBlock256) {
      why = kBadAddress;
      return false;
    }
    if (!ReadBlocks(address, entry.store, why)) return false;
    if (!OwnHashHolds(entry.store, 92)) {
      why = kDamaged;
      return false;
    }
    entry.hash = U32(entry.store, 0);
    entry.next.value = U32(entry.store, 4);
    for (std::size_t i = 0; i < 4; ++i) {
      entry.sizes[i] = I32(entry.store, 40 + 4 * i);
      entry.streams[i].value = U32(entry.store, 56 + 4 * i);
    }
    return true;
  }

  // Checks an entry read by ReadEntryStore and reads its rankings node, key and response
  // head; the body is located, not read.
  // Why the last external file that could not be opened was refused.
  platform::OpenError externalError() const { return externalError_; }

  Verdict CheckEntry(Entry& entry, std::string& why) {
    externalError_ = platform::OpenError::None;
    const std::string_view store = entry.store;
    if (I32(store, 20) != 0) {
      why = "削除されたエントリのため読みません";
      return Verdict::Refused;
    }
    if (!ReadRankings(entry, why)) return Verdict::Refused;
    const std::uint32_t flags = U32(store, 72);
    if ((flags & kChildEntry) != 0) {
      why = "範囲ごとに保存されたデータの一部のため読みません";
      return Verdict::Passed;
    }
    if ((flags & kParentEntry) != 0) {
      why = "範囲ごとに保存されたエントリのため読みません";
      return Verdict::Refused;
    }
    if (!ReadKey(entry, why)) return Verdict::Refused;
    if (ChromiumHash(entry.key) != entry.hash) {
      why = "キーのハッシュが合わないため読みません";
      return Verdict::Refused;
    }
    Place head;
    std::string pickle;
    if (!Locate(entry, 0, head, why)) return Verdict::Refused;
    if (head.length > static_cast<std::uint64_t>(kMaxHeadLength) ||
        !head.file->ReadAt(head.offset, static_cast<std::size_t>(head.length), pickle) ||
        !ReadChromiumResponseInfo(pickle, entry.response)) {
      why = "応答ヘッダを読めないため読みません";
      return Verdict::Refused;
    }
    if (!Locate(entry, 1, entry.body, why)) return Verdict::Refused;
    entry.response.url = std::string(UrlOfChromiumKey(entry.key));
    // Only a document's body is taken; the body of a redirect or an error page may well be
    // left unstored.
    if (IsDocumentStatus(entry.response.status)) {
      if ((U32(pickle, 4) & kResponseTruncated) != 0) {
        why = "ブラウザが受信を途中でやめた本体のため読みません";
        return Verdict::Refused;
      }
      const std::int64_t stored = entry.sizes[1];
      if (entry.response.contentLength >= 0 && entry.response.contentLength != stored) {
        why = "Content-Length (" + std::to_string(entry.response.contentLength) +
              ") と保存された本体の長さ (" + std::to_string(stored) + ") が違うため読みません";
        return Verdict::Refused;
      }
    }
    return Verdict::Read;
  }

  // Reads the blocks of `address` (a block-file address) whole.
  bool ReadBlocks(Addr address, std::string& out, std::string& why) {
    Place place;
    if (!LocateBlocks(address, place, why)) return false;
    if (!place.file->ReadAt(place.offset, static_cast<std::size_t>(place.length), out)) {
      why = "ブロックファイル " + address.fileName() + " を読めないため読みません";
      return false;
    }
    return true;
  }

 private:
  struct BlockFile {
    std::shared_ptr<CacheFile> file;
    std::string header;
    std::string why;  // why the file cannot be used; empty when it can
  };

  // The block file `number`, its header read and checked once per reader.
  const BlockFile& BlockFileOf(std::uint32_t number, int type) {
    auto [at, fresh] = blockFiles_.try_emplace(number);
    BlockFile& block = at->second;
    if (!fresh) return block;
    const std::string name = "data_" + std::to_string(number);
    platform::OpenError error = platform::OpenError::None;
    block.file = files_.Open(name, error);
    if (!block.file) {
      block.why = CannotOpen(name, error);
    } else if (!block.file->ReadAt(0, kBlockHeaderSize, block.header) ||
               U32(block.header, 0) != kBlockMagic || !KnownBlockVersion(U32(block.header, 4)) ||
               U16(block.header, 8) != number) {
      block.why = name + " がブロックファイルでないため読みません";
    } else if (static_cast<std::uint64_t>(I32(block.header, 12)) != BlockSizeOf(type) ||
               I32(block.header, 20) < 0 || I32(block.header, 20) > kMaxBlocks) {
      block.why = name + " のブロックの大きさか数が番地と合わないため読みません";
    }
    return block;
  }

  // Where the blocks of a block-file address lie, checked against the header of their file:
  // the blocks exist, lie within the file and are in use.
  bool LocateBlocks(Addr address, Place& place, std::string& why) {
    const std::uint64_t blockSize = BlockSizeOf(address.type());
    if (!address.used() || address.external() || blockSize == 0 || !address.reservedClear()) {
      why = kBadAddress;
      return false;
    }
    const BlockFile& block = BlockFileOf(address.fileNumber(), address.type());
    if (!block.why.empty()) {
      why = block.why;
      return false;
    }
    const std::uint64_t first = address.firstBlock();
    const std::uint64_t count = static_cast<std::uint64_t>(address.blocks());
    if (first + count > static_cast<std::uint64_t>(I32(block.header, 20))) {
      why = "番地が " + address.fileName() + " の範囲外のため読みません";
      return false;
    }
    place.file = block.file;
    place.offset = kBlockHeaderSize + first * blockSize;
    place.length = count * blockSize;
    if (place.offset + place.length > block.file->size()) {
      why = address.fileName() + " が途中で切れているため読みません";
      return false;
    }
    for (std::uint64_t b = first; b < first + count; ++b) {
      const auto byte = static_cast<unsigned char>(block.header[kBitmapOffset + b / 8]);
      if ((byte >> (b % 8) & 1) == 0) {
        why = "番地が使われていないブロックを指しているため読みません";
        return false;
      }
    }
    return true;
  }

  // Where stream `index` of `entry` lies (length 0 and no file for an empty stream).
  bool Locate(const Entry& entry, std::size_t index, Place& place, std::string& why) {
    const std::int32_t size = entry.sizes[index];
    const Addr address = entry.streams[index];
    place = Place{};
    if (size < 0 || (size == 0) == address.used() ||
        (size > 0 && (size > kMaxBlockData) != address.external())) {
      why = "データの長さか番地が正しくないため読みません";
      return false;
    }
    if (size == 0) return true;
    if (address.type() == kRankings) {
      why = kBadAddress;
      return false;
    }
    if (!(address.external() ? OpenExternal(address, place, why)
                             : LocateBlocks(address, place, why))) {
      return false;
    }
    if (place.length < static_cast<std::uint64_t>(size)) {
      why = address.external() ? "本体が途中で切れているため読みません"
                               : "データの長さがブロックを超えているため読みません";
      return false;
    }
    place.length = static_cast<std::uint64_t>(size);
    return true;
  }

  bool OpenExternal(Addr address, Place& place, std::string& why) {
    const std::string name = address.fileName();
    platform::OpenError error = platform::OpenError::None;
    place.file = files_.Open(name, error);
    if (!place.file) {
      why = CannotOpen(name, error);
      externalError_ = error;
      return false;
    }
    place.offset = 0;
    place.length = place.file->size();
    return true;
  }

  bool ReadRankings(Entry& entry, std::string& why) {
    const Addr node{U32(entry.store, 8)};
    if (!node.used() || node.type() != kRankings || node.blocks() != 1) {
      why = kDamaged;
      return false;
    }
    if (!ReadBlocks(node, entry.rankings, why)) return false;
    const std::string_view rankings = entry.rankings;
    if (U32(rankings, 24) != entry.address.value ||
        (hashedRankings_ && !OwnHashHolds(rankings, 32))) {
      why = kDamaged;
      return false;
    }
    if (I32(rankings, 28) != 0 || (!hashedRankings_ && U32(rankings, 32) != 0)) {
      why = "ブラウザが使用中か、異常終了で書きかけのまま残ったエントリのため読みません";
      return false;
    }
    return true;
  }

  bool ReadKey(Entry& entry, std::string& why) {
    const std::int32_t length = I32(entry.store, 32);
    const Addr longKey{U32(entry.store, 36)};
    if (length <= 0 || length > kMaxKeyLength || (length > kMaxInlineKey) != longKey.used()) {
      why = "キーの長さが正しくないため読みません";
      return false;
    }
    if (!longKey.used()) {
      // The entry spans as many blocks as its key needs, and the key ends in NUL.
      const std::size_t inFirst = kEntryBlock - kKeyOffset;
      const auto needed = static_cast<std::size_t>(length) < inFirst
                              ? 1
                              : (static_cast<std::size_t>(length) - inFirst) / kEntryBlock + 2;
      if (static_cast<std::size_t>(entry.address.blocks()) != needed ||
          entry.store[kKeyOffset + static_cast<std::size_t>(length)] != '\0') {
        why = "キーの長さが正しくないため読みません";
        return false;
      }
      entry.key = entry.store.substr(kKeyOffset, static_cast<std::size_t>(length));
      return true;
    }
    // A long key is kept with its NUL: in blocks up to 16 KiB, else in a file of its own.
    if ((length >= kMaxBlockData) != longKey.external() || longKey.type() == kRankings) {
      why = kBadAddress;
      return false;
    }
    Place place;
    if (!(longKey.external() ? OpenExternal(longKey, place, why)
                             : LocateBlocks(longKey, place, why))) {
      return false;
    }
    if (place.length < static_cast<std::uint64_t>(length) + 1 ||
        !place.file->ReadAt(place.offset, static_cast<std::size_t>(length), entry.key)) {
      why = "キーが途中で切れているため読みません";
      return false;
    }
    return true;
  }

  CacheFiles& files_;
  std::map<std::uint32_t, BlockFile> blockFiles_;
  bool hashedRankings_ = true;
  platform::OpenError externalError_ = platform::OpenError::None;
};

// The offset of the first bucket of `table` at or after `from` (a multiple of 4) that holds an
// address; the table's size when none does. Most buckets are empty, and are passed over a page
// at a time.
std::size_t NextUsedSlot(std::string_view table, std::size_t from) {
  static constexpr char kEmpty[4096] = {};
  while (from < table.size()) {
    const std::size_t page = std::min(sizeof kEmpty, table.size() - from);
    if (std::memcmp(table.data() + from, kEmpty, page) != 0) {
      for (std::size_t at = from; at < from + page; at += 4) {
        if (U32(table, at) != 0) return at;
      }
    }
    from += page;
  }
  return table.size();
}

// The walk of every bucket of the index.
BlockfileListing ListCache(CacheFiles& files) {
  BlockfileListing listing;
  Reader reader(files);
  Index index;
  if (!reader.OpenIndex(index, listing.refusal, listing.indexError)) return listing;
  std::string table;
  if (!index.file->ReadAt(kIndexHeaderSize, 4ull * index.tableLength, table)) {
    listing.refusal = platform::Say("index が途中で切れているため読みません");
    return listing;
  }
  if (index.open) {
    listing.passed.push_back(
        {std::string(kIndexName),
         "ブラウザが使用中か異常終了したキャッシュです: 書きかけのエントリは読みません", false});
  }
  auto refuse = [&listing](Addr address, std::string why) {
    listing.passed.push_back({AddressName(address), std::move(why), true});
  };
  // Every address reached, so that a chain led back into itself (or into another bucket's)
  // ends there.
  std::unordered_set<std::uint32_t> reached;
  for (std::size_t at = NextUsedSlot(table, 0); at < table.size();
       at = NextUsedSlot(table, at + 4)) {
    const auto slot = static_cast<std::uint32_t>(at / 4);
    Addr address{U32(table, at)};
    while (address.value != 0) {
      if (!reached.insert(address.value).second) {
        refuse(address, "バケットの連鎖が同じエントリに戻るため、その先を読みません");
        break;
      }
      if (reached.size() > kMaxEntriesWalked) {
        refuse(address, "エントリが多すぎるため、ここから先を読みません");
        return listing;
      }
      Entry entry;
      std::string why;
      if (!reader.ReadEntryStore(address, entry, why)) {
        refuse(address, why + " (バケットの連鎖の先も読みません)");
        break;
      }
      if ((entry.hash & (index.tableLength - 1)) != slot) {
        refuse(address, "キーのハッシュがバケットと合わないため読みません");
      } else {
        switch (reader.CheckEntry(entry, why)) {
          case Verdict::Read:
            listing.entries.push_back(
                {std::move(entry.response), LocatorOf(entry.address, entry.hash)});
            break;
          case Verdict::Refused:
            listing.passed.push_back({AddressName(address), std::move(why), true,
                                      IsRefusedCacheFile(reader.externalError())});
            break;
          case Verdict::Passed:
            listing.passed.push_back({AddressName(address), why, false});
            break;
        }
      }
      address = entry.next;
    }
  }
  return listing;
}

// Whether the entry at `target` is still linked in the bucket of `keyHash`.
bool StillLinked(Reader& reader, const Index& index, Addr target, std::uint32_t keyHash) {
  const std::uint32_t slot = keyHash & (index.tableLength - 1);
  std::string head;
  if (!index.file->ReadAt(kIndexHeaderSize + 4ull * slot, 4, head)) return false;
  std::unordered_set<std::uint32_t> reached;
  Addr address{U32(head, 0)};
  while (address.value != 0 && reached.insert(address.value).second &&
         reached.size() <= kMaxEntriesWalked) {
    if (address.value == target.value) return true;
    Entry entry;
    std::string why;
    if (!reader.ReadEntryStore(address, entry, why)) return false;
    address = entry.next;
  }
  return false;
}

platform::OpenError ReadEntry(CacheFiles& files, std::string_view locator, StoredResponse& response,
                              SpooledDocument& body, std::string& why) {
  // "data_<n>#<address>#<key hash>"
  const std::size_t first = locator.find('#');
  const std::size_t second = first == std::string_view::npos ? first : locator.find('#', first + 1);
  Addr address;
  std::uint32_t keyHash = 0;
  if (second == std::string_view::npos ||
      !ParseHex8(locator.substr(first + 1, second - first - 1), address.value) ||
      !ParseHex8(locator.substr(second + 1), keyHash) ||
      locator.substr(0, first) != address.fileName()) {
    why = "キャッシュのエントリの名前でないため読みません";
    return platform::OpenError::OutsideRoot;
  }
  Reader reader(files);
  Index index;
  platform::OpenError indexError = platform::OpenError::None;
  platform::Said indexRefusal;
  if (!reader.OpenIndex(index, indexRefusal, indexError)) {
    why = indexRefusal.written;
    return indexError == platform::OpenError::Missing ? indexError
                                                      : platform::OpenError::Unreadable;
  }
  if (!StillLinked(reader, index, address, keyHash)) {
    why = "エントリがキャッシュから消えたため読みません";
    return platform::OpenError::Missing;
  }
  Entry entry;
  if (!reader.ReadEntryStore(address, entry, why)) return platform::OpenError::Unreadable;
  if (entry.hash != keyHash) {
    why = kChanged;
    return platform::OpenError::Unreadable;
  }
  if (reader.CheckEntry(entry, why) != Verdict::Read) return platform::OpenError::Unreadable;

  std::string chunk;
  for (std::uint64_t done = 0; done < entry.body.length;) {
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBodyChunk, entry.body.length - done));
    if (!entry.body.file->ReadAt(entry.body.offset + done, length, chunk)) {
      why = "本体が途中で切れているため読みません";
      return platform::OpenError::Unreadable;
    }
    if (!body.Append(chunk)) {
      why = "本体を一時ファイルに書けないため読みません";
      return platform::OpenError::Unreadable;
    }
    done += length;
  }
  // The entry and its rankings node as they are now: a browser that wrote to the entry
  // meanwhile changed one of them.
  std::string store;
  std::string rankings;
  if (!reader.ReadBlocks(entry.address, store, why) ||
      !reader.ReadBlocks(Addr{U32(entry.store, 8)}, rankings, why) || store != entry.store ||
      rankings != entry.rankings) {
    why = kChanged;
    return platform::OpenError::Unreadable;
  }
  response = std::move(entry.response);
  return platform::OpenError::None;
}

// The entries of one cache on disk, read again one by one for their documents.
class BlockfileEntries : public StoredEntries {
 public:
  explicit BlockfileEntries(std::string cacheDir) : cacheDir_(std::move(cacheDir)) {}

  platform::OpenError Read(std::string_view locator, StoredResponse& response,
                           SpooledDocument& body, std::string& why) override {
    // Opened afresh for each entry: the browser may have grown or replaced its files.
    DiskFiles files(cacheDir_);
    return ReadEntry(files, locator, response, body, why);
  }

 private:
  std::string cacheDir_;
};

class ChromiumBlockfile : public CacheLayout {
 public:
  std::string_view name() const override { return "Chromium blockfile"; }
  std::string_view marker() const override { return "/index"; }

  // Chromium's Simple Cache and its SQL cache keep a file named `index` too: only the magic
  // tells this one. An index that is a link or no regular file is left to the other layouts.
  bool Holds(const std::string& cacheDir) const override {
    platform::ReadableFile index;
    if (index.Open(cacheDir + std::string(marker()), platform::FollowLinks::No) !=
        platform::OpenError::None) {
      return false;
    }
    char magic[4];
    return index.ReadAt(magic, sizeof magic, 0) == sizeof magic &&
           U32(std::string_view(magic, sizeof magic), 0) == kIndexMagic;
  }
  bool Marks(const std::string& cacheDir) const override { return Holds(cacheDir); }

  bool ReadEntries(const JobContext& ctx, Frontend& frontend, const std::string& cacheDir,
                   CacheEntryTable& table) const override {
    DiskFiles files(cacheDir);
    BlockfileListing listing = ListCache(files);
    if (!listing.refusal.written.empty()) {
      LogReaderMessage(ctx, std::string(name()) + "  " + listing.refusal.written);
      // An index that cannot be read is taken for one the browser holds, as for the other
      // layouts; a link, a damaged index or one of an unknown version is named.
      const bool inUse = listing.indexError == platform::OpenError::Missing ||
                         listing.indexError == platform::OpenError::Unreadable;
      frontend.ShowMessage(inUse ? platform::Tr(kCacheInUse) : listing.refusal.shown);
      return true;
    }
    StoredResponses responses(ctx, name());
    for (const BlockfileListing::PassedOver& passed : listing.passed) {
      if (passed.fileRefused) {
        responses.RefuseFile(passed.locator, passed.why);
      } else if (passed.refused) {
        responses.Refuse(passed.locator, passed.why);
      } else {
        responses.Note(passed.locator, passed.why);
      }
    }
    for (BlockfileListing::Entry& entry : listing.entries) {
      responses.Add(std::move(entry.response), std::move(entry.locator));
    }
    responses.AppendTo(table);
    return true;
  }

  std::unique_ptr<CachedDocuments> Documents(const std::string& cacheDir) const override {
    return StoredDocuments(cacheDir, std::make_unique<BlockfileEntries>(cacheDir));
  }
};

}  // namespace

BlockfileListing ListBlockfileCache(const BlockfileFiles& files) {
  MemoryFiles memory(files);
  return ListCache(memory);
}

platform::OpenError ReadBlockfileEntry(const BlockfileFiles& files, std::string_view locator,
                                       StoredResponse& response, SpooledDocument& body,
                                       std::string& why) {
  MemoryFiles memory(files);
  return ReadEntry(memory, locator, response, body, why);
}

std::unique_ptr<CacheLayout> ChromiumBlockfileLayout() {
  return std::make_unique<ChromiumBlockfile>();
}

}  // namespace lumbra
