#include "rebuild/css_rewriter.h"

#include <cstring>

#include "core/ascii.h"

namespace lumbra {
namespace {

constexpr std::string_view kUrl = "url";
constexpr std::string_view kImport = "import";

// A byte of a CSS name (non-ASCII bytes included, as CSS takes them).
bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsNewline(char c) { return c == '\n' || c == '\r' || c == '\f'; }
bool IsCssSpace(char c) { return c == ' ' || c == '\t' || IsNewline(c); }
bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && !IsCssSpace(c)) || byte == 0x7f;
}

// Whether a byte of a resolved URL must be percent-encoded where it is written: in a string
// quoted with `quote`, or unquoted (quote 0) inside url().
bool NeedsEncoding(char c, char quote) {
  if (c == '\\' || IsNewline(c) || IsControl(c)) return true;
  if (quote != 0) return c == quote;
  return IsCssSpace(c) || c == '"' || c == '\'' || c == '(' || c == ')';
}

}  // namespace

void CssRewriter::Feed(std::string_view css, std::string& out) {
  std::size_t run = 0;  // the bytes from here on go out as they came, unless a URL is held
  std::size_t i = 0;
  while (i < css.size()) {
    const char c = css[i];
    switch (state_) {
      case State::Normal: {
        if (IsNameByte(c)) {
          nameIsUrl_ =
              nameIsUrl_ && nameLength_ < kUrl.size() && LowerAscii(c) == kUrl[nameLength_];
          ++nameLength_;
          ++i;
          break;
        }
        const bool url = c == '(' && nameIsUrl_ && nameLength_ == kUrl.size();
        nameLength_ = 0;
        nameIsUrl_ = true;
        if (url) {
          state_ = State::UrlOpen;
        } else if (c == '\\') {
          state_ = State::Escape;  // an escaped name is no "url"
          nameIsUrl_ = false;
          nameLength_ = 1;
        } else if (c == '/') {
          state_ = State::Slash;
        } else if (c == '"' || c == '\'') {
          state_ = State::String;
          quote_ = c;
        } else if (c == '@') {
          state_ = State::AtKeyword;
          atMatched_ = 0;
        }
        ++i;
        break;
      }
      case State::Escape:
        state_ = State::Normal;
        ++i;
        break;
      case State::Slash:
        if (c == '*') {
          state_ = State::Comment;
          ++i;
        } else {
          state_ = State::Normal;  // read again
        }
        break;
      case State::Comment: {
        const void* star = std::memchr(css.data() + i, '*', css.size() - i);
        if (star == nullptr) {
          i = css.size();
          break;
        }
        i = static_cast<const char*>(star) - css.data() + 1;
        state_ = State::CommentStar;
        break;
      }
      case State::CommentStar:
        if (c == '/') state_ = State::Normal;
        if (c != '/' && c != '*') state_ = State::Comment;
        ++i;
        break;
      case State::String:
        if (c == '\\') state_ = State::StringEscape;
        if (c == quote_ || IsNewline(c)) state_ = State::Normal;
        ++i;
        break;
      case State::StringEscape:
        state_ = State::String;
        ++i;
        break;
      case State::AtKeyword:
        if (atMatched_ < kImport.size() && LowerAscii(c) == kImport[atMatched_]) {
          ++atMatched_;
          ++i;
        } else if (atMatched_ == kImport.size() && !IsNameByte(c) && c != '\\') {
          state_ = State::ImportGap;  // read again
        } else {
          // Another at-rule: the rest of its name is passed over as a name that is no "url".
          state_ = State::Normal;
          nameIsUrl_ = false;
          nameLength_ = 1;
        }
        break;
      case State::ImportGap:
        if (IsCssSpace(c)) {
          ++i;
        } else if (c == '"' || c == '\'') {
          ++i;
          StartUrl(css, i, run, out, true, c);
          state_ = State::UrlQuoted;
        } else {
          state_ = State::Normal;  // url( or anything else, read again
        }
        break;
      case State::UrlOpen:
        if (IsCssSpace(c)) {
          ++i;
        } else if (c == '"' || c == '\'') {
          ++i;
          StartUrl(css, i, run, out, false, c);
          state_ = State::UrlQuoted;
        } else if (c == ')') {
          state_ = State::Normal;
          ++i;
        } else {
          StartUrl(css, i, run, out, false, 0);
          state_ = State::UrlUnquoted;  // read again
        }
        break;
      case State::UrlQuoted:
        if (c == quote_) {
          urlLength_ = held_.size();
          EndUrl(i, run, out);  // the quote goes out after it
          state_ = State::Normal;
          ++i;
        } else if (IsNewline(c)) {
          DropUrl(i, run, out);  // a string broken by a line end
          state_ = State::Normal;
        } else {
          if (c == '\\') {
            escaped_ = true;
            state_ = State::UrlQuotedEscape;
          }
          Hold(c, i, run, out);
          ++i;
        }
        break;
      case State::UrlQuotedEscape:
        Hold(c, i, run, out);
        state_ = State::UrlQuoted;
        ++i;
        break;
      case State::UrlUnquoted:
        if (c == ')') {
          urlLength_ = held_.size();
          EndUrl(i, run, out);
          state_ = State::Normal;
          ++i;
        } else if (IsCssSpace(c)) {
          urlLength_ = held_.size();
          Hold(c, i, run, out);
          state_ = State::UrlUnquotedTail;
          ++i;
        } else if (c == '"' || c == '\'' || c == '(' || IsControl(c)) {
          DropUrl(i, run, out);
          state_ = State::BadUrl;  // read again
        } else {
          if (c == '\\') {
            escaped_ = true;
            state_ = State::UrlUnquotedEscape;
          }
          Hold(c, i, run, out);
          ++i;
        }
        break;
      case State::UrlUnquotedEscape:
        Hold(c, i, run, out);
        state_ = State::UrlUnquoted;
        ++i;
        break;
      case State::UrlUnquotedTail:
        if (IsCssSpace(c)) {
          Hold(c, i, run, out);
          ++i;
        } else if (c == ')') {
          EndUrl(i, run, out);
          state_ = State::Normal;
          ++i;
        } else {
          DropUrl(i, run, out);
          state_ = State::BadUrl;  // read again
        }
        break;
      case State::BadUrl:
        if (c == ')') state_ = State::Normal;
        if (c == '\\') state_ = State::BadUrlEscape;
        ++i;
        break;
      case State::BadUrlEscape:
        state_ = State::BadUrl;
        ++i;
        break;
    }
  }
  if (!holding_) out.append(css, run, std::string_view::npos);
}

void CssRewriter::Finish(std::string& out) {
  if (holding_) out += held_;
  std::string().swap(held_);
  holding_ = false;
  state_ = State::Normal;
  nameLength_ = 0;
  nameIsUrl_ = true;
}

void CssRewriter::StartUrl(std::string_view css, std::size_t i, std::size_t& run, std::string& out,
                           bool import, char quote) {
  out.append(css, run, i - run);
  run = i;
  holding_ = true;
  held_.clear();
  escaped_ = false;
  import_ = import;
  quote_ = quote;
  urlLength_ = 0;
}

void CssRewriter::Hold(char c, std::size_t i, std::size_t& run, std::string& out) {
  if (!holding_) return;  // too long: it goes out as it comes
  if (held_.size() >= kCssUrlMax) {
    out += held_;
    held_.clear();
    holding_ = false;
    run = i;
    return;
  }
  held_ += c;
}

void CssRewriter::EndUrl(std::size_t i, std::size_t& run, std::string& out) {
  if (!holding_) return;
  holding_ = false;
  run = i;
  const std::string url = held_.substr(0, urlLength_);
  std::string resolved = url;
  if (!escaped_ && !url.empty()) resolve_(resolved, import_);
  if (resolved == url) {
    out += url;
  } else {
    for (char c : resolved) {
      if (NeedsEncoding(c, quote_)) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
      } else {
        out += c;
      }
    }
  }
  out.append(held_, urlLength_, std::string::npos);  // the blanks before ')'
  held_.clear();
}

void CssRewriter::DropUrl(std::size_t i, std::size_t& run, std::string& out) {
  if (!holding_) return;
  holding_ = false;
  run = i;
  out += held_;
  held_.clear();
}

std::string RewriteCss(std::string_view css, const CssRewriter::Resolve& resolve) {
  CssRewriter rewriter(resolve);
  std::string out;
  rewriter.Feed(css, out);
  rewriter.Finish(out);
  return out;
}

}  // namespace lumbra
