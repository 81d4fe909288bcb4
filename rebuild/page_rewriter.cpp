#include "rebuild/page_rewriter.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/ascii.h"
#include "core/log_tree.h"
#include "platform/paths.h"
#include "rebuild/link_resolver.h"
#include "rebuild/tag_attributes.h"

namespace lumbra {
PageRewriter::PageRewriter(const RewriteContext& job, std::string_view treeRoot,
                           std::string_view pagePath, bool readRef, ByteSink& out,
                           RewriteProbe* probe)
    : job_(job),
      treeRoot_(treeRoot),
      pagePath_(pagePath),
      readRef_(readRef),
      out_(out),
      probe_(probe),
      css_([this](std::string& url, bool import) {
        ResolveToday(url, import ? LinkKind::Href : LinkKind::Src);
      }) {
  pageDir_ = platform::SplitPath(pagePath).dir;
  ownDir_ = pageDir_;
  hostDir_ = HostDirOf(pageDir_);
}

void PageRewriter::OnText(std::string_view text) {
  if (context_.place() != MarkupContext::Place::Style || scriptMode_) {
    FlushStyleTail();
    context_.Feed(text);
    EmitSegment(false, text, text);
    return;
  }
  // The tokenizer reads the text of a title whole, tags and all, and cuts text at its blocks'
  // ends: the style element's end tag may lie in this text, or begin in the tail kept from the
  // last. The sheet is what comes before it, all written before the end tag and what follows.
  std::string held;
  held.swap(styleTail_);
  std::string_view sheet = text;
  std::string_view after;  // from the end tag on
  if (!held.empty() || text.find('<') != std::string_view::npos) {
    MarkupContext ahead = context_;
    std::size_t k = 0;
    while (k < text.size()) {
      ahead.Feed(text.substr(k++, 1));
      if (ahead.place() != MarkupContext::Place::Style) break;
    }
    // The end tag, or what may yet become it, begins at the last '<' read: in this text, or
    // (none there) in the tail kept.
    const std::size_t open = text.substr(0, k).rfind('<');
    const bool ended = ahead.place() != MarkupContext::Place::Style;
    if (ended || ahead.MayEndElement()) {
      if (open != std::string_view::npos) {
        sheet = text.substr(0, open);
      } else {
        sheet = {};
        styleTail_.swap(held);  // all of it belongs to the tag
      }
      if (ended) {
        after = text.substr(sheet.size());
      } else {
        styleTail_ += text.substr(sheet.size());
      }
    }
  }
  context_.Feed(text);
  if (!held.empty()) WriteStyle(held);
  if (!sheet.empty()) WriteStyle(sheet);
  if (after.empty()) return;
  // The element ended: its sheet is written whole, then its end tag (with the part of it kept
  // from the last text) as it was.
  FinishStyle();
  std::string tag;
  tag.swap(styleTail_);
  tag += after;
  EmitSegment(false, tag, tag);
}

void PageRewriter::FlushStyleTail() {
  if (styleTail_.empty()) return;
  std::string tail;
  tail.swap(styleTail_);
  WriteStyle(tail);
}

void PageRewriter::OnTag(std::string& tag) {
  using Place = MarkupContext::Place;
  FlushStyleTail();  // a tag begins with '<': the tail before it ends no element
  const Place place = context_.place();
  // A start tag in the text is read once, for the context and for its attributes.
  const TagReading* read = context_.FeedTag(tag, reading_) ? &reading_ : nullptr;
  if (place == Place::QuotedValue) {
    // For a browser this is text inside a value: rewriting it would change the markup.
    EmitSegment(true, tag, tag);
    return;
  }
  if (place == Place::Style) {
    if (context_.place() == Place::Style && !scriptMode_) {
      WriteStyle(tag);  // a '<' inside the style sheet
      return;
    }
    FinishStyle();  // the element's end tag
  }
  std::string original = probe_ != nullptr ? tag : std::string();
  RewriteTag(tag, read);
  EmitSegment(true, probe_ != nullptr ? std::string_view(original) : std::string_view(tag), tag);
}

void PageRewriter::OnOpenTag(std::string_view tag) {
  FlushStyleTail();
  context_.Feed(tag);
  FinishStyle();
  EmitSegment(true, tag, tag);
}

void PageRewriter::Finish() {
  FlushStyleTail();
  FinishStyle();
  if (scriptMode_) EmitSegment(true, {}, {});
}

void PageRewriter::WriteStyle(std::string_view text) {
  cssOut_.clear();
  css_.Feed(text, cssOut_);
  if (probe_ != nullptr) probe_->peakHeldBytes = std::max(probe_->peakHeldBytes, heldBytes());
  Write(RewriteProbe::Segment::Style, text, cssOut_);
}

void PageRewriter::FinishStyle() {
  cssOut_.clear();
  css_.Finish(cssOut_);
  if (!cssOut_.empty()) Write(RewriteProbe::Segment::Style, {}, cssOut_);
  std::string().swap(cssOut_);  // nothing of a style element is held past its end
}

void PageRewriter::ResolveToday(std::string& link, LinkKind kind) {
  ResolvePageLink(job_, Location(), link, kind, LinkForm::Today, job_.links, nullptr);
}

void PageRewriter::RewriteTag(std::string& tag, const TagReading* read) {
  std::vector<Occurrence> occurrences = FindAttributes(tag, read);
  if (occurrences.empty()) return;  // most tags hold no link: they stay as they are

  // New values, in table order; found and counterFlag end as those of the last link.
  int found = 0;
  bool counterFlag = false;
  for (Occurrence& occ : occurrences) {
    std::string value = tag.substr(occ.valueAt, occ.valueLength);
    const Attr kind = occ.attribute->kind;
    if (occ.attribute->today) {
      // Today's forms leave found and counterFlag to the links of the 1990s.
      if (kind == Attr::Srcset) {
        value =
            RewriteSrcset(value, [this](std::string& url) { ResolveToday(url, LinkKind::Src); });
      } else if (kind == Attr::Style) {
        // Character references would have to be read first; such a value stays as it is.
        if (value.find('&') == std::string::npos) {
          value = RewriteCss(value, [this](std::string& url, bool import) {
            ResolveToday(url, import ? LinkKind::Href : LinkKind::Src);
          });
        }
      } else if (occ.attribute->link) {
        ResolveToday(value, *occ.attribute->link);
      }
      occ.newValue = std::move(value);
      continue;
    }
    if (const std::optional<LinkKind> link = occ.attribute->link) {
      DecodeTilde(value);
      // A form's target is no link a reader follows.
      found = ResolvePageLink(job_, Location(), value, *link, LinkForm::Legacy,
                              kind != Attr::Action ? job_.links : nullptr, &counterFlag);
      occ.newValue = std::move(value);
      continue;
    }
    switch (kind) {
      case Attr::Codebase: {
        std::string path;
        std::size_t at = value.find("//");
        if (at != std::string::npos) {
          path = treeRoot_ + value.substr(at + 1);
        } else if (value.empty() || value.front() != '/') {
          path = pageDir_ + value;
          // "../" taken out as a browser does, so that the relative form Lumbra wrote reads
          // back as the directory it names; never above the tree.
          if (std::string clean = platform::CleanAbsolutePath(path);
              clean.starts_with(platform::CleanAbsolutePath(treeRoot_ + "/"))) {
            path = std::move(clean);
          }
        } else {
          path = hostDir_ + value;  // a directory of the page's own host
        }
        path = ChooseDirectory(job_.paths, treeRoot_, path, MarkerReading(treeRoot_, value));
        if (path.empty() || path.back() != '/') path += '/';
        occ.newValue = job_.ctx.LocalLink(Location().linkFrom, path);
        break;
      }
      case Attr::BaseHref: {
        baseSeen_ = true;
        std::string dir = value.substr(0, value.rfind('/') + 1);
        std::string marker = MarkerReading(treeRoot_, dir);
        std::size_t at = dir.find("//");
        if (at != std::string::npos) {
          pageDir_ = ChooseDirectory(job_.paths, treeRoot_, treeRoot_ + dir.substr(at + 1), marker);
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
      case Attr::Srcset:
      case Attr::Poster:
      case Attr::Style:
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
    switch (occ.attribute->kind) {
      case Attr::Href:  // a link that cannot be served locally is disabled: hSef
        if (!readRef_ && found == 0) name[1] = 'S';
        break;
      case Attr::Hsef:
        if (readRef_ || found != 0) name[1] = 'R';
        break;
      case Attr::Src:  // a counter image is not loaded: srD
        if (counterFlag && job_.ctx.readCnt && found == 0) name[2] = 'D';
        break;
      case Attr::Srd:
        if (!job_.ctx.readCnt || found != 0) name[2] = 'C';
        break;
      case Attr::Language:
        // A tag a browser reads on past (a value's quote still open) is not over: what
        // follows it is no script.
        if (ContainsNoCase(occ.newValue, "avascript") &&
            context_.place() != MarkupContext::Place::QuotedValue) {
          scriptMode_ = true;
        }
        break;
      case Attr::Background:
      case Attr::Action:
      case Attr::BaseHref:
      case Attr::Codebase:
      case Attr::Code:
      case Attr::Srcset:
      case Attr::Poster:
      case Attr::Style:
        break;
    }
    rebuilt += name;
    std::size_t nameEnd = occ.nameAt + occ.nameLength;
    rebuilt.append(tag, nameEnd, occ.valueAt - nameEnd);
    AppendAttributeValue(rebuilt, occ.newValue,
                         std::string_view(tag).substr(occ.valueAt, occ.valueLength), occ.quote);
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
      ResolvePageLink(job_, Location(), text, LinkKind::ScriptString, LinkForm::Legacy, nullptr,
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

}  // namespace lumbra
