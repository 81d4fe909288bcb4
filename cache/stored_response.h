// The caches of today's browsers (Chromium, Firefox) keep one stored HTTP response per cache
// key: the key with the URL inside it, the response head, and the body as it came over the
// wire (possibly content-encoded). What they share is here: the URL inside a key, the fields
// of a response head, the rule that turns responses into rows of the entry table, and the
// documents of such a cache, taken out of an entry and decoded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_layout.h"
#include "cache/cache_table.h"
#include "core/document.h"
#include "core/job_context.h"

namespace lumbra {

// One response as a browser's cache keeps it.
struct StoredResponse {
  std::string url;              // the plain URL inside the cache key
  int status = 0;               // of the status line; 0 when there is none
  std::string contentType;      // the Content-Type header's value, as stored
  std::string contentEncoding;  // the Content-Encoding header's value; empty for none
  std::int64_t fetched = 0;     // when the response was received, seconds since 1970
  // The Content-Length header's value: the length of the body as sent (still encoded); -1
  // when there is none or it is no plain number. A stored body of another length was cut.
  std::int64_t contentLength = -1;
};

// The URL inside a Chromium cache key ("1/0/_dk_site site URL"): the text after the last
// space, or the whole key when it has none.
std::string_view UrlOfChromiumKey(std::string_view key);
// The URL inside a Firefox cache key ("O^partitionKey=...,a,:URL"): the text after the ':'
// that follows the comma-ended attributes (",," is a comma inside one); empty when the key
// has no such ':'.
std::string_view UrlOfFirefoxKey(std::string_view key);

// Where the first line of a response head ends: its first NUL or LF; npos when it has neither.
std::size_t ResponseHeadLineEnd(std::string_view head);

// Reads the status line and the Content-Type, Content-Encoding and Content-Length headers of a
// response head into `out`. The lines end in NUL (Chromium), CRLF or LF (Firefox). A header that
// occurs twice counts with its first value; names match without regard to case.
void ReadResponseHead(std::string_view head, StoredResponse& out);

// The statuses of a document: 200 and 203. A redirect, an error page or a partial answer is
// not the document its URL names.
bool IsDocumentStatus(int status);
// Whether `url` is an http or https URL.
bool IsWebUrl(std::string_view url);

// The entries of one cache of today, gathered one by one, then handed to the entry table:
// only documents (IsDocumentStatus) of web URLs, each URL once (the most recently fetched
// copy; partitioned caches keep one per top-level site). What is passed over is counted in
// the execution log, and with the log on `fat.txt` in the start directory gets one line per
// entry read.
class StoredResponses {
 public:
  StoredResponses(const JobContext& ctx, std::string_view layoutName);

  // An entry read: its response and where it lies (relative to the cache directory, the
  // cacheFile its row gets), and whether its document was read whole (CacheEntry::readWhole:
  // see ReadWithTable).
  void Add(StoredResponse response, std::string locator, bool readWhole = false);
  // An entry that could not be read: one log line naming it and why.
  void Refuse(std::string_view locator, std::string_view why);
  // The same for an entry file that is no regular file of the cache (see
  // IsRefusedCacheFile): the table takes it too, for the job to count.
  void RefuseFile(std::string_view locator, std::string_view why);
  // A note on an entry that is read all the same (for example a side stream passed over).
  void Note(std::string_view locator, std::string_view what);

  // Appends the rows to `table` in the order the entries were added, and writes the counts
  // to the execution log and fat.txt.
  void AppendTo(CacheEntryTable& table);

 private:
  struct Read {
    StoredResponse response;
    std::string locator;
    bool readWhole = false;
  };
  const JobContext& ctx_;
  std::string layoutName_;
  std::vector<Read> read_;
  int refused_ = 0;
  std::vector<RefusedCacheFile> refusedFiles_;
};

// Whether an entry file that could not be opened for `why` is one the job counts as refused:
// a link, a FIFO or device, a name leading outside.
bool IsRefusedCacheFile(platform::OpenError why);

// Whether the entry table's reader reads the body of `response` with the rest: a page's, so
// that the add job need not open the entry again only to learn that its document can be
// read. Other bodies are read only when they are copied.
bool BodyReadWithTable(const StoredResponse& response);
// Whether the document of `response` was read whole with the entry table: `body`, its body
// as stored and read with the rest of the entry (BodyReadWithTable), decodes.
bool ReadWithTable(const StoredResponse& response, SpooledDocument& body);

// How a layout of today reads one entry again for its document.
class StoredEntries {
 public:
  virtual ~StoredEntries() = default;
  // Reads the entry at `locator` (as given to StoredResponses::Add): its response and its
  // body as stored (before any content decoding) into `body`, which is empty on entry. The
  // entry is read whole and checked (magic numbers, lengths, checksums where the format keeps
  // them) before it is answered, so a half-written or changing entry is never taken.
  // None; Missing when the entry is gone; anything else with `why` set for the log.
  virtual platform::OpenError Read(std::string_view locator, StoredResponse& response,
                                   SpooledDocument& body, std::string& why) = 0;
};

// The documents of a cache of today: each entry read through `entries`, checked to be a
// document still, and decoded by its Content-Encoding (see content_decoding.h). Its time
// is the time the response was fetched.
std::unique_ptr<CachedDocuments> StoredDocuments(std::string cacheDir,
                                                 std::unique_ptr<StoredEntries> entries);

}  // namespace lumbra
