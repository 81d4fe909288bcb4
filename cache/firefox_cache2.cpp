#include "cache/firefox_cache2.h"

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "cache/cache_index.h"
#include "cache/cache_table.h"
#include "cache/key_digest.h"
#include "cache/stored_response.h"
#include "core/ascii.h"
#include "platform/fs.h"
#include "platform/work_threads.h"

namespace lumbra {
namespace {

constexpr std::uint32_t kEntryVersion = 4;  // the version the two-word trailer names
constexpr std::uint32_t kEncryptedFlag = 0x80000000;
constexpr std::size_t kTagSize = 16;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kBlockOverhead = kTagSize + kNonceSize;
constexpr std::uint64_t kMetadataBlockNumber = UINT64_MAX;
// The metadata beyond its chunk hashes: the browser keeps elements under 64 KiB, and no key
// it writes comes near the rest.
constexpr std::uint64_t kMetadataMax = std::uint64_t{2} << 20;
constexpr std::size_t kEntryNameSize = 40;
constexpr std::string_view kEntriesDir = "entries";
constexpr std::string_view kKeyPref = "browser.cache.disk.encryption.key";
// prefs.js holds one line per changed pref; a few megabytes are far beyond any real one.
constexpr std::size_t kPrefsMax = std::size_t{16} << 20;

using BodySink = std::function<bool(std::string_view)>;

std::uint32_t Big32(std::string_view bytes, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

std::uint16_t Big16(std::string_view bytes, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t Little32(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
  a -= b, a -= c, a ^= c >> 13;
  b -= c, b -= a, b ^= a << 8;
  c -= a, c -= b, c ^= b >> 13;
  a -= b, a -= c, a ^= c >> 12;
  b -= c, b -= a, b ^= a << 16;
  c -= a, c -= b, c ^= b >> 5;
  a -= b, a -= c, a ^= c >> 3;
  b -= c, b -= a, b ^= a << 10;
  c -= a, c -= b, c ^= b >> 15;
}

// Where the bytes of one entry file come from: the open file, or bytes in memory.
class EntryFile {
 public:
  virtual ~EntryFile() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly `size` bytes from `offset` on into `out`; false when they are not there.
  virtual bool ReadAt(std::uint64_t offset, std::uint64_t size, std::string& out) = 0;
  // The same bytes without a copy where the source holds them: `out` points into them, or
  // into `scratch`, where they were read.
  virtual bool ViewAt(std::uint64_t offset, std::uint64_t size, std::string& scratch,
                      std::string_view& out) {
    if (!ReadAt(offset, size, scratch)) return false;
    out = scratch;
    return true;
  }
};

class MemoryFile : public EntryFile {
 public:
  explicit MemoryFile(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::uint64_t size, std::string& out) override {
    std::string_view view;
    if (!ViewAt(offset, size, out, view)) return false;
    out.assign(view);
    return true;
  }
  bool ViewAt(std::uint64_t offset, std::uint64_t size, std::string& /*scratch*/,
              std::string_view& out) override {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    out = bytes_.substr(offset, size);
    return true;
  }

 private:
  std::string_view bytes_;
};

// An open entry file, read by offset: every part of the entry comes from this one descriptor.
// A file of up to kReadWholeMax bytes (almost every entry) is read with one call and its parts
// are taken from memory; a larger one, or one that could not be read whole, part by part.
class DescriptorFile : public EntryFile {
 public:
  explicit DescriptorFile(platform::ReadableFile& file) : file_(file), size_(file.status().size) {
    whole_ = size_ <= kReadWholeMax && file_.ReadExactlyAt(0, size_, bytes_);
  }
  std::uint64_t size() const override { return size_; }
  // Whether the bytes are held in memory: the file is then no longer needed.
  bool whole() const { return whole_; }
  bool ReadAt(std::uint64_t offset, std::uint64_t size, std::string& out) override {
    if (whole_) return MemoryFile(bytes_).ReadAt(offset, size, out);
    return file_.ReadExactlyAt(offset, size, out);
  }
  bool ViewAt(std::uint64_t offset, std::uint64_t size, std::string& scratch,
              std::string_view& out) override {
    if (whole_) return MemoryFile(bytes_).ViewAt(offset, size, scratch, out);
    return EntryFile::ViewAt(offset, size, scratch, out);
  }

 private:
  static constexpr std::uint64_t kReadWholeMax = 64 * 1024;
  platform::ReadableFile& file_;
  const std::uint64_t size_;  // as the file was opened
  std::string bytes_;
  bool whole_ = false;
};

// Opens one block (ciphertext, tag, nonce) numbered `number`; `extra` is authenticated with
// the number.
bool OpenBlock(const FirefoxCacheKey& key, std::uint64_t number, std::string_view block,
               std::string_view extra, std::string& plain) {
  if (block.size() < kBlockOverhead) return false;
  const std::size_t size = block.size() - kBlockOverhead;
  std::string aad(8, '\0');
  for (int i = 0; i < 8; ++i) aad[i] = static_cast<char>((number >> (8 * i)) & 0xff);
  aad += extra;
  unsigned char tag[kTagSize];
  std::memcpy(tag, block.data() + size, kTagSize);
  const auto* nonce = reinterpret_cast<const unsigned char*>(block.data() + size + kTagSize);
  plain.resize(size);

  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  int n = 0;
  auto* out = reinterpret_cast<unsigned char*>(plain.data());
  return ctx != nullptr &&
         EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
         EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
         EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce) == 1 &&
         EVP_DecryptUpdate(ctx.get(), nullptr, &n,
                           reinterpret_cast<const unsigned char*>(aad.data()),
                           static_cast<int>(aad.size())) == 1 &&
         (size == 0 || EVP_DecryptUpdate(ctx.get(), out, &n,
                                         reinterpret_cast<const unsigned char*>(block.data()),
                                         static_cast<int>(size)) == 1) &&
         EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) == 1 &&
         EVP_DecryptFinal_ex(ctx.get(), out + n, &n) == 1;
}

// The SHA-1 of `bytes` in upper-case hex: the name the browser gives the file of a key.
std::string Sha1Name(std::string_view bytes) {
  const std::string digest = DigestOf(KeyDigest::Sha1, bytes);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (unsigned char d : digest) {
    name += kHex[d >> 4];
    name += kHex[d & 0xf];
  }
  return name;
}

bool IsEntryName(std::string_view name) {
  return name.size() == kEntryNameSize && std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

// The value of the header `name` in a response head (lines ending in CRLF, LF or NUL).
std::optional<std::string_view> HeaderValue(std::string_view head, std::string_view name) {
  bool first = true;  // the status line
  while (!head.empty()) {
    std::size_t end = ResponseHeadLineEnd(head);
    std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    if (std::exchange(first, false)) continue;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsNoCase(line.substr(0, colon), name)) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() &&
           (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
      value.remove_suffix(1);
    }
    return value;
  }
  return std::nullopt;
}

// A decimal number of up to 18 digits; nullopt for anything else.
std::optional<std::uint64_t> Decimal(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// The end of the body that an `alt-data` element ("1;<offset>,<type>") gives.
std::optional<std::uint64_t> AltDataOffset(std::string_view value) {
  if (!value.starts_with("1;")) return std::nullopt;
  value.remove_prefix(2);
  const std::size_t comma = value.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  return Decimal(value.substr(0, comma));
}

// The checks of an entry that the body's length alone allows: a document whose
// Content-Length is not what is stored was cut (the browser keeps such entries to resume).
// `response` is what ReadResponseHead read of the entry's response head.
bool BodyLengthAgrees(const FirefoxEntry& entry, const StoredResponse& response, std::string& why) {
  if (!entry.hasResponseHead) return true;
  if (!IsDocumentStatus(response.status)) return true;
  const std::optional<std::string_view> length = HeaderValue(entry.responseHead, "content-length");
  const std::optional<std::uint64_t> expected = length ? Decimal(*length) : std::nullopt;
  if (!expected || *expected == entry.bodySize) return true;
  const std::string sizes = "（Content-Length " + std::to_string(*expected) + " バイト、保存 " +
                            std::to_string(entry.bodySize) + " バイト）";
  why = *expected > entry.bodySize ? "本文が途中までしか保存されていないため読みません" + sizes
                                   : "本文の長さが Content-Length と合わないため読みません" + sizes;
  return false;
}

// Reads one entry file but its body: trailer and metadata (its response head read into
// `response` as well, the URL and time left to ResponseOf), the metadata, decrypted, kept in
// `metadata` for ReadBody. With `name` the file's name must be the SHA-1 of the key.
FirefoxEntryCheck ReadHead(EntryFile& file, const FirefoxCacheKey* key, std::string_view name,
                           FirefoxEntry& entry, StoredResponse& response, std::string& metadata,
                           std::string& why) {
  entry = FirefoxEntry{};
  response = StoredResponse{};
  auto damaged = [&why](std::string_view text) {
    why = std::string(text);
    return FirefoxEntryCheck::Damaged;
  };
  constexpr std::string_view kChanged = "読む間にファイルが短くなったため読みません";

  const std::uint64_t size = file.size();
  std::string trailer;
  if (size < 4 || !file.ReadAt(size - std::min<std::uint64_t>(size, 8),
                               std::min<std::uint64_t>(size, 8), trailer)) {
    return damaged(size < 4 ? "エントリとして短すぎるため読みません" : kChanged);
  }
  std::uint32_t offsetWord = Big32(trailer, trailer.size() - 4);
  std::size_t trailerSize = 4;
  // A bare offset follows the NUL that ends the key or the last element; a version word ends
  // in its own number.
  if (trailer.size() == 8 && (Big32(trailer, 0) & 0xff) != 0) {
    if (Big32(trailer, 0) > 0xff) {
      return damaged("エントリの終わりが壊れているか途中で切れているため読みません");
    }
    if (Big32(trailer, 0) != kEntryVersion) return damaged("知らない版のエントリのため読みません");
    trailerSize = 8;
    entry.encrypted = (offsetWord & kEncryptedFlag) != 0;
    offsetWord &= ~kEncryptedFlag;
  }
  trailer.erase(0, trailer.size() - trailerSize);
  entry.dataSize = offsetWord;
  const std::uint64_t chunks =
      (std::uint64_t{entry.dataSize} + kFirefoxChunkSize - 1) / kFirefoxChunkSize;
  const std::uint64_t overhead = entry.encrypted ? kBlockOverhead : 0;
  const std::uint64_t metadataAt = entry.dataSize + chunks * overhead;
  if (metadataAt > size - trailerSize) {
    return damaged("メタデータの位置がファイルの外を指しているため読みません");
  }
  const std::uint64_t blockSize = size - trailerSize - metadataAt;
  if (blockSize > kMetadataMax + 2 * chunks + overhead) {
    return damaged("メタデータが大きすぎるため読みません");
  }
  metadata.clear();
  if (!file.ReadAt(metadataAt, blockSize, metadata)) return damaged(kChanged);
  if (entry.encrypted) {
    if (key == nullptr) return FirefoxEntryCheck::NoKey;
    std::string plain;
    if (!OpenBlock(*key, kMetadataBlockNumber, metadata, trailer, plain)) {
      why = "メタデータを復号できないため読みません（壊れているか、鍵が違います）";
      return FirefoxEntryCheck::NotDecrypted;
    }
    metadata = std::move(plain);
  }

  const std::uint64_t headerAt = 4 + 2 * chunks;
  if (metadata.size() < headerAt + 4) return damaged("メタデータが短すぎるため読みません");
  const std::uint32_t version = Big32(metadata, headerAt);
  if (version < 1 || version > kEntryVersion) {
    return damaged("知らない版のメタデータのため読みません");
  }
  const std::uint64_t keyAt = headerAt + (version == 1 ? 28 : 32);  // version 1 has no flags
  if (metadata.size() < keyAt) return damaged("メタデータが短すぎるため読みません");
  entry.lastModified = Big32(metadata, headerAt + 12);
  const std::uint32_t keySize = Big32(metadata, headerAt + 24);
  const std::uint64_t elementsAt = keyAt + keySize + 1;
  if (elementsAt > metadata.size()) {
    return damaged("キーの長さがメタデータの外に及ぶため読みません");
  }
  if (FirefoxCacheHash(std::string_view(metadata).substr(4)) != Big32(metadata, 0)) {
    return damaged("メタデータのハッシュが合わないため読みません");
  }
  if (metadata[elementsAt - 1] != '\0') return damaged("キーが NUL で終わっていないため読みません");
  entry.key = metadata.substr(keyAt, keySize);
  if (!name.empty() && Sha1Name(entry.key) != name) {
    return damaged("ファイル名がキーの SHA-1 でないため読みません");
  }

  std::optional<std::string_view> altData;
  for (std::string_view rest = std::string_view(metadata).substr(elementsAt); !rest.empty();) {
    const std::size_t nameEnd = rest.find('\0');
    const std::size_t valueEnd =
        nameEnd == std::string_view::npos ? std::string_view::npos : rest.find('\0', nameEnd + 1);
    if (valueEnd == std::string_view::npos)
      return damaged("メタデータの要素が壊れているため読みません");
    const std::string_view element = rest.substr(0, nameEnd);
    const std::string_view value = rest.substr(nameEnd + 1, valueEnd - nameEnd - 1);
    rest.remove_prefix(valueEnd + 1);
    if (!entry.hasResponseHead && EqualsNoCase(element, "response-head")) {
      entry.hasResponseHead = true;
      entry.responseHead = std::string(value);
    } else if (!altData && EqualsNoCase(element, "alt-data")) {
      altData = value;
    }
  }
  entry.bodySize = entry.dataSize;
  if (altData) {
    const std::optional<std::uint64_t> offset = AltDataOffset(*altData);
    if (!offset || *offset > entry.dataSize)
      return damaged("alt-data の値が壊れているため読みません");
    entry.bodySize = static_cast<std::uint32_t>(*offset);
  }
  if (entry.hasResponseHead) ReadResponseHead(entry.responseHead, response);
  if (!BodyLengthAgrees(entry, response, why)) return FirefoxEntryCheck::Damaged;
  return FirefoxEntryCheck::Good;
}

// Reads the body of the entry ReadHead has read from `file`, without the alternative data,
// each chunk checked against its hash in `metadata`, into `body`: Good or Damaged.
FirefoxEntryCheck ReadBody(EntryFile& file, const FirefoxCacheKey* key, const FirefoxEntry& entry,
                           const std::string& metadata, const BodySink& body, std::string& why) {
  auto damaged = [&why](std::string_view text) {
    why = std::string(text);
    return FirefoxEntryCheck::Damaged;
  };
  constexpr std::string_view kChanged = "読む間にファイルが短くなったため読みません";
  const std::uint64_t overhead = entry.encrypted ? kBlockOverhead : 0;
  // The chunks of the body; those of the alternative data alone are not needed.
  std::string scratch;
  std::string_view chunk;
  std::string plain;
  for (std::uint64_t i = 0; i * kFirefoxChunkSize < entry.bodySize; ++i) {
    const std::uint64_t start = i * kFirefoxChunkSize;
    const std::uint64_t plainSize =
        std::min<std::uint64_t>(kFirefoxChunkSize, entry.dataSize - start);
    if (!file.ViewAt(start + i * overhead, plainSize + overhead, scratch, chunk)) {
      return damaged(kChanged);
    }
    if (entry.encrypted && !OpenBlock(*key, i, chunk, {}, plain)) {
      return damaged("本文を復号できないため読みません（壊れているか書き換えられています）");
    }
    const std::string_view bytes = entry.encrypted ? plain : chunk;
    if ((FirefoxCacheHash(bytes) & 0xffff) != Big16(metadata, 4 + 2 * i)) {
      return damaged("本文のハッシュが合わないため読みません（壊れているか書き換えられています）");
    }
    if (!body(bytes.substr(0, std::min<std::uint64_t>(plainSize, entry.bodySize - start)))) {
      return damaged("本文を一時ファイルに書けないため読みません");
    }
  }
  return FirefoxEntryCheck::Good;
}

// ReadHead and, with `body`, ReadBody.
FirefoxEntryCheck ReadEntry(EntryFile& file, const FirefoxCacheKey* key, std::string_view name,
                            FirefoxEntry& entry, StoredResponse& response, const BodySink* body,
                            std::string& why) {
  std::string metadata;
  const FirefoxEntryCheck head = ReadHead(file, key, name, entry, response, metadata, why);
  if (head != FirefoxEntryCheck::Good || body == nullptr) return head;
  return ReadBody(file, key, entry, metadata, *body, why);
}

// The response of `entry` as the entry table takes it: `response`, as ReadEntry read it from
// the head, with the URL of the key and the time of the entry.
StoredResponse ResponseOf(const FirefoxEntry& entry, StoredResponse response) {
  response.url = std::string(UrlOfFirefoxKey(entry.key));
  // The browser's own clock when it last wrote the entry; the last-fetched time moves with
  // every load from the cache, and the Date header is the server's clock (and optional).
  response.fetched = entry.lastModified;
  return response;
}

// --- The key of an encrypted cache -----------------------------------------------------------

enum class PrefsKey { Found, Missing, NoPref, Malformed, TooLarge };

// The key in the text of a prefs.js: the last line `user_pref("<kKeyPref>", "<base64>");`,
// as the browser takes the last value of a pref.
PrefsKey KeyOfPrefs(std::string_view prefs, FirefoxCacheKey& key) {
  const std::string prefix = "user_pref(\"" + std::string(kKeyPref) + "\",";
  std::optional<std::string_view> last;
  while (!prefs.empty()) {
    const std::size_t end = prefs.find('\n');
    std::string_view line = prefs.substr(0, end);
    prefs = end == std::string_view::npos ? std::string_view() : prefs.substr(end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.starts_with(prefix)) last = line.substr(prefix.size());
  }
  if (!last) return PrefsKey::NoPref;
  std::string_view rest = *last;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r')) rest.remove_suffix(1);
  // Base64 of 32 bytes: 43 characters and one '='.
  constexpr std::size_t kEncoded = 44;
  if (rest.size() != kEncoded + 4 || rest.front() != '"' || rest.substr(kEncoded + 1) != "\");" ||
      rest[kEncoded] != '=' || rest[kEncoded - 1] == '=') {
    return PrefsKey::Malformed;
  }
  unsigned char decoded[kEncoded / 4 * 3];
  if (EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(rest.data() + 1),
                      static_cast<int>(kEncoded)) != static_cast<int>(sizeof decoded)) {
    return PrefsKey::Malformed;
  }
  std::memcpy(key.data(), decoded, key.size());
  return PrefsKey::Found;
}

PrefsKey KeyOfPrefsFile(const std::string& path, FirefoxCacheKey& key) {
  platform::ReadableFile file;
  if (file.Open(path, platform::FollowLinks::Yes) != platform::OpenError::None) {
    return PrefsKey::Missing;
  }
  if (file.status().size > kPrefsMax) return PrefsKey::TooLarge;
  std::string text(static_cast<std::size_t>(file.status().size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const long n = file.Read(text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return KeyOfPrefs(text, key);
}

std::string_view Parent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view(".") : path.substr(0, slash);
}

std::string_view LastName(std::string_view path) { return path.substr(path.rfind('/') + 1); }

// Where the prefs.js of the cache in `cacheDir` may lie: beside the cache and one level up
// (a profile holding its cache, or a copy of both); and, for a cache in
// <base>/mozilla/firefox/<profile>/cache2 (the browser on Linux keeps its cache under
// ~/.cache, also in a snap's or flatpak's own home), the profile under that home's
// .mozilla, and under $HOME.
std::vector<std::string> PrefsPlaces(std::string_view cacheDir) {
  const std::string_view profileDir = Parent(cacheDir);
  std::vector<std::string> places = {std::string(profileDir) + "/prefs.js",
                                     std::string(Parent(profileDir)) + "/prefs.js"};
  const std::string_view firefox = Parent(profileDir);
  const std::string_view mozilla = Parent(firefox);
  if (LastName(cacheDir) != "cache2" || LastName(firefox) != "firefox" ||
      LastName(mozilla) != "mozilla") {
    return places;
  }
  const std::string tail = "/.mozilla/firefox/" + std::string(LastName(profileDir)) + "/prefs.js";
  const std::string_view cacheHome = Parent(mozilla);
  if (LastName(cacheHome) == ".cache" || LastName(cacheHome) == "cache") {
    places.push_back(std::string(Parent(cacheHome)) + tail);
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    std::string place = home + tail;
    if (std::find(places.begin(), places.end(), place) == places.end()) places.push_back(place);
  }
  return places;
}

struct FoundKey {
  std::optional<FirefoxCacheKey> key;
  std::string where;   // the prefs.js it came from
  std::string whyNot;  // when there is none
};

FoundKey FindKey(const std::string& cacheDir) {
  FoundKey found;
  const std::vector<std::string> places = PrefsPlaces(cacheDir);
  std::string looked;
  for (const std::string& place : places) {
    FirefoxCacheKey key;
    const PrefsKey result = KeyOfPrefsFile(place, key);
    if (result == PrefsKey::Found) {
      found.key = key;
      found.where = place;
      return found;
    }
    looked += (looked.empty() ? "" : ", ") + place;
    if (!found.whyNot.empty() || result == PrefsKey::Missing) continue;
    found.whyNot = result == PrefsKey::NoPref ? "鍵 " + std::string(kKeyPref) + " がありません: "
                   : result == PrefsKey::TooLarge
                       ? "prefs.js が大きすぎます: "
                       : "鍵 " + std::string(kKeyPref) + " が 32 バイトの base64 ではありません: ";
    found.whyNot += place;
  }
  if (found.whyNot.empty()) found.whyNot = "鍵のある prefs.js が見つかりません（" + looked + "）";
  return found;
}

// --- The layout --------------------------------------------------------------------------------

std::string LocatorOf(std::string_view name) {
  return std::string(kEntriesDir) + "/" + std::string(name);
}

// The entries of one cache read again, each for its document.
class Cache2Entries : public StoredEntries {
 public:
  explicit Cache2Entries(const std::string& cacheDir) : cacheDir_(cacheDir), files_(cacheDir) {}

  platform::OpenError Read(std::string_view locator, StoredResponse& response,
                           SpooledDocument& body, std::string& why) override {
    const std::string_view name = locator.substr(std::min(locator.size(), kEntriesDir.size() + 1));
    if (locator != LocatorOf(name) || !IsEntryName(name)) return platform::OpenError::OutsideRoot;
    platform::ReadableFile file;
    if (platform::OpenError opened = files_.Open(locator, file);
        opened != platform::OpenError::None) {
      return opened;
    }
    DescriptorFile bytes(file);
    const BodySink sink = [&body](std::string_view part) { return body.Append(part); };
    FirefoxEntry entry;
    StoredResponse read;
    FirefoxEntryCheck check = ReadEntry(bytes, key(), name, entry, read, &sink, why);
    if (check == FirefoxEntryCheck::NoKey && !looked_) {
      looked_ = true;
      found_ = FindKey(cacheDir_);
      check = ReadEntry(bytes, key(), name, entry, read, &sink, why);
    }
    switch (check) {
      case FirefoxEntryCheck::Good:
        response = ResponseOf(entry, std::move(read));
        return platform::OpenError::None;
      case FirefoxEntryCheck::NoKey:
        why = "暗号化されていて鍵がないため読みません（" + found_.whyNot + "）";
        break;
      case FirefoxEntryCheck::Damaged:
      case FirefoxEntryCheck::NotDecrypted:
        break;
    }
    return platform::OpenError::Unreadable;
  }

 private:
  const FirefoxCacheKey* key() const { return found_.key ? &*found_.key : nullptr; }

  std::string cacheDir_;
  platform::FilesBelow files_;
  bool looked_ = false;  // for the key, at the first encrypted entry
  FoundKey found_;
};

class Cache2Layout : public CacheLayout {
 public:
  std::string_view name() const override { return "Firefox cache2"; }
  std::string_view marker() const override { return "/entries"; }
  // The mark is a directory, not an index file.
  bool Holds(const std::string& cacheDir) const override {
    return platform::GetStatus(cacheDir + std::string(marker())).isDirectory();
  }
  bool Marks(const std::string& cacheDir) const override { return Holds(cacheDir); }

  bool ReadEntries(const JobContext& ctx, Frontend& /*frontend*/, const std::string& cacheDir,
                   CacheEntryTable& table) const override {
    StoredResponses responses(ctx, name());
    const std::string dir = cacheDir + "/" + std::string(kEntriesDir);
    std::optional<std::vector<std::string>> names;
    if (platform::GetLinkStatus(dir).isDirectory()) names = platform::ListDirectory(dir);
    if (!names) {
      LogReaderMessage(ctx, "entries を実在のディレクトリとして一覧できないため読みません");
      responses.AppendTo(table);
      return true;
    }
    std::sort(names->begin(), names->end());

    int otherNames = 0;
    std::vector<std::string> entryNames;
    for (const std::string& entryName : *names) {
      if (entryName == "." || entryName == "..") continue;
      if (IsEntryName(entryName)) {
        entryNames.push_back(entryName);
      } else {
        ++otherNames;
      }
    }

    // The entry files are read on work threads, several at once, and taken in name order.
    // The key is looked for at the first encrypted entry taken; one read before the key was
    // found is read again with it.
    struct Read {
      platform::ReadableFile file;
      platform::OpenError opened = platform::OpenError::None;
      std::optional<DescriptorFile> bytes;
      FirefoxEntry entry;
      StoredResponse response;
      FirefoxEntryCheck check = FirefoxEntryCheck::Damaged;
      std::string why;
      bool readWhole = false;
    };
    // Reads the entry of `read` with `key`. A page's body is read and checked as well; one that
    // fails leaves the entry as it is, refused with its reason when it is opened.
    auto readEntry = [](Read& read, const std::string& entryName, const FirefoxCacheKey* key) {
      std::string metadata;
      read.check =
          ReadHead(*read.bytes, key, entryName, read.entry, read.response, metadata, read.why);
      read.readWhole = false;
      if (read.check != FirefoxEntryCheck::Good || !BodyReadWithTable(read.response)) return;
      SpooledDocument body;
      const BodySink sink = [&body](std::string_view part) { return body.Append(part); };
      std::string why;
      read.readWhole =
          ReadBody(*read.bytes, key, read.entry, metadata, sink, why) == FirefoxEntryCheck::Good &&
          ReadWithTable(read.response, body);
    };
    std::vector<std::unique_ptr<Read>> slots(platform::kWorkAhead);
    const std::size_t threads = platform::WorkThreads::ForProcessors();
    std::deque<platform::FilesBelow> below;  // each thread's
    for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
      below.emplace_back(cacheDir);
    }
    bool looked = false;  // for the key, at the first encrypted entry
    FoundKey found;
    std::atomic<const FirefoxCacheKey*> key = nullptr;  // once found
    int withoutKey = 0;
    int decrypted = 0;
    std::vector<std::string> notDecrypted;
    platform::WorkInOrder(
        entryNames.size(), threads,
        [&](std::size_t i, std::size_t thread) {
          auto& read = slots[i % platform::kWorkAhead];
          read = std::make_unique<Read>();
          read->opened = below[thread].Open(LocatorOf(entryNames[i]), read->file);
          if (read->opened != platform::OpenError::None) return;
          read->bytes.emplace(read->file);
          readEntry(*read, entryNames[i], key.load(std::memory_order_acquire));
          // Only an entry to be read again with the key is needed any longer, and its file
          // only while its bytes are not held.
          if (read->check != FirefoxEntryCheck::NoKey) {
            read->bytes.reset();
            read->file.Close();
          } else if (read->bytes->whole()) {
            read->file.Close();
          }
        },
        [&](std::size_t i) {
          const std::unique_ptr<Read> read = std::move(slots[i % platform::kWorkAhead]);
          const std::string locator = LocatorOf(entryNames[i]);
          if (read->opened == platform::OpenError::Missing) return;  // gone since the listing
          if (read->opened != platform::OpenError::None) {
            if (IsRefusedCacheFile(read->opened)) {
              responses.RefuseFile(locator, RefusalText(read->opened));
            } else {
              responses.Refuse(locator, RefusalText(read->opened));
            }
            return;
          }
          if (read->check == FirefoxEntryCheck::NoKey && !looked) {
            looked = true;
            found = FindKey(cacheDir);
            if (found.key) {
              LogReaderMessage(ctx, "暗号化の鍵を読みました: " + found.where);
              key.store(&*found.key, std::memory_order_release);
            }
          }
          if (read->check == FirefoxEntryCheck::NoKey && found.key) {
            readEntry(*read, entryNames[i], &*found.key);
          }
          switch (read->check) {
            case FirefoxEntryCheck::Good:
              if (read->entry.encrypted) ++decrypted;
              responses.Add(ResponseOf(read->entry, std::move(read->response)), locator,
                            read->readWhole);
              break;
            case FirefoxEntryCheck::Damaged:
              responses.Refuse(locator, read->why);
              break;
            case FirefoxEntryCheck::NoKey:
              ++withoutKey;
              break;
            case FirefoxEntryCheck::NotDecrypted:
              notDecrypted.push_back(locator);
              break;
          }
        });
    if (otherNames > 0) {
      LogReaderMessage(ctx, "entries のうちエントリの名前でないもの " + std::to_string(otherNames) +
                                " 件を読みません");
    }
    if (withoutKey > 0) {
      LogReaderMessage(ctx, "暗号化されたエントリ " + std::to_string(withoutKey) +
                                " 件を読みません: " + found.whyNot);
    }
    // No encrypted entry opens with the key: the key is not this cache's, one line says so.
    if (!notDecrypted.empty() && decrypted == 0) {
      LogReaderMessage(ctx, "暗号化されたエントリ " + std::to_string(notDecrypted.size()) +
                                " 件を読みません: 鍵が合いません: " + found.where);
    } else {
      for (const std::string& locator : notDecrypted) {
        responses.Refuse(locator,
                         "メタデータを復号できないため読みません（壊れているか、鍵が違います）");
      }
    }
    responses.AppendTo(table);
    return true;
  }

  std::unique_ptr<CachedDocuments> Documents(const std::string& cacheDir) const override {
    return StoredDocuments(cacheDir, std::make_unique<Cache2Entries>(cacheDir));
  }
};

}  // namespace

FirefoxEntryCheck ParseFirefoxEntry(std::string_view bytes, const FirefoxCacheKey* key,
                                    FirefoxEntry& entry, std::string* body, std::string& why) {
  MemoryFile file(bytes);
  StoredResponse response;
  if (body == nullptr) return ReadEntry(file, key, {}, entry, response, nullptr, why);
  const BodySink sink = [body](std::string_view part) {
    body->append(part);
    return true;
  };
  return ReadEntry(file, key, {}, entry, response, &sink, why);
}

std::uint32_t FirefoxCacheHash(std::string_view bytes) {
  const auto* k = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t left = bytes.size();
  std::uint32_t a = 0x9e3779b9;
  std::uint32_t b = a;
  std::uint32_t c = 0;
  for (; left >= 12; k += 12, left -= 12) {
    a += Little32(k);
    b += Little32(k + 4);
    c += Little32(k + 8);
    Mix(a, b, c);
  }
  // The last bytes, with the length in the low byte of c.
  unsigned char last[12] = {};
  if (left > 0) std::memcpy(last, k, left);
  c += static_cast<std::uint32_t>(bytes.size());
  a += Little32(last);
  b += Little32(last + 4);
  c += Little32(last + 8) << 8;
  Mix(a, b, c);
  return c;
}

std::unique_ptr<CacheLayout> FirefoxCache2Layout() { return std::make_unique<Cache2Layout>(); }

}  // namespace lumbra
