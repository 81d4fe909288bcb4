#include "rebuild/markup_context.h"

#include "core/ascii.h"

namespace lumbra {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The elements whose text a browser reads as text up to their end tag.
constexpr std::string_view kRawTextElements[] = {"style", "script", "title",   "textarea",
                                                 "xmp",   "iframe", "noembed", "noframes"};

// Whether a tag name beginning with `c` may be one of plaintext and the raw-text elements.
bool IsRawTextInitial(char c) {
  switch (LowerAscii(c)) {
    case 's':
    case 't':
    case 'x':
    case 'i':
    case 'n':
    case 'p':
      return true;
    default:
      return false;
  }
}

}  // namespace

void ReadTag(std::string_view tag, TagReading& reading) {
  std::vector<BrowserAttribute>& attributes = reading.attributes;
  attributes.clear();
  const std::size_t n = tag.size();
  TagState state = TagState::Name;
  std::size_t i = 1;
  // A name or a value is passed over as a run; the byte after it moves on as StepTag says.
  while (i < n && state != TagState::Closed) {
    switch (state) {
      case TagState::Name:
      case TagState::AttrName:
      case TagState::ValueUnquoted:
        while (i < n && KeepsTagState(state, tag[i])) ++i;
        if (state == TagState::AttrName) attributes.back().nameEnd = i;
        if (state == TagState::ValueUnquoted) attributes.back().valueEnd = i;
        if (i == n) continue;
        if (state == TagState::ValueUnquoted) attributes.back().closed = true;
        state = StepTag(state, tag[i++]);
        break;
      case TagState::ValueDoubleQuoted:
      case TagState::ValueSingleQuoted:
        i = FindByte(tag, i, state == TagState::ValueDoubleQuoted ? '"' : '\'');
        attributes.back().valueEnd = i;
        if (i == n) continue;
        attributes.back().closed = true;
        state = TagState::AfterQuotedValue;
        ++i;
        break;
      default: {
        const TagState next = StepTag(state, tag[i]);
        if (next == TagState::AttrName) {
          attributes.push_back({});
          attributes.back().nameAt = i;
        } else if (next == TagState::ValueDoubleQuoted || next == TagState::ValueSingleQuoted ||
                   next == TagState::ValueUnquoted) {
          BrowserAttribute& attr = attributes.back();
          attr.hasValue = true;
          attr.quote = next == TagState::ValueDoubleQuoted   ? '"'
                       : next == TagState::ValueSingleQuoted ? '\''
                                                             : 0;
          attr.valueAt = attr.quote != 0 ? i + 1 : i;
        }
        state = next;
        ++i;
        break;
      }
    }
  }
  // What the tag leaves open runs on past it for a browser.
  reading.end = state;
}

MarkupContext::Place MarkupContext::PlaceOutsideText() const {
  switch (state_) {
    case State::InTag:
      return tag_ == TagState::ValueDoubleQuoted || tag_ == TagState::ValueSingleQuoted
                 ? Place::QuotedValue
                 : Place::Markup;
    case State::RawText:
    case State::RawTextLess:
    case State::RawTextEnd:
      return rawName_ == "style" ? Place::Style : Place::Markup;
    default:
      return Place::Markup;
  }
}

void MarkupContext::FeedMarkup(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (state_ == State::Data) {  // text, the most of a page, runs to the next '<'
      i = FindByte(bytes, i, '<');
      if (i == bytes.size()) break;
      state_ = State::TagOpen;
      ++i;
      continue;
    }
    i = Step(bytes, i);
  }
}

bool MarkupContext::FeedTag(std::string_view tag, TagReading& reading) {
  if (state_ == State::Data && tag.size() >= 2) {
    const bool end = tag[1] == '/';
    const std::size_t nameAt = end ? 2 : 1;
    if (nameAt < tag.size() && IsAsciiLetter(tag[nameAt])) {
      const bool plain = tag.back() == '>' && FindEither(tag, '"', '\'') == std::string::npos;
      if (end && plain) return false;  // an end tag: the text goes on
      if (!end) {
        state_ = State::InTag;
        endTag_ = false;
        KeepName(tag);
        tag_ = TagState::Closed;
        if (!plain) {
          ReadTag(tag, reading);
          tag_ = reading.end;
        }
        if (tag_ == TagState::Closed) EndTag();
        return !plain;
      }
    }
  }
  Feed(tag);
  return false;
}

void MarkupContext::KeepName(std::string_view tag) {
  nameLength_ = name_.size() + 1;  // matches none
  if (!IsRawTextInitial(tag[1])) return;
  std::size_t end = 1;
  while (end < tag.size() && end <= name_.size() && KeepsTagState(TagState::Name, tag[end])) {
    ++end;
  }
  if (end > name_.size()) return;
  nameLength_ = end - 1;
  for (std::size_t i = 0; i < nameLength_; ++i) name_[i] = LowerAscii(tag[1 + i]);
}

// The tag just closed: what follows it is text, or the text of a raw-text element.
void MarkupContext::EndTag() {
  state_ = State::Data;
  if (endTag_ || nameLength_ < 3 || nameLength_ > name_.size()) return;
  std::string_view name(name_.data(), nameLength_);
  if (name == "plaintext") {
    state_ = State::Plaintext;
    return;
  }
  for (std::string_view raw : kRawTextElements) {
    if (name == raw) {
      state_ = State::RawText;
      rawName_ = raw;
      return;
    }
  }
}

// A tag is read in one go, as far as `bytes` goes: names and values are passed over as runs.
std::size_t MarkupContext::StepInTag(std::string_view bytes, std::size_t i) {
  while (i < bytes.size()) {
    const char c = bytes[i];
    if (tag_ == TagState::Name && KeepsTagState(TagState::Name, c)) {
      // A name longer than the longest of ours is marked too long, and matches none.
      if (nameLength_ < name_.size()) {
        name_[nameLength_++] = LowerAscii(c);
      } else {
        nameLength_ = name_.size() + 1;
      }
      ++i;
      continue;
    }
    if (tag_ == TagState::ValueDoubleQuoted || tag_ == TagState::ValueSingleQuoted) {
      const char quote = tag_ == TagState::ValueDoubleQuoted ? '"' : '\'';
      if (c != quote) {
        i = FindByte(bytes, i, quote);
        continue;
      }
    }
    tag_ = StepTag(tag_, c);
    ++i;
    if (tag_ == TagState::Closed) {
      EndTag();
      return i;
    }
    while (i < bytes.size() && tag_ != TagState::Name && KeepsTagState(tag_, bytes[i])) ++i;
  }
  return i;
}

std::size_t MarkupContext::Step(std::string_view bytes, std::size_t i) {
  const char c = bytes[i];
  switch (state_) {
    case State::Data:
      if (c != '<') return FindByte(bytes, i, '<');
      state_ = State::TagOpen;
      return i + 1;
    case State::TagOpen:
      if (IsAsciiLetter(c)) {
        state_ = State::InTag;
        tag_ = TagState::Name;
        endTag_ = false;
        nameLength_ = 0;
        return i;  // the letter begins the name
      }
      if (c == '!') {
        state_ = State::MarkupOpen;
        return i + 1;
      }
      if (c == '/') {
        state_ = State::EndTagOpen;
        return i + 1;
      }
      state_ = c == '?' ? State::Bogus : State::Data;
      return c == '?' ? i + 1 : i;  // any other byte is text; a '<' opens again
    case State::EndTagOpen:
      if (IsAsciiLetter(c)) {
        state_ = State::InTag;
        tag_ = TagState::Name;
        endTag_ = true;
        nameLength_ = 0;
        return i;
      }
      state_ = c == '>' ? State::Data : State::Bogus;
      return i + 1;
    case State::InTag:
      return StepInTag(bytes, i);
    case State::MarkupOpen:
      state_ = c == '-' ? State::MarkupDash : State::Bogus;
      return c == '-' ? i + 1 : i;
    case State::MarkupDash:
      state_ = c == '-' ? State::CommentStart : State::Bogus;
      return c == '-' ? i + 1 : i;
    case State::CommentStart:
      state_ = c == '-' ? State::CommentStartDash : c == '>' ? State::Data : State::Comment;
      return c == '-' || c == '>' ? i + 1 : i;
    case State::CommentStartDash:
      state_ = c == '-' ? State::CommentEnd : c == '>' ? State::Data : State::Comment;
      return c == '-' || c == '>' ? i + 1 : i;
    case State::Comment:
      if (c != '-') return FindByte(bytes, i, '-');
      state_ = State::CommentEndDash;
      return i + 1;
    case State::CommentEndDash:
      state_ = c == '-' ? State::CommentEnd : State::Comment;
      return c == '-' ? i + 1 : i;
    case State::CommentEnd:
      if (c == '>') state_ = State::Data;
      if (c == '!') state_ = State::CommentEndBang;
      if (c != '>' && c != '!' && c != '-') state_ = State::Comment;
      return i + 1;
    case State::CommentEndBang:
      state_ = c == '-' ? State::CommentEndDash : c == '>' ? State::Data : State::Comment;
      return c == '-' || c == '>' ? i + 1 : i;
    case State::Bogus:
      if (c != '>') return FindByte(bytes, i, '>');
      state_ = State::Data;
      return i + 1;
    case State::RawText:
      if (c != '<') return FindByte(bytes, i, '<');
      state_ = State::RawTextLess;
      return i + 1;
    case State::RawTextLess:
      state_ = c == '/' ? State::RawTextEnd : State::RawText;
      matched_ = 0;
      return c == '/' ? i + 1 : i;
    case State::RawTextEnd:
      if (matched_ < rawName_.size()) {
        if (LowerAscii(c) != rawName_[matched_]) {
          state_ = State::RawText;
          return i;
        }
        ++matched_;
        return i + 1;
      }
      if (IsHtmlSpace(c) || c == '/' || c == '>') {
        // The end tag: read on as a tag, so its '>' ends the element.
        state_ = State::InTag;
        endTag_ = true;
        nameLength_ = 0;
        tag_ = TagState::Name;
        return i;
      }
      state_ = State::RawText;
      return i;
    case State::Plaintext:
      return bytes.size();
  }
  return i + 1;
}

}  // namespace lumbra
