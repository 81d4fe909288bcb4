#include "cache/stored_response.h"

#include <cstdint>
#include <limits>
#include <unordered_map>
#include <utility>

#include "cache/cache_index.h"
#include "cache/content_decoding.h"
#include "core/ascii.h"
#include "core/content_type.h"
#include "core/exec_log.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The status code of a status line ("HTTP/1.1 200 OK"); 0 when it has none.
int StatusOf(std::string_view line) {
  if (!StartsWithNoCase(line, "http/")) return 0;
  std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  std::string_view code = line.substr(space + 1, 3);
  if (code.size() != 3) return 0;
  int status = 0;
  for (char c : code) {
    if (c < '0' || c > '9') return 0;
    status = status * 10 + (c - '0');
  }
  return status;
}

// A Content-Length value: digits only, within int64; -1 otherwise.
std::int64_t LengthOf(std::string_view value) {
  if (value.empty()) return -1;
  std::int64_t length = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    if (length > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return -1;
    length = length * 10 + (c - '0');
  }
  return length;
}

// The documents of a cache of today, read through its layout's StoredEntries.
class Documents : public CachedDocuments {
 public:
  Documents(std::string cacheDir, std::unique_ptr<StoredEntries> entries)
      : prefix_(std::move(cacheDir) + "/"), entries_(std::move(entries)) {}

  platform::OpenError Open(const CacheEntry& entry,
                           std::unique_ptr<DocumentSource>& document) override {
    why_.clear();
    if (!entry.cacheFile.starts_with(prefix_)) return platform::OpenError::OutsideRoot;
    const std::string_view locator = std::string_view(entry.cacheFile).substr(prefix_.size());
    StoredResponse response;
    auto stored = std::make_unique<SpooledDocument>();
    platform::OpenError read = entries_->Read(locator, response, *stored, why_);
    if (read != platform::OpenError::None) return read;
    // The browser may have stored another answer under the key since the index was read.
    if (!IsDocumentStatus(response.status)) {
      why_ = "文書でない応答に変わったため読みません";
      return platform::OpenError::Unreadable;
    }
    if (IsIdentityEncoding(response.contentEncoding)) {
      stored->SetTime(response.fetched);
      document = std::move(stored);
      return platform::OpenError::None;
    }
    auto decoded = std::make_unique<SpooledDocument>();
    if (Decoding result = DecodeContent(response.contentEncoding, *stored, *decoded);
        result != Decoding::Done) {
      why_ = std::string(DecodingFailureText(result));
      return platform::OpenError::Unreadable;
    }
    decoded->SetTime(response.fetched);
    document = std::move(decoded);
    return platform::OpenError::None;
  }

  std::string RefusalOf(platform::OpenError why) const override {
    return why_.empty() ? CachedDocuments::RefusalOf(why) : why_;
  }

 private:
  std::string prefix_;
  std::unique_ptr<StoredEntries> entries_;
  std::string why_;  // of the last refusal, when the entry said more than OpenError can
};

}  // namespace

std::string_view UrlOfChromiumKey(std::string_view key) {
  std::size_t space = key.rfind(' ');
  return space == std::string_view::npos ? key : key.substr(space + 1);
}

std::string_view UrlOfFirefoxKey(std::string_view key) {
  // Each attribute ends in a single ','; ",," is a comma inside it. The URL follows the ':'
  // that starts a tag.
  std::size_t i = 0;
  while (i < key.size()) {
    if (key[i] == ':') return key.substr(i + 1);
    // Skips one attribute up to its terminating comma.
    for (;;) {
      std::size_t comma = key.find(',', i);
      if (comma == std::string_view::npos) return {};
      if (comma + 1 < key.size() && key[comma + 1] == ',') {
        i = comma + 2;
        continue;
      }
      i = comma + 1;
      break;
    }
  }
  return {};
}

std::size_t ResponseHeadLineEnd(std::string_view head) {
  // One pass over the bytes: find_first_of would look each byte up in the set of two.
  for (std::size_t i = 0; i < head.size(); ++i) {
    if (head[i] == '\0' || head[i] == '\n') return i;
  }
  return std::string_view::npos;
}

void ReadResponseHead(std::string_view head, StoredResponse& out) {
  bool first = true;
  bool typeSeen = false;
  bool encodingSeen = false;
  bool lengthSeen = false;
  while (!head.empty()) {
    std::size_t end = ResponseHeadLineEnd(head);
    std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      first = false;
      out.status = StatusOf(line);
      continue;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = TrimSpace(line.substr(0, colon));
    std::string_view value = TrimSpace(line.substr(colon + 1));
    if (!typeSeen && EqualsNoCase(name, "content-type")) {
      out.contentType = std::string(value);
      typeSeen = true;
    } else if (!encodingSeen && EqualsNoCase(name, "content-encoding")) {
      out.contentEncoding = std::string(value);
      encodingSeen = true;
    } else if (!lengthSeen && EqualsNoCase(name, "content-length")) {
      out.contentLength = LengthOf(value);
      lengthSeen = true;
    }
  }
}

bool IsDocumentStatus(int status) { return status == 200 || status == 203; }

bool IsWebUrl(std::string_view url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

StoredResponses::StoredResponses(const JobContext& ctx, std::string_view layoutName)
    : ctx_(ctx), layoutName_(layoutName) {}

void StoredResponses::Add(StoredResponse response, std::string locator, bool readWhole) {
  read_.push_back({std::move(response), std::move(locator), readWhole});
}

void StoredResponses::Refuse(std::string_view locator, std::string_view why) {
  ++refused_;
  LogReaderMessage(ctx_, std::string(why) + " " + std::string(locator));
}

void StoredResponses::RefuseFile(std::string_view locator, std::string_view why) {
  Refuse(locator, why);
  refusedFiles_.push_back({std::string(locator), std::string(why)});
}

bool BodyReadWithTable(const StoredResponse& response) { return IsHtmlType(response.contentType); }

bool ReadWithTable(const StoredResponse& response, SpooledDocument& body) {
  if (!BodyReadWithTable(response)) return false;
  if (IsIdentityEncoding(response.contentEncoding)) return true;
  SpooledDocument decoded;
  return DecodeContent(response.contentEncoding, body, decoded) == Decoding::Done;
}

bool IsRefusedCacheFile(platform::OpenError why) {
  return why == platform::OpenError::SymbolicLink || why == platform::OpenError::NotRegular ||
         why == platform::OpenError::OutsideRoot;
}

void StoredResponses::Note(std::string_view locator, std::string_view what) {
  LogReaderMessage(ctx_, std::string(what) + " " + std::string(locator));
}

void StoredResponses::AppendTo(CacheEntryTable& table) {
  std::string dump;
  int notWeb = 0;
  int notDocument = 0;
  int older = 0;
  // The copy each URL keeps: the index in read_ of its most recently fetched document.
  std::unordered_map<std::string_view, std::size_t> newest;
  std::vector<bool> kept(read_.size(), false);
  for (std::size_t i = 0; i < read_.size(); ++i) {
    const StoredResponse& r = read_[i].response;
    if (ctx_.execLog) {
      dump += read_[i].locator + "\t" + std::to_string(r.status) + "\t" + r.contentType + "\t" +
              r.url + "\n";
    }
    if (!IsWebUrl(r.url)) {
      ++notWeb;
      continue;
    }
    if (!IsDocumentStatus(r.status)) {
      ++notDocument;
      continue;
    }
    auto [at, first] = newest.emplace(r.url, i);
    if (!first) {
      ++older;
      if (r.fetched > read_[at->second].response.fetched) {
        kept[at->second] = false;
        at->second = i;
      } else {
        continue;
      }
    }
    kept[i] = true;
  }
  for (std::size_t i = 0; i < read_.size(); ++i) {
    if (!kept[i]) continue;
    CacheEntry entry;
    entry.cacheFile = std::move(read_[i].locator);
    entry.url = std::move(read_[i].response.url);
    entry.contentType = std::move(read_[i].response.contentType);
    entry.readWhole = read_[i].readWhole;
    table.Append(std::move(entry));
  }
  read_.clear();
  for (RefusedCacheFile& file : refusedFiles_) table.NoteRefusedFile(std::move(file));
  refusedFiles_.clear();

  const std::string name = layoutName_ + "  ";
  LogReaderMessage(ctx_, name + "読んだエントリ " + std::to_string(kept.size()) + " 件");
  if (notWeb > 0) {
    LogReaderMessage(
        ctx_, "http/https の URL でないエントリ " + std::to_string(notWeb) + " 件を読みません");
  }
  if (notDocument > 0) {
    LogReaderMessage(ctx_, "転送・エラーなど 200/203 以外の応答 " + std::to_string(notDocument) +
                               " 件を読みません");
  }
  if (older > 0) {
    LogReaderMessage(ctx_, "同じ URL の古い複製 " + std::to_string(older) + " 件を読みません");
  }
  if (refused_ > 0) {
    LogReaderMessage(ctx_, "読めないエントリ " + std::to_string(refused_) + " 件");
  }
  if (ctx_.execLog) {
    platform::TextWriter dumpFile;
    if (dumpFile.Open(ctx_.StartFile(kDebugDumpName), platform::TextWriter::Mode::Truncate)) {
      dumpFile.Write(dump);
      dumpFile.Close();
    }
  }
}

std::unique_ptr<CachedDocuments> StoredDocuments(std::string cacheDir,
                                                 std::unique_ptr<StoredEntries> entries) {
  return std::make_unique<Documents>(std::move(cacheDir), std::move(entries));
}

}  // namespace lumbra
