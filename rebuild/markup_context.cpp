#include "rebuild/markup_context.h"

#include <cstring>

#include "core/ascii.h"

namespace lumbra {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The elements whose text a browser reads as text up to their end tag.
constexpr std::string_view kRawTextElements[] = {"style", "script", "title",   "textarea",
                                                 "xmp",   "iframe", "noembed", "noframes"};

// The position of the first `c` in `bytes` from `i` on, or bytes.size().
std::size_t NextOf(std::string_view bytes, std::size_t i, char c) {
  if (i >= bytes.size()) return bytes.size();
  const void* at = std::memchr(bytes.data() + i, c, bytes.size() - i);
  return at == nullptr ? bytes.size() : static_cast<const char*>(at) - bytes.data();
}

}  // namespace

TagState StepTag(TagState state, char c) {
  // A byte that ends one state is read again in the next where the standard says so.
  for (;;) {
    switch (state) {
      case TagState::Name:
        if (IsHtmlSpace(c)) return TagState::BeforeAttrName;
        if (c == '/') return TagState::SelfClosing;
        if (c == '>') return TagState::Closed;
        return TagState::Name;
      case TagState::BeforeAttrName:
        if (IsHtmlSpace(c)) return state;
        if (c == '/' || c == '>') {
          state = TagState::AfterAttrName;
          continue;
        }
        return TagState::AttrName;
      case TagState::AttrName:
        if (IsHtmlSpace(c) || c == '/' || c == '>') {
          state = TagState::AfterAttrName;
          continue;
        }
        if (c == '=') return TagState::BeforeValue;
        return TagState::AttrName;
      case TagState::AfterAttrName:
        if (IsHtmlSpace(c)) return state;
        if (c == '/') return TagState::SelfClosing;
        if (c == '=') return TagState::BeforeValue;
        if (c == '>') return TagState::Closed;
        return TagState::AttrName;
      case TagState::BeforeValue:
        if (IsHtmlSpace(c)) return state;
        if (c == '"') return TagState::ValueDoubleQuoted;
        if (c == '\'') return TagState::ValueSingleQuoted;
        if (c == '>') return TagState::Closed;
        return TagState::ValueUnquoted;
      case TagState::ValueDoubleQuoted:
        return c == '"' ? TagState::AfterQuotedValue : state;
      case TagState::ValueSingleQuoted:
        return c == '\'' ? TagState::AfterQuotedValue : state;
      case TagState::ValueUnquoted:
        if (IsHtmlSpace(c)) return TagState::BeforeAttrName;
        if (c == '>') return TagState::Closed;
        return state;
      case TagState::AfterQuotedValue:
        if (IsHtmlSpace(c)) return TagState::BeforeAttrName;
        if (c == '/') return TagState::SelfClosing;
        if (c == '>') return TagState::Closed;
        state = TagState::BeforeAttrName;
        continue;
      case TagState::SelfClosing:
        if (c == '>') return TagState::Closed;
        state = TagState::BeforeAttrName;
        continue;
      case TagState::Closed:
        return state;
    }
  }
}

MarkupContext::Place MarkupContext::place() const {
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

void MarkupContext::Feed(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) i = Step(bytes, i);
}

// The tag just closed: what follows it is text, or the text of a raw-text element.
void MarkupContext::EndTag() {
  state_ = State::Data;
  if (endTag_) return;
  if (nameLength_ > name_.size()) return;
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

std::size_t MarkupContext::Step(std::string_view bytes, std::size_t i) {
  const char c = bytes[i];
  switch (state_) {
    case State::Data:
      if (c != '<') return NextOf(bytes, i, '<');
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
      if (tag_ == TagState::Name && !IsHtmlSpace(c) && c != '/' && c != '>') {
        // A name longer than the longest of ours is marked too long, and matches none.
        if (nameLength_ < name_.size()) {
          name_[nameLength_++] = LowerAscii(c);
        } else {
          nameLength_ = name_.size() + 1;
        }
        return i + 1;
      }
      if (tag_ == TagState::ValueDoubleQuoted || tag_ == TagState::ValueSingleQuoted) {
        const char quote = tag_ == TagState::ValueDoubleQuoted ? '"' : '\'';
        if (c != quote) return NextOf(bytes, i, quote);
      }
      tag_ = StepTag(tag_, c);
      if (tag_ == TagState::Closed) EndTag();
      return i + 1;
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
      if (c != '-') return NextOf(bytes, i, '-');
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
      if (c != '>') return NextOf(bytes, i, '>');
      state_ = State::Data;
      return i + 1;
    case State::RawText:
      if (c != '<') return NextOf(bytes, i, '<');
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
