#include "rebuild/page_rewriter.h"

#include <algorithm>
#include <array>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "core/ascii.h"
#include "core/log_tree.h"
#include "logstore/link_resolver.h"
#include "platform/fs.h"
#include "platform/path_helpers.h"
#include "platform/text_file.h"

namespace lumbra {
namespace {

constexpr std::string_view kOpenError = "ERROR : 再構成するファイルを開くことができません\rpath=";
constexpr std::string_view kTempError = "ERROR : 再構成用一時ファイルが作成できません";
constexpr std::string_view kWriteError =
    "ERROR : 再構成したファイルを書き込むことができません\rpath=";

// The attribute kinds searched in every tag, in this order.
enum class Attr : int {
  Href = 1,
  Hsef = 2,
  Src = 3,
  Srd = 4,
  Background = 5,
  Action = 10,
  BaseHref = 101,
  Language = 102,
  Codebase = 103,
  Code = 104,
};

struct AttrName {
  std::string_view name;
  Attr kind;
};

constexpr std::array<AttrName, 10> kAttributes = {{
    {"href", Attr::Href},
    {"hsef", Attr::Hsef},
    {"src", Attr::Src},
    {"srd", Attr::Srd},
    {"background", Attr::Background},
    {"action", Attr::Action},
    {"base href", Attr::BaseHref},
    {"language", Attr::Language},
    {"codebase", Attr::Codebase},
    {"code", Attr::Code},
}};

bool IsLink(Attr kind) { return static_cast<int>(kind) <= static_cast<int>(Attr::Action); }

// One attribute found in a tag. Positions index the tag.
struct Occurrence {
  Attr kind;
  std::size_t nameAt;
  std::size_t nameLength;
  std::size_t valueAt;
  std::size_t valueLength;
  std::string newValue;
  std::size_t valueEnd() const { return valueAt + valueLength; }
};

// Whether some attribute name begins with the lower-case `c`.
bool IsNameStart(char c) {
  for (const AttrName& attr : kAttributes) {
    if (attr.name.front() == c) return true;
  }
  return false;
}

bool IsValueEnd(char c) { return c == ' ' || c == '"' || c == '>'; }

// The occurrences of every attribute name that stand after a blank and before an '=' within
// three characters and have a value shorter than kValueTooLong, in table order.
std::vector<Occurrence> FindOccurrences(const std::string& tag) {
  // A name counts only just after a blank, so only those places are tried, and of them only
  // the ones that begin as some name does.
  std::vector<std::size_t> starts;
  for (std::size_t i = 1; i < tag.size(); ++i) {
    if (tag[i - 1] == ' ' && IsNameStart(LowerAscii(tag[i]))) starts.push_back(i);
  }
  std::vector<Occurrence> found;
  if (starts.empty()) return found;
  std::string lower(tag);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return LowerAscii(c); });
  std::size_t held = 0;
  for (const AttrName& attr : kAttributes) {
    std::size_t from = 0;
    for (std::size_t at : starts) {
      if (at < from || lower.compare(at, attr.name.size(), attr.name) != 0) continue;
      std::size_t end = at + attr.name.size();
      std::size_t eq = std::string::npos;
      for (std::size_t k = end; k < end + 3 && k < lower.size(); ++k) {
        if (lower[k] == '=') {
          eq = k;
          break;
        }
      }
      if (eq == std::string::npos) continue;
      std::size_t value = eq + 1;
      while (value < tag.size() && (tag[value] == ' ' || tag[value] == '"')) ++value;
      std::size_t valueEnd = value;
      while (valueEnd < tag.size() && valueEnd - value < kValueTake && !IsValueEnd(tag[valueEnd])) {
        ++valueEnd;
      }
      // A value of kValueTooLong characters or more counts as none: its text stays as it is.
      if (valueEnd - value < kValueTooLong) {
        found.push_back({attr.kind, at, attr.name.size(), value, valueEnd - value, {}});
      }
      ++held;
      from = valueEnd;
      if (held >= kOccurrenceLimit) break;
    }
  }
  return found;
}

// Drops an occurrence that starts inside an earlier one (the "href" inside "base href", or a
// name inside another's value), so that no text of the tag is written twice.
void DropOverlaps(std::vector<Occurrence>& occurrences) {
  std::vector<std::size_t> order(occurrences.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return occurrences[a].nameAt < occurrences[b].nameAt;
  });
  std::vector<bool> keep(occurrences.size(), false);
  std::size_t coveredTo = 0;
  for (std::size_t i : order) {
    if (occurrences[i].nameAt < coveredTo) continue;
    keep[i] = true;
    coveredTo = occurrences[i].valueEnd();
  }
  std::vector<Occurrence> kept;
  for (std::size_t i = 0; i < occurrences.size(); ++i) {
    if (keep[i]) kept.push_back(std::move(occurrences[i]));
  }
  occurrences = std::move(kept);
}

// An escaped tilde in a link: the first "%7E" becomes "~".
void DecodeTilde(std::string& text) {
  std::size_t at = text.find("%7E");
  if (at == std::string::npos) return;
  text[at] = '~';
  text.erase(at + 1, 2);
}

// Where a rewritten page goes: the temporary file beside the page, but only once the bytes
// differ from the page as it is. Until then each piece is compared with the page's own bytes,
// read again by offset. A page that comes out the same is not replaced (its empty temporary
// file is removed), so a rebuild of pages rewritten before writes no page again; it gets
// the time a replacement would have given it.
class ReplacingSink : public ByteSink {
 public:
  enum class End { Unchanged, Replaced, WriteFailed };

  ReplacingSink(int pageFd, platform::AtomicFileWriter& writer) : fd_(pageFd), writer_(writer) {}

  void Write(std::string_view bytes) override {
    if (failed_ || bytes.empty()) return;
    if (!differs_) {
      if (Matches(bytes)) {
        same_ += bytes.size();
        return;
      }
      if (!Diverge()) return;
    }
    if (!writer_.Write(bytes)) failed_ = true;
  }
  bool failed() const { return failed_; }

  // After the last piece: the page replaced by the new bytes (given `mode`), or left alone
  // when they are its own bytes.
  End Finish(std::uint64_t pageSize, mode_t mode) {
    if (!failed_ && !differs_) {
      if (same_ == pageSize) {
        writer_.Discard();  // its empty temporary file may serve the next page
        ::futimens(fd_, nullptr);
        return End::Unchanged;
      }
      Diverge();  // the new page is the old one cut short
    }
    if (!failed_ && writer_.Commit(mode)) return End::Replaced;
    writer_.Abort();
    return End::WriteFailed;
  }

 private:
  // Whether the page holds `bytes` at offset same_.
  bool Matches(std::string_view bytes) {
    std::uint64_t at = same_;
    while (!bytes.empty()) {
      if (at < chunkAt_ || at >= chunkAt_ + chunkSize_) {
        ssize_t got = ::pread(fd_, chunk_.data(), chunk_.size(), static_cast<off_t>(at));
        if (got <= 0) return false;
        chunkAt_ = at;
        chunkSize_ = static_cast<std::size_t>(got);
      }
      std::size_t offset = static_cast<std::size_t>(at - chunkAt_);
      std::size_t n = std::min(bytes.size(), chunkSize_ - offset);
      if (bytes.substr(0, n) != std::string_view(chunk_.data() + offset, n)) return false;
      bytes.remove_prefix(n);
      at += n;
    }
    return true;
  }

  // At the first difference the temporary file is given the bytes that matched.
  bool Diverge() {
    differs_ = true;
    if (chunkAt_ == 0 && chunkSize_ >= same_) {  // all of it is in the chunk read last
      if (same_ > 0 && !writer_.Write(std::string_view(chunk_.data(), same_))) failed_ = true;
      chunkSize_ = 0;
      return !failed_;
    }
    for (std::uint64_t at = 0; at < same_ && !failed_;) {
      std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(chunk_.size(), same_ - at));
      ssize_t got = ::pread(fd_, chunk_.data(), want, static_cast<off_t>(at));
      if (got <= 0 ||
          !writer_.Write(std::string_view(chunk_.data(), static_cast<std::size_t>(got)))) {
        failed_ = true;
      }
      at += got > 0 ? static_cast<std::uint64_t>(got) : 0;
    }
    chunkSize_ = 0;
    return !failed_;
  }

  int fd_;
  platform::AtomicFileWriter& writer_;
  bool differs_ = false;
  bool failed_ = false;
  std::uint64_t same_ = 0;  // the bytes written so far, all equal to the page's
  std::array<char, 8192> chunk_;
  std::uint64_t chunkAt_ = 0;
  std::size_t chunkSize_ = 0;
};

// A page's bytes in blocks of kPageBlockSize, read from the file a buffer at a time.
class BlockReader {
 public:
  explicit BlockReader(platform::ReadableFile& file) : file_(file) {}

  // The next block: full, shorter at the end, then empty. False on a read error.
  bool Next(std::string& block) {
    block.clear();
    while (block.size() < kPageBlockSize) {
      if (at_ == filled_) {
        if (ended_) break;
        long n = file_.Read(buffer_.data(), buffer_.size());
        if (n < 0) return false;
        at_ = 0;
        filled_ = static_cast<std::size_t>(n);
        ended_ = n == 0;
        continue;
      }
      std::size_t n = std::min(kPageBlockSize - block.size(), filled_ - at_);
      block.append(buffer_.data() + at_, n);
      at_ += n;
    }
    return true;
  }

 private:
  platform::ReadableFile& file_;
  std::array<char, 8192> buffer_;
  std::size_t at_ = 0;
  std::size_t filled_ = 0;
  bool ended_ = false;
};

// Where a page stored from the cache goes: every byte into its temporary file.
class WritingSink : public ByteSink {
 public:
  explicit WritingSink(platform::AtomicFileWriter& writer) : writer_(writer) {}

  void Write(std::string_view bytes) override {
    if (!failed_ && !writer_.Write(bytes)) failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  platform::AtomicFileWriter& writer_;
  bool failed_ = false;
};

// Sends the bytes of `page`, read from its start, through the rewriting of `pagePath` into
// `sink`; stops early once the sink has failed. `title` receives the page title. False when
// reading the page failed.
template <typename Sink>
bool RewriteFrom(const JobContext& ctx, std::string_view treeRoot, const std::string& pagePath,
                 bool readRef, platform::ReadableFile& page, Sink& sink, RewriteProbe* probe,
                 std::string& title) {
  PageRewriter rewriter(ctx, treeRoot, pagePath, readRef, sink, probe);
  PageTokenizer tokenizer(rewriter);
  BlockReader reader(page);
  std::string block;
  std::string next;
  bool readOk = reader.Next(block);
  while (readOk && !block.empty() && !sink.failed()) {
    readOk = reader.Next(next);
    tokenizer.FeedBlock(block, std::string_view(next).substr(0, kTokenizerLookahead));
    block.swap(next);
  }
  tokenizer.Finish();
  rewriter.Finish();
  if (probe != nullptr) {
    // Both read blocks, the tokenizer's buffers and the script buffer at their peaks.
    probe->peakHeldBytes += tokenizer.peakHeldBytes() + 2 * kPageBlockSize;
  }
  title = tokenizer.title();
  return readOk;
}

}  // namespace

void RecordLink(const JobContext& ctx, std::string_view link, bool found) {
  if (HasMediaExtension(link)) return;
  std::string copy(link);
  if (copy.find("../") != std::string::npos || copy.find("/./") != std::string::npos) {
    copy = ResolveDotSegments(copy);
  }
  if (!ContainsNoCase(copy, "cgi-bin")) {
    std::size_t cut = FindEither(copy, '#', '?', 10);
    if (cut != std::string::npos) copy.resize(cut);
  }
  if (found) return;
  if (copy.size() < kLinkListMax && FindNoCase(copy, "http") == 0) {
    platform::AppendText(ctx.StartFile("serch.tmp"), copy + " 0\n");  // skipped when it fails
  }
}

PageRewriter::PageRewriter(const JobContext& ctx, std::string_view treeRoot,
                           std::string_view pagePath, bool readRef, ByteSink& out,
                           RewriteProbe* probe)
    : ctx_(ctx),
      treeRoot_(treeRoot),
      pagePath_(pagePath),
      readRef_(readRef),
      out_(out),
      probe_(probe) {
  PathParts parts = SplitPath(pagePath);
  pageDir_ = parts.drive + parts.dir;
  hostDir_ = HostDirOf(pageDir_);
}

void PageRewriter::OnTag(std::string& tag) {
  std::string original = probe_ != nullptr ? tag : std::string();
  RewriteTag(tag);
  EmitSegment(true, probe_ != nullptr ? std::string_view(original) : std::string_view(tag), tag);
}

void PageRewriter::Finish() {
  if (scriptMode_) EmitSegment(true, {}, {});
}

void PageRewriter::RewriteTag(std::string& tag) {
  std::vector<Occurrence> occurrences = FindOccurrences(tag);
  DropOverlaps(occurrences);

  // New values, in table order; found and counterFlag end as those of the last link.
  int found = 0;
  bool counterFlag = false;
  for (Occurrence& occ : occurrences) {
    std::string value = tag.substr(occ.valueAt, occ.valueLength);
    if (IsLink(occ.kind)) {
      DecodeTilde(value);
      found = ResolveLink(ctx_, treeRoot_, value, pagePath_, hostDir_, pageDir_,
                          static_cast<LinkKind>(occ.kind), &counterFlag);
      if (ctx_.unreferencedJob && occ.kind != Attr::Action) RecordLink(ctx_, value, found != 0);
      occ.newValue = std::move(value);
      continue;
    }
    switch (occ.kind) {
      case Attr::Codebase: {
        std::string path;
        std::size_t at = value.find("//");
        if (at != std::string::npos) {
          path = treeRoot_ + value.substr(at + 1);
        } else if (value.empty() || value.front() != '/') {
          path = pageDir_ + value;
        } else {
          path = hostDir_ + value;  // a directory of the page's own host
        }
        path = ChooseDirectory(treeRoot_, path, MarkerReading(treeRoot_, value), ctx_.paths.get());
        if (path.empty() || path.back() != '/') path += '/';
        occ.newValue = FileUrl(path);
        break;
      }
      case Attr::BaseHref: {
        std::string dir = value.substr(0, value.rfind('/') + 1);
        std::string marker = MarkerReading(treeRoot_, dir);
        std::size_t at = dir.find("//");
        if (at != std::string::npos) {
          pageDir_ =
              ChooseDirectory(treeRoot_, treeRoot_ + dir.substr(at + 1), marker, ctx_.paths.get());
        } else if (!marker.empty()) {
          pageDir_ = std::move(marker);  // without "//" only a tree path names a directory
        }
        occ.newValue = std::move(value);
        break;
      }
      case Attr::Language:
      case Attr::Code:
        occ.newValue = std::move(value);
        break;
      case Attr::Href:
      case Attr::Hsef:
      case Attr::Src:
      case Attr::Srd:
      case Attr::Background:
      case Attr::Action:
        break;  // links are handled above
    }
  }

  std::sort(occurrences.begin(), occurrences.end(),
            [](const Occurrence& a, const Occurrence& b) { return a.nameAt < b.nameAt; });
  std::string rebuilt;
  rebuilt.reserve(tag.size() + 64);
  std::size_t pos = 0;
  for (const Occurrence& occ : occurrences) {
    rebuilt.append(tag, pos, occ.nameAt - pos);
    std::string name = tag.substr(occ.nameAt, occ.nameLength);
    switch (occ.kind) {
      case Attr::Href:  // a link that cannot be served locally is disabled: hSef
        if (!readRef_ && found == 0) name[1] = 'S';
        break;
      case Attr::Hsef:
        if (readRef_ || found != 0) name[1] = 'R';
        break;
      case Attr::Src:  // a counter image is not loaded: srD
        if (counterFlag && ctx_.readCnt && found == 0) name[2] = 'D';
        break;
      case Attr::Srd:
        if (!ctx_.readCnt || found != 0) name[2] = 'C';
        break;
      case Attr::Language:
        if (ContainsNoCase(occ.newValue, "avascript")) scriptMode_ = true;
        break;
      case Attr::Background:
      case Attr::Action:
      case Attr::BaseHref:
      case Attr::Codebase:
      case Attr::Code:
        break;
    }
    rebuilt += name;
    std::size_t nameEnd = occ.nameAt + occ.nameLength;
    rebuilt.append(tag, nameEnd, occ.valueAt - nameEnd);
    rebuilt += occ.newValue;
    pos = occ.valueEnd();
  }
  rebuilt.append(tag, pos, std::string::npos);
  tag = std::move(rebuilt);
}

void PageRewriter::EmitSegment(bool isTag, std::string_view original, std::string_view bytes) {
  using Segment = RewriteProbe::Segment;
  if (!scriptMode_) {
    Write(isTag ? Segment::Tag : Segment::Text, original, bytes);
    return;
  }
  if (!isTag) {
    // Held so that its strings can be rewritten; a run past kScriptHold goes out unchanged.
    while (!bytes.empty()) {
      if (script_.size() > kScriptHold) {
        Write(Segment::Script, script_, script_);
        script_.clear();
      }
      std::size_t room = kScriptHold + 1 - script_.size();
      std::size_t take = std::min(room, bytes.size());
      script_.append(bytes.substr(0, take));
      bytes.remove_prefix(take);
      if (probe_ != nullptr) {
        probe_->peakHeldBytes = std::max(probe_->peakHeldBytes, script_.size());
      }
    }
    return;
  }
  if (!script_.empty()) {
    WriteScript();
    script_.clear();
    scriptMode_ = false;
  }
  Write(Segment::Tag, original, bytes);
}

// Writes the held script text with its quoted URL strings resolved.
void PageRewriter::WriteScript() {
  std::string out;
  out.reserve(script_.size() + 64);
  std::size_t pos = 0;
  while (pos < script_.size()) {
    std::size_t open = FindEither(script_, '"', '\'', pos);
    if (open == std::string::npos) break;
    std::size_t close = FindEither(script_, '"', '\'', open + 1);
    out.append(script_, pos, open + 1 - pos);
    pos = open + 1;
    if (close == std::string::npos) break;
    std::string text = script_.substr(open + 1, close - open - 1);
    if (text.find('/') != std::string::npos && text.size() >= kScriptStringMin &&
        text.size() <= kScriptStringMax) {
      ResolveLink(ctx_, treeRoot_, text, pagePath_, hostDir_, pageDir_, LinkKind::ScriptString,
                  nullptr);
    }
    out += text;
    out += script_[close];
    pos = close + 1;
  }
  out.append(script_, pos, std::string::npos);
  Write(RewriteProbe::Segment::Script, script_, out);
}

void PageRewriter::Write(RewriteProbe::Segment kind, std::string_view original,
                         std::string_view written) {
  if (probe_ != nullptr) probe_->OnSegment(kind, original, written);
  out_.Write(written);
}

PageRewrite ReconstructPage(const JobContext& ctx, Frontend& frontend, std::string_view treeRoot,
                            const std::string& pagePath, bool readRef, std::string& title,
                            RewriteProbe* probe, platform::AtomicFileWriter* pageWriter) {
  title.clear();
  const std::string openError = std::string(kOpenError) + pagePath;
  // Only a regular file is rewritten: a link would be replaced by a file, and a FIFO or a
  // device is never read.
  platform::ReadableFile page;
  platform::PathTable* table = ctx.paths.get();
  const bool seen = table != nullptr && table->KindOf(pagePath) == platform::PathTable::Kind::File;
  const platform::OpenError opened =
      seen ? page.OpenSeenRegular(pagePath) : page.Open(pagePath, platform::FollowLinks::No);
  const platform::FileStatus status = page.status();
  // A read-only page is protected even from a user who could write it anyway.
  if (opened != platform::OpenError::None || (status.mode & S_IWUSR) == 0) {
    frontend.ShowMessage(openError);
    return PageRewrite::OpenFailed;
  }
  platform::AtomicFileWriter ownWriter;
  platform::AtomicFileWriter& writer = pageWriter != nullptr ? *pageWriter : ownWriter;
  if (!writer.Open(pagePath)) {
    frontend.ShowMessage(kTempError);
    return PageRewrite::TempFileFailed;
  }

  ReplacingSink sink(page.fd(), writer);
  std::string pageTitle;
  if (!RewriteFrom(ctx, treeRoot, pagePath, readRef, page, sink, probe, pageTitle)) {
    writer.Abort();  // the page stays as it was
    frontend.ShowMessage(openError);
    return PageRewrite::OpenFailed;
  }
  if (sink.Finish(status.size, status.mode & 07777) == ReplacingSink::End::WriteFailed) {
    frontend.ShowMessage(std::string(kWriteError) + pagePath);
    return PageRewrite::WriteFailed;
  }
  title = std::move(pageTitle);
  return PageRewrite::Rewritten;
}

bool StoreRewrittenPage(const JobContext& ctx, std::string_view treeRoot,
                        const std::string& pagePath, bool readRef, platform::ReadableFile& source,
                        mode_t mode, std::string& title) {
  title.clear();
  platform::AtomicFileWriter writer;
  if (!writer.Open(pagePath)) return false;
  WritingSink sink(writer);
  std::string pageTitle;
  if (!RewriteFrom(ctx, treeRoot, pagePath, readRef, source, sink, nullptr, pageTitle) ||
      sink.failed() || !writer.Commit(mode)) {
    return false;  // the writer removes its temporary file: the page stays as it was
  }
  title = std::move(pageTitle);
  return true;
}

}  // namespace lumbra
