// Internet Explorer 2.0 iexplore.cif, as this reader reads it; the lines and the fields of a
// record line are laid out in ie2_reader.h.
//
// The field cursor: fields 2 and 4 to 11 begin with the character after the comma that
// closed the field before; that first character is always taken, even when it is a comma,
// and the field runs from there up to, not including, the next comma. An empty field among
// them therefore takes its closing comma and the whole next field as its text, and every
// field after it shifts by one. Field 3 alone runs from the character after its opening
// comma to the next comma, so it may be empty.
//
// Local rules:
//   - A line's text ends at its line end or at its first NUL byte; nothing after that NUL,
//     and nothing of another line, is ever read for it.
//   - Every field 1 to 11 must end in a comma within that text. A record line whose text
//     ends first (too few fields, no comma after field 11, a field 11 that begins at the
//     line end) is dropped whole: nothing of it goes into the table or the debug dump.
//   - A field cut at its limit still runs to its comma for the cursor.

#include "cache/ie2_reader.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "cache/private_copy.h"
#include "core/exec_log.h"
#include "platform/fs.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

constexpr std::size_t kPieceMax = 4999;  // characters of a line, its LF included
constexpr char kRecordType = 'F';
constexpr char kSeparator = ',';
constexpr int kFirstSkippedField = 4;  // fields 4 to 9 are passed over like the used ones
constexpr int kLastSkippedField = 9;
constexpr std::size_t kTypeMax = 150;

// Hands out the lines of a text: pieces that end after an LF or at kPieceMax characters.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes) : bytes_(bytes) {}

  // The next piece, with its '\n' when the line ended in it; false at the end.
  bool Next(std::string& piece) {
    piece.clear();
    while (piece.size() < kPieceMax && pos_ < bytes_.size()) {
      char c = bytes_[pos_++];
      if (c == '\r' && pos_ < bytes_.size() && bytes_[pos_] == '\n') {
        c = '\n';
        ++pos_;
      }
      piece.push_back(c);
      if (c == '\n') break;
    }
    return !piece.empty();
  }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

// The text of a line as its fields see it.
std::string_view LineText(std::string_view piece) {
  if (!piece.empty() && piece.back() == '\n') piece.remove_suffix(1);
  return piece.substr(0, std::min(piece.find('\0'), piece.size()));
}

// Walks the fields of one record line from comma to comma.
class FieldCursor {
 public:
  explicit FieldCursor(std::string_view line) : line_(line), comma_(line.find(kSeparator)) {}

  // The field after the current comma, up to the next comma, which becomes current. With
  // `firstAlwaysTaken` its first character belongs to it whatever it is. nullopt when the
  // line ends before the field's closing comma.
  std::optional<std::string_view> Next(bool firstAlwaysTaken) {
    if (comma_ == std::string_view::npos || comma_ + 1 >= line_.size()) return std::nullopt;
    const std::size_t start = comma_ + 1;
    comma_ = line_.find(kSeparator, firstAlwaysTaken ? start + 1 : start);
    if (comma_ == std::string_view::npos) return std::nullopt;
    return line_.substr(start, comma_ - start);
  }

 private:
  std::string_view line_;
  std::size_t comma_;  // the comma that closed the last field passed, or npos
};

std::string Cut(std::string_view text, std::size_t max) {
  return std::string(text.substr(0, std::min(text.size(), max)));
}

// The row of a record line, or nullopt when one of its fields is missing.
std::optional<CacheEntry> ParseRecordLine(std::string_view line) {
  FieldCursor cursor(line);
  const std::optional<std::string_view> url = cursor.Next(true);
  if (!url || !cursor.Next(false)) return std::nullopt;
  for (int field = kFirstSkippedField; field <= kLastSkippedField; ++field) {
    if (!cursor.Next(true)) return std::nullopt;
  }
  const std::optional<std::string_view> type = cursor.Next(true);
  const std::optional<std::string_view> name = type ? cursor.Next(true) : std::nullopt;
  if (!name) return std::nullopt;
  CacheEntry entry;
  entry.url = std::string(*url);
  entry.contentType = Cut(*type, kTypeMax);
  entry.cacheFile = std::string(*name);
  return entry;
}

}  // namespace

void ParseExplorer2Index(std::string_view bytes, CacheEntryTable& table, std::string* dump) {
  LineReader reader(bytes);
  std::string piece;
  while (reader.Next(piece)) {
    if (!piece.starts_with(kRecordType)) continue;
    std::optional<CacheEntry> entry = ParseRecordLine(LineText(piece));
    if (!entry) continue;
    if (dump != nullptr) {
      *dump += entry->url + ' ' + entry->contentType + ' ' + entry->cacheFile + '\n';
    }
    table.Append(std::move(*entry));
  }
}

void ReadExplorer2Cache(const JobContext& ctx, Frontend& /*frontend*/, bool debugDump,
                        const std::string& indexFile, CacheEntryTable& table) {
  std::optional<std::string> bytes = platform::ReadFile(indexFile);
  if (!bytes) return;
  AppendExecLog(ctx, "iexplore 2.0  Cache ファイル名　読み出し開始\n");
  platform::TextWriter dumpFile;
  if (debugDump &&
      !dumpFile.Open(ctx.StartFile(kDebugDumpName), platform::TextWriter::Mode::Truncate)) {
    return;
  }
  std::string dump;
  ParseExplorer2Index(*bytes, table, debugDump ? &dump : nullptr);
  if (debugDump) {
    dumpFile.Write(dump);
    dumpFile.Close();
  }
}

namespace {

class Explorer2Cache : public CacheLayout {
 public:
  std::string_view name() const override { return "Explorer 2"; }
  std::string_view marker() const override { return "/iexplore.cif"; }

  bool ReadEntries(const JobContext& ctx, Frontend& frontend, const std::string& cacheDir,
                   CacheEntryTable& table) const override {
    return ReadIndexCopy(frontend, cacheDir, marker(), "tmp.db", [&](const std::string& copy) {
      ReadExplorer2Cache(ctx, frontend, ctx.execLog, copy, table);
    });
  }
};

}  // namespace

std::unique_ptr<CacheLayout> Explorer2Layout() { return std::make_unique<Explorer2Cache>(); }

}  // namespace lumbra
