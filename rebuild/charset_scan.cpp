#include "rebuild/charset_scan.h"

#include <cstdint>
#include <cstring>

#include "core/ascii.h"
#include "core/encoding_label.h"

namespace lumbra {
namespace {

// The blanks of markup: tab, line feed, form feed, carriage return, space.
bool IsBlank(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

constexpr std::string_view kBoms[] = {"\xEF\xBB\xBF", "\xFE\xFF", "\xFF\xFE"};
constexpr std::string_view kBomEncodings[] = {"utf-8", "utf-16be", "utf-16le"};
constexpr std::size_t kNameMax = 10;  // "http-equiv", the longest name that counts

// The encoding a <meta> content attribute names ("text/html; charset=utf-8"), as the HTML
// standard extracts it; empty when it names none.
std::string EncodingInMetaContent(std::string_view content) {
  std::size_t at = 0;
  for (;;) {
    std::size_t found = FindNoCase(content.substr(at), "charset");
    if (found == std::string_view::npos) return {};
    at += found + 7;
    while (at < content.size() && IsBlank(content[at])) ++at;
    if (at >= content.size() || content[at] != '=') continue;  // search again from here
    ++at;
    while (at < content.size() && IsBlank(content[at])) ++at;
    if (at >= content.size()) return {};
    const char first = content[at];
    if (first == '"' || first == '\'') {
      std::size_t end = content.find(first, at + 1);
      if (end == std::string_view::npos) return {};
      return EncodingForLabel(content.substr(at + 1, end - at - 1));
    }
    std::size_t end = at;
    while (end < content.size() && !IsBlank(content[end]) && content[end] != ';') ++end;
    return EncodingForLabel(content.substr(at, end - at));
  }
}

}  // namespace

void CharsetScan::Feed(std::string_view bytes) {
  CheckUtf8(bytes);
  // The position of the next `c` from `from` on, or the end of the bytes.
  auto next = [&](char c, std::size_t from) {
    const void* at = std::memchr(bytes.data() + from, c, bytes.size() - from);
    return at == nullptr ? bytes.size()
                         : static_cast<std::size_t>(static_cast<const char*>(at) - bytes.data());
  };
  std::size_t i = 0;
  while (i < bytes.size() && state_ != State::Found) {
    // Most of a page is text, and most of its tags the values of links: where only one byte
    // can change the state, the bytes up to it are passed over at once.
    switch (state_) {
      case State::Data:
        i = next('<', i);
        break;
      case State::Bogus:
        i = next('>', i);
        break;
      case State::QuotedValue:
        if (!keepValue_) i = next(quote_, i);
        break;
      case State::Name:
        // The rest of a name of a tag other than meta tells nothing.
        if (meta_ || name_.empty()) break;
        while (i < bytes.size() && !IsBlank(bytes[i]) && bytes[i] != '=' && bytes[i] != '/' &&
               bytes[i] != '>') {
          ++i;
        }
        break;
      case State::UnquotedValue:
        if (keepValue_) break;
        [[fallthrough]];
      case State::TagName:
        while (i < bytes.size() && !IsBlank(bytes[i]) && bytes[i] != '>') ++i;
        break;
      default:
        break;
    }
    if (i < bytes.size()) Step(bytes[i++]);
  }
}

void CharsetScan::Finish() {
  if (state_ == State::Bom) {
    state_ = State::Data;
    std::string head;
    head.swap(open_);
    Replay(head);
  }
}

void CharsetScan::Replay(std::string_view bytes) {
  for (char c : bytes) {
    if (state_ == State::Found) return;
    Step(c);
  }
}

void CharsetScan::Step(char c) {
  switch (state_) {
    case State::Bom: {
      open_ += c;
      for (std::size_t k = 0; k < std::size(kBoms); ++k) {
        if (open_ == kBoms[k]) {
          declared_ = kBomEncodings[k];
          state_ = State::Found;
          return;
        }
      }
      for (std::string_view bom : kBoms) {
        if (bom.starts_with(open_)) return;  // it may still become one
      }
      state_ = State::Data;
      std::string head;
      head.swap(open_);
      Replay(head);
      return;
    }
    case State::Data:
      if (c == '<') {
        state_ = State::Open;
        open_.clear();
      }
      return;
    case State::Open: {
      open_ += c;
      const char first = open_[0];
      if (first == '!') {
        if (open_ == "!--") {
          state_ = State::Comment;
          dashes_ = 2;  // "<!-->" ends the comment at once
        } else if (!std::string_view("!--").starts_with(open_)) {
          state_ = State::Bogus;
          Replay(std::string(open_.substr(1)));
        }
      } else if (first == '/') {
        if (open_.size() == 1) return;
        if (IsLetter(open_[1])) {
          StartTag(false);
        } else {
          state_ = State::Bogus;
          Replay(std::string(open_.substr(1)));
        }
      } else if (first == '?') {
        state_ = State::Bogus;
      } else if (IsLetter(first)) {
        // Only a <meta> tag is read for its attributes; any other is passed over.
        if (open_.size() == 1 && LowerAscii(first) != 'm') {
          StartTag(false);
          return;
        }
        const std::string lower = LowerAscii(open_);
        if (open_.size() <= 4 && std::string_view("meta").starts_with(lower)) return;
        if (open_.size() == 5 && lower.starts_with("meta") && (IsBlank(c) || c == '/')) {
          StartTag(true);
          return;  // the blank or '/' only ends the name
        }
        const std::string rest = open_.substr(1);
        StartTag(false);
        Replay(rest);
      } else {
        // A '<' that opens nothing: what follows it is looked at again.
        state_ = State::Data;
        Replay(std::string(open_));
      }
      return;
    }
    case State::Comment:
      if (c == '>' && dashes_ >= 2) {
        state_ = State::Data;
      } else if (c == '-') {
        dashes_ = dashes_ < 2 ? dashes_ + 1 : 2;
      } else {
        dashes_ = 0;
      }
      return;
    case State::Bogus:
      if (c == '>') state_ = State::Data;
      return;
    case State::TagName:
      if (IsBlank(c) || c == '>') {
        state_ = State::BeforeName;
        Step(c);
      }
      return;
    case State::BeforeName:
      if (c == '>') {
        EndTag();
      } else if (!IsBlank(c) && c != '/') {
        name_.clear();
        nameLong_ = false;
        state_ = State::Name;
        Step(c);
      }
      return;
    case State::Name:
      if (c == '=' && (!name_.empty() || nameLong_)) {
        state_ = State::BeforeValue;
        value_.clear();
        keepValue_ =
            meta_ && !nameLong_ &&
            ((name_ == "http-equiv" && !seenHttpEquiv_) || (name_ == "content" && !seenContent_) ||
             (name_ == "charset" && !seenCharset_));
      } else if (IsBlank(c)) {
        state_ = State::AfterName;
      } else if (c == '/' || c == '>') {
        value_.clear();
        EndAttribute();
        Step(c);
      } else {
        AppendName(c);
      }
      return;
    case State::AfterName:
      if (c == '=') {
        state_ = State::Name;
        Step(c);
      } else if (!IsBlank(c)) {
        value_.clear();
        EndAttribute();
        Step(c);
      }
      return;
    case State::BeforeValue:
      if (c == '"' || c == '\'') {
        quote_ = c;
        state_ = State::QuotedValue;
      } else if (c == '>') {
        EndAttribute();
        Step(c);
      } else if (!IsBlank(c)) {
        AppendValue(c);
        state_ = State::UnquotedValue;
      }
      return;
    case State::QuotedValue:
      if (c == quote_) {
        EndAttribute();
      } else {
        AppendValue(c);
      }
      return;
    case State::UnquotedValue:
      if (IsBlank(c) || c == '>') {
        EndAttribute();
        Step(c);
      } else {
        AppendValue(c);
      }
      return;
    case State::Found:
      return;
  }
}

void CharsetScan::StartTag(bool meta) {
  meta_ = meta;
  state_ = meta ? State::BeforeName : State::TagName;
  if (!meta) return;
  seenHttpEquiv_ = seenContent_ = seenCharset_ = false;
  gotPragma_ = false;
  pragma_ = Pragma::Unset;
  charset_.reset();
}

void CharsetScan::AppendName(char c) {
  // Of another tag's names only whether one has begun counts.
  if (nameLong_ || (!meta_ && !name_.empty())) return;
  if (name_.size() == kNameMax) {
    nameLong_ = true;  // no name that counts is this long
    name_.clear();
    return;
  }
  name_ += LowerAscii(c);
}

void CharsetScan::AppendValue(char c) {
  if (!keepValue_ || value_.size() >= kMetaValueMax) return;
  // Blanks before a label or a content value change nothing; before http-equiv's they do.
  if (value_.empty() && IsBlank(c) && name_ != "http-equiv") return;
  value_ += LowerAscii(c);
}

void CharsetScan::EndAttribute() {
  state_ = State::BeforeName;
  if (!meta_ || nameLong_) return;
  if (name_ == "http-equiv" && !seenHttpEquiv_) {
    seenHttpEquiv_ = true;
    gotPragma_ = value_ == "content-type";
  } else if (name_ == "content" && !seenContent_) {
    seenContent_ = true;
    if (!charset_) {
      std::string encoding = EncodingInMetaContent(value_);
      if (!encoding.empty()) {
        charset_ = std::move(encoding);
        pragma_ = Pragma::Needed;
      }
    }
  } else if (name_ == "charset" && !seenCharset_) {
    seenCharset_ = true;
    charset_ = EncodingForLabel(value_);
    pragma_ = Pragma::NotNeeded;
  }
}

void CharsetScan::EndTag() {
  state_ = State::Data;
  if (!meta_ || pragma_ == Pragma::Unset || !charset_ || charset_->empty()) return;
  if (pragma_ == Pragma::Needed && !gotPragma_) return;
  if (*charset_ == "utf-16be" || *charset_ == "utf-16le") {
    declared_ = "utf-8";
  } else if (*charset_ == "x-user-defined") {
    declared_ = "windows-1252";
  } else {
    declared_ = *charset_;
  }
  state_ = State::Found;
}

void CharsetScan::CheckUtf8(std::string_view bytes) {
  for (std::size_t k = 0; k < bytes.size() && utf8_; ++k) {
    if (need_ == 0) {
      // Runs of ASCII, eight bytes at a time.
      while (bytes.size() - k >= 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + k, 8);
        if ((word & 0x8080808080808080ULL) != 0) break;
        k += 8;
      }
      while (k < bytes.size() && static_cast<unsigned char>(bytes[k]) < 0x80) ++k;
      if (k == bytes.size()) return;
    }
    const auto b = static_cast<unsigned char>(bytes[k]);
    if (need_ > 0) {
      if (b < lo_ || b > hi_) {
        utf8_ = false;
        return;
      }
      lo_ = 0x80;
      hi_ = 0xBF;
      --need_;
      continue;
    }
    if (b < 0x80) continue;
    // The second byte's range excludes overlong forms, surrogates and code points past
    // U+10FFFF.
    if (b >= 0xC2 && b <= 0xDF) {
      need_ = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need_ = 2;
      lo_ = b == 0xE0 ? 0xA0 : 0x80;
      hi_ = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need_ = 3;
      lo_ = b == 0xF0 ? 0x90 : 0x80;
      hi_ = b == 0xF4 ? 0x8F : 0xBF;
    } else {
      utf8_ = false;
    }
  }
}

}  // namespace lumbra
