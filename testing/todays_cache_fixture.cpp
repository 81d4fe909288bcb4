#include "testing/todays_cache_fixture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <utility>

#include <openssl/evp.h>
#include <zlib.h>

#include "cache/chromium_response.h"
#include "cache/chromium_simple.h"
#include "cache/firefox_cache2.h"
#include "testing/temp_dir.h"

namespace lumbra::testing {
namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// The headers every response of the real caches' server carried, beside its own.
constexpr std::string_view kServer = "Server: BaseHTTP/0.6 Python/3.11.2";
constexpr std::string_view kCacheControl = "Cache-Control: max-age=86400";
constexpr std::string_view kLastModified = "Last-Modified: Mon, 02 Mar 2020 09:30:00 GMT";

void PutLe32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
}

void PutLe64(std::string& out, std::uint64_t value) {
  PutLe32(out, static_cast<std::uint32_t>(value));
  PutLe32(out, static_cast<std::uint32_t>(value >> 32));
}

void PutBig32(std::string& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out += static_cast<char>(value >> (8 * i));
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

std::string Digest(const EVP_MD* type, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &size, type, nullptr);
  return std::string(reinterpret_cast<const char*>(digest.data()), size);
}

std::uint32_t Crc32(std::string_view data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::int64_t ChromiumTime(std::int64_t unixSeconds) {
  return (unixSeconds + kSecondsFrom1601To1970) * 1000000;
}

// "Mon, 07 Dec 2026 13:19:25 GMT", whatever the locale.
std::string HttpDate(std::int64_t seconds) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text.data();
}

// The header lines of `entry` after its status line, in the server's order.
std::vector<std::string> HeaderLines(const TodaysEntry& entry) {
  std::array<char, 24> etag{};
  std::snprintf(etag.data(), etag.size(), "%08x%08x", Crc32(entry.url), Crc32(entry.body));
  std::vector<std::string> lines = {std::string(kServer), "Date: " + HttpDate(entry.fetched)};
  if (!entry.contentType.empty()) lines.push_back("Content-Type: " + entry.contentType);
  lines.push_back("Content-Length: " + std::to_string(entry.body.size()));
  lines.emplace_back(kCacheControl);
  lines.emplace_back(kLastModified);
  lines.push_back("ETag: \"" + std::string(etag.data()) + "\"");
  if (entry.gzip) {
    lines.emplace_back("Vary: Accept-Encoding");
    lines.emplace_back("Content-Encoding: gzip");
  }
  return lines;
}

// "http://host:port/path" -> "http", "host" (no port).
std::pair<std::string_view, std::string_view> SchemeAndHost(std::string_view url) {
  const std::size_t colon = url.find("://");
  const std::string_view scheme = url.substr(0, colon);
  std::string_view host = url.substr(colon == std::string_view::npos ? 0 : colon + 3);
  host = host.substr(0, host.find_first_of("/:?#"));
  return {scheme, host};
}

// --- Chromium ---------------------------------------------------------------------------------

constexpr std::uint64_t kSimpleInitialMagic = 0xfcfb6d1ba7725c30;
constexpr std::uint64_t kSimpleFinalMagic = 0xf4fa6f45970d41d8;
constexpr std::uint32_t kSimpleVersion = 5;
constexpr std::uint32_t kFakeIndexVersion = 9;
constexpr std::uint64_t kRealIndexMagic = 0x656e74657220796f;
constexpr std::uint32_t kRealIndexVersion = 9;
// The pickle's flags word: version 3, extra flags and (with Vary) vary data follow.
constexpr std::uint32_t kPickleFlags = 0x80040003;
constexpr std::uint32_t kPickleFlagsVary = 0x80040803;
constexpr std::uint32_t kPickleExtraFlags = 6;
// What follows the raw headers in the pickles of the real cache: the socket address
// (127.0.0.1:47811) and connection fields of img/stripe.gif (1a884d9935c1cdb6_0), and before
// them the vary data of packed.html (35bf2d15de89c950_0), sent with Vary: Accept-Encoding.
constexpr std::string_view kPickleTail =
    "090000003132372e302e302e31000000c3ba000001000000ffffffff00000000";
constexpr std::string_view kPickleVaryData =
    "01000000c9f9479edc50ca21c85f6a818a110bc085351ff6ad64000ddcb40109586d0099";

void PutEndRecord(std::string& out, std::uint32_t flags, std::uint32_t crc, std::uint32_t size) {
  PutLe64(out, kSimpleFinalMagic);
  PutLe32(out, flags);
  PutLe32(out, crc);
  PutLe32(out, size);
  PutLe32(out, 0);
}

// Stream 0: the pickled HttpResponseInfo.
std::string ChromiumPickle(const TodaysEntry& entry) {
  std::string headers = "HTTP/1.1 200 OK";
  headers += '\0';
  for (const std::string& line : HeaderLines(entry)) {
    headers += line;
    headers += '\0';
  }
  headers += '\0';
  const std::int64_t responseTime = ChromiumTime(entry.fetched);
  std::string payload;
  PutLe32(payload, entry.gzip ? kPickleFlagsVary : kPickleFlags);
  PutLe32(payload, kPickleExtraFlags);
  PutLe64(payload, static_cast<std::uint64_t>(responseTime - 1347));  // request sent
  PutLe64(payload, static_cast<std::uint64_t>(responseTime));
  PutLe64(payload, static_cast<std::uint64_t>(responseTime));  // original response time
  PutLe32(payload, static_cast<std::uint32_t>(headers.size()));
  payload += headers;
  payload.resize((payload.size() + 3) & ~std::size_t{3}, '\0');
  if (entry.gzip) payload += FromHex(kPickleVaryData);
  payload += FromHex(kPickleTail);
  std::string pickle;
  PutLe32(pickle, static_cast<std::uint32_t>(payload.size()));
  return pickle + payload;
}

std::uint64_t Le64Of(std::string_view bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 8; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// --- Firefox ----------------------------------------------------------------------------------

constexpr std::uint32_t kFirefoxVersion = 4;
// The frecency of the real cache's entries.
constexpr std::uint32_t kFrecency = 0x4a3a6b83;
constexpr std::uint32_t kExpiresAfter = 86400;

std::string Sha1Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (unsigned char c : Digest(EVP_sha1(), bytes)) {
    name += kHex[c >> 4];
    name += kHex[c & 0xf];
  }
  return name;
}

void PutElement(std::string& out, std::string_view name, std::string_view value) {
  out += name;
  out += '\0';
  out += value;
  out += '\0';
}

// The metadata elements of `entry` as the real cache keeps them: a page (a top-level load)
// with the peer's address, an image without.
std::string FirefoxElements(const TodaysEntry& entry) {
  std::string original;
  for (const std::string& line : HeaderLines(entry)) original += line + "\r\n";
  const bool page = entry.contentType.starts_with("text/html");
  std::string elements;
  if (page) {
    PutElement(elements, "peer-ip-address", "127.0.0.1");
    PutElement(elements, "peer-port", "47811");
  }
  PutElement(elements, "strongly-framed", "1");
  PutElement(elements, "request-method", "GET");
  if (entry.gzip) PutElement(elements, "request-Accept-Encoding", "gzip, deflate, br, zstd");
  PutElement(elements, "response-head", "HTTP/1.1 200 OK\r\n" + original);
  PutElement(elements, "original-response-headers", original);
  PutElement(elements, "ctid", page ? "1" : "3");
  PutElement(elements, "net-response-time-onstart", page ? "5" : "44");
  PutElement(elements, "net-response-time-onstop", page ? "14" : "44");
  return elements;
}

}  // namespace

std::string Gzip(std::string_view bytes) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string ChromiumKey(std::string_view url) {
  const auto [scheme, host] = SchemeAndHost(url);
  const std::string site = std::string(scheme) + "://" + std::string(host);
  return "1/0/_dk_" + site + " " + site + " " + std::string(url);
}

std::string ChromiumSimpleEntryFile(const TodaysEntry& entry) {
  const std::string key = ChromiumKey(entry.url);
  const std::string pickle = ChromiumPickle(entry);
  std::string file;
  PutLe64(file, kSimpleInitialMagic);
  PutLe32(file, kSimpleVersion);
  PutLe32(file, static_cast<std::uint32_t>(key.size()));
  PutLe32(file, ChromiumHash(key));
  PutLe32(file, 0);
  file += key;
  file += entry.body;
  PutEndRecord(file, 1, Crc32(entry.body), 0);  // the CRC kept; the size is stream 0's alone
  file += pickle;
  file += Digest(EVP_sha256(), key);
  PutEndRecord(file, 3, Crc32(pickle), static_cast<std::uint32_t>(pickle.size()));
  return file;
}

ChromiumSimpleWriter::ChromiumSimpleWriter(std::string dir) : dir_(std::move(dir)) {
  std::error_code ignored;  // a directory that cannot be made fails the first write
  std::filesystem::create_directories(dir_ + "/index-dir", ignored);
}

bool ChromiumSimpleWriter::Add(const TodaysEntry& entry) {
  const std::string key = ChromiumKey(entry.url);
  const std::string name = ChromiumSimpleFileName(key);
  const std::string file = ChromiumSimpleEntryFile(entry);
  // The index keeps the hash, the last use to the second and the size in units of 256 bytes.
  listed_.push_back({Le64Of(Digest(EVP_sha1(), key)), ChromiumTime(entry.fetched),
                     (file.size() + 255) / 256 * 256});
  return WriteBytes(dir_ + "/" + name, file);
}

bool ChromiumSimpleWriter::Finish() {
  std::string fake;
  PutLe64(fake, kSimpleInitialMagic);
  PutLe32(fake, kFakeIndexVersion);
  fake.resize(24, '\0');

  std::uint64_t total = 0;
  std::int64_t newest = 0;
  for (const Listed& entry : listed_) {
    total += entry.size;
    newest = std::max(newest, entry.lastUsed);
  }
  std::string payload;
  PutLe64(payload, kRealIndexMagic);
  PutLe32(payload, kRealIndexVersion);
  PutLe64(payload, listed_.size());
  PutLe64(payload, total);
  PutLe32(payload, 0);  // why it was written
  for (const Listed& entry : listed_) {
    PutLe64(payload, entry.hash);
    PutLe64(payload, static_cast<std::uint64_t>(entry.lastUsed));
    PutLe64(payload, entry.size);
  }
  PutLe64(payload, static_cast<std::uint64_t>(newest));
  std::string real;
  PutLe32(real, static_cast<std::uint32_t>(payload.size()));
  PutLe32(real, Crc32(payload));
  return WriteBytes(dir_ + "/index", fake) &&
         WriteBytes(dir_ + "/index-dir/the-real-index", real + payload);
}

std::string FirefoxKey(std::string_view url) {
  const auto [scheme, host] = SchemeAndHost(url);
  return "O^partitionKey=%28" + std::string(scheme) + "%2C" + std::string(host) +
         "%29,:" + std::string(url);
}

std::string FirefoxEntryFile(const TodaysEntry& entry) {
  const std::string key = FirefoxKey(entry.url);
  const auto fetched = static_cast<std::uint32_t>(entry.fetched);
  std::string hashed;  // what the metadata's hash covers
  for (std::size_t at = 0; at < entry.body.size(); at += kFirefoxChunkSize) {
    const std::uint32_t hash =
        FirefoxCacheHash(std::string_view(entry.body).substr(at, kFirefoxChunkSize));
    hashed += static_cast<char>(hash >> 8);
    hashed += static_cast<char>(hash);
  }
  PutBig32(hashed, kFirefoxVersion);
  PutBig32(hashed, 1);        // fetch count
  PutBig32(hashed, fetched);  // last fetched
  PutBig32(hashed, fetched);  // last modified
  PutBig32(hashed, kFrecency);
  PutBig32(hashed, fetched + kExpiresAfter);
  PutBig32(hashed, static_cast<std::uint32_t>(key.size()));
  PutBig32(hashed, 0);  // flags
  hashed += key;
  hashed += '\0';
  hashed += FirefoxElements(entry);
  std::string file = entry.body;
  PutBig32(file, FirefoxCacheHash(hashed));
  file += hashed;
  PutBig32(file, kFirefoxVersion);
  PutBig32(file, static_cast<std::uint32_t>(entry.body.size()));
  return file;
}

FirefoxCache2Writer::FirefoxCache2Writer(std::string dir) : dir_(std::move(dir)) {
  std::error_code ignored;  // a directory that cannot be made fails the first write
  std::filesystem::create_directories(dir_ + "/entries", ignored);
  std::filesystem::create_directories(dir_ + "/doomed", ignored);
}

bool FirefoxCache2Writer::Add(const TodaysEntry& entry) {
  return WriteBytes(dir_ + "/entries/" + Sha1Hex(FirefoxKey(entry.url)), FirefoxEntryFile(entry));
}

}  // namespace lumbra::testing
