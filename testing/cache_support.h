// What the cache fixtures and reader tests share: the rows of a cache entry table as whole
// values, the stored response header of a cached document, the world of a reader's file
// test, and the documents of the test site that the real browsers of today cached.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cache/cache_layout.h"
#include "cache/cache_table.h"
#include "core/job_context.h"
#include "platform/fs.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra::testing {

// url, cacheFile, contentType of a row.
using Row = std::array<std::string, 3>;

inline std::vector<Row> RowsOf(const CacheEntryTable& table) {
  std::vector<Row> rows;
  for (int i = 0; i < table.count(); ++i) {
    rows.push_back({table.row(i).url, table.row(i).cacheFile, table.row(i).contentType});
  }
  return rows;
}

// `headerText` when set, else a status line, the line "Content-Type: " + `contentType`
// (none when it is empty) and the blank line.
inline std::string StoredHeader(const std::string& contentType,
                                const std::optional<std::string>& headerText) {
  if (headerText) return *headerText;
  std::string header = "HTTP/1.1 200 OK\r\n";
  if (!contentType.empty()) header += "Content-Type: " + contentType + "\r\n";
  return header + "\r\n";
}

// A reader run on a file: its start directory "start" (execution log and debug dump), a
// front end and the table it fills.
class ReaderFileTest : public TempDirTest {
 protected:
  JobContext Context(bool execLog) const {
    JobContext ctx;
    ctx.startDir = MakeDir("start");
    ctx.execLog = execLog;
    return ctx;
  }
  ScriptedFrontend frontend;
  CacheEntryTable table;
};

// A document of the test site in ../shared/realdata/browser-caches, as a row of the entry
// table gives it, with the file under site/ that was served for it.
struct ServedDocument {
  std::string url;
  std::string contentType;
  std::string file;
};

// The 23 documents each real cache of the site holds, one per URL (the 301 and the 404s are
// none; badge.png was cached once per top-level site).
inline const std::vector<ServedDocument>& TodaysSiteDocuments() {
  static const std::vector<ServedDocument> documents = {
      {"http://127.0.0.1-47811/home.html", "text/html; charset=utf-8", "main/index.html"},
      {"http://127.0.0.1-47811/index.html", "text/html; charset=utf-8", "main/index.html"},
      {"http://127.0.0.1-47811/about.html", "text/html; charset=utf-8", "main/about.html"},
      {"http://127.0.0.1-47811/docs/guide.html", "text/html; charset=utf-8",
       "main/docs/guide.html"},
      {"http://127.0.0.1-47811/docs/chapter2.html", "text/html; charset=utf-8",
       "main/docs/chapter2.html"},
      {"http://127.0.0.1-47811/docs/long.html", "text/html; charset=utf-8", "main/docs/long.html"},
      {"http://127.0.0.1-47811/gallery.html", "text/html; charset=utf-8", "main/gallery.html"},
      {"http://127.0.0.1-47811/search.html-q=moss&page=2", "text/html; charset=utf-8",
       "main/search.html"},
      {"http://127.0.0.1-47811/packed.html", "text/html; charset=utf-8", "main/packed.html"},
      {"http://127.0.0.1-47811/sjis.html", "text/html; charset=Shift_JIS", "main/sjis.html"},
      {"http://127.0.0.1-47811/eucjp.html", "text/html", "main/eucjp.html"},
      {"http://127.0.0.1-47811/new-place.html", "text/html; charset=utf-8", "main/new-place.html"},
      {"http://127.0.0.1-47811/style.css", "text/css", "main/style.css"},
      {"http://127.0.0.1-47811/script.js", "text/javascript", "main/script.js"},
      {"http://127.0.0.1-47811/img/logo.png", "image/png", "main/img/logo.png"},
      {"http://127.0.0.1-47811/img/bg.png", "image/png", "main/img/bg.png"},
      {"http://127.0.0.1-47811/img/stripe.gif", "image/gif", "main/img/stripe.gif"},
      {"http://127.0.0.1-47811/img/dot.gif", "image/gif", "main/img/dot.gif"},
      {"http://127.0.0.1-47811/img/photo.jpg", "image/jpeg", "main/img/photo.jpg"},
      {"http://localhost-47811/index.html", "text/html; charset=utf-8", "other/index.html"},
      {"http://localhost-47811/img/badge.png", "image/png", "other/img/badge.png"},
      {"http://127.0.0.1-47812/index.html", "text/html; charset=utf-8", "port2/index.html"},
      {"http://127.0.0.1-47812/tile.gif", "image/gif", "port2/tile.gif"},
  };
  return documents;
}

// The bytes served for the site's file `file` (under site/).
inline std::string ServedBytes(std::string_view file) {
  return platform::ReadFile(RealDataPath("browser-caches/site/" + std::string(file)))
      .value_or("<missing>");
}

// The bytes of the document of `row` as `documents` opens it; empty, with `refusal` set, when
// it is refused.
inline std::string DocumentBytes(CachedDocuments& documents, const CacheEntry& row,
                                 std::string& refusal) {
  std::unique_ptr<DocumentSource> document;
  const platform::OpenError opened = documents.Open(row, document);
  if (opened != platform::OpenError::None) {
    refusal = documents.RefusalOf(opened);
    return {};
  }
  std::string bytes;
  char buffer[4096];
  for (long n; (n = document->Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  return bytes;
}

// Each row of `table` is a document of the site, and `documents` gives the bytes that were
// served for it (a body stored encoded, decoded).
inline void ExpectDocumentsAsServed(CachedDocuments& documents, const CacheEntryTable& table) {
  for (int i = 0; i < table.count(); ++i) {
    const CacheEntry& row = table.row(i);
    const auto& site = TodaysSiteDocuments();
    auto served = std::find_if(site.begin(), site.end(),
                               [&](const ServedDocument& d) { return d.url == row.url; });
    ASSERT_NE(served, site.end()) << row.url;
    std::string refusal;
    EXPECT_EQ(DocumentBytes(documents, row, refusal), ServedBytes(served->file))
        << row.url << " " << refusal;
  }
}

}  // namespace lumbra::testing
