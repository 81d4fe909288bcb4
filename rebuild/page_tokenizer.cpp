#include "rebuild/page_tokenizer.h"

#include <algorithm>
#include <cstring>

#include "core/ascii.h"


namespace lumbra {
void PageTokenizer::FeedBlock(std::string_view block, std::string_view following) {
  block_ = block;
  following_ = following;
  if (!firstBlock_) EmitText();
  firstBlock_ = false;
  // Only '<' and '>' end a text or a tag, so the bytes between them are taken as one run;
  // the next place of each in the block is kept until passed.
  const char* bytes = block_.data();
  auto nextOf = [&](char c, std::size_t from) {
    if (from >= block_.size()) return block_.size();
    const void* at = std::memchr(bytes + from, c, block_.size() - from);
    return at == nullptr ? block_.size()
                         : static_cast<std::size_t>(static_cast<const char*>(at) - bytes);
  };
  std::size_t nextOpen = nextOf('<', 0);
  std::size_t nextClose = nextOf('>', 0);
  for (std::size_t i = 0; i < block_.size();) {
    if (nextOpen < i) nextOpen = nextOf('<', i);
    if (nextClose < i) nextClose = nextOf('>', i);
    std::size_t run = std::min(nextOpen, nextClose) - i;
    if (run > 0 && mode_ == Mode::Text) {
      text_.append(block_.substr(i, run));
      i += run;
    } else if (run > 0) {
      // A tag longer than kTagCut is cut right after its kTagCut + 1st character.
      std::size_t take = std::min(run, kTagCut + 1 - tag_.size());
      tag_.append(block_.substr(i, take));
      i += take;
      if (tag_.size() > kTagCut) {
        EmitTag();
        tag_.clear();
        mode_ = Mode::Text;
      }
    } else if (mode_ == Mode::Text) {
      HandleText(i++);
    } else {
      HandleTag(i++);
    }
    NoteHeld();
  }
  block_ = {};
  following_ = {};
}

void PageTokenizer::Finish() {
  EmitText();
  if (mode_ == Mode::Tag && !tag_.empty()) sink_.OnOpenTag(tag_);
  tag_.clear();
  mode_ = Mode::Text;
}

int PageTokenizer::At(std::size_t i) const {
  if (i < block_.size()) return static_cast<unsigned char>(block_[i]);
  i -= block_.size();
  if (i < following_.size()) return static_cast<unsigned char>(following_[i]);
  return -1;
}

// Whether "/titl" begins within the 4 characters after position i.
bool PageTokenizer::TitleEndNear(std::size_t i) const {
  static constexpr std::string_view kEnd = "/titl";
  for (std::size_t start = i + 1; start <= i + 4; ++start) {
    std::size_t k = 0;
    while (k < kEnd.size() && At(start + k) >= 0 && LowerAscii(static_cast<char>(At(start + k))) == kEnd[k]) ++k;
    if (k == kEnd.size()) return true;
  }
  return false;
}

void PageTokenizer::HandleText(std::size_t i) {
  char c = block_[i];
  // Inside a title, a '<' that does not open the end tag is part of the title text.
  if (titlePending_ && c == '<' && !TitleEndNear(i)) {
    text_ += c;
    return;
  }
  if (c == '<') {
    if (!text_.empty()) sink_.OnText(text_);
    if (titlePending_) {
      TakeTitle();
      titlePending_ = false;
    }
    text_.clear();
    if (At(i + 1) == '!') {
      text_.assign(1, '<');
    } else {
      mode_ = Mode::Tag;
      tag_.assign(1, '<');
    }
    return;
  }
  text_ += c;
  if (c == '>') {
    sink_.OnText(text_);
    if (titlePending_) TakeTitle();
    text_.clear();
  }
}

void PageTokenizer::HandleTag(std::size_t i) {
  char c = block_[i];
  if (c == '<') {
    EmitTag();
    tag_.assign(1, '<');
    return;
  }
  tag_ += c;
  if (c == '>') {
    EmitTag();
    mode_ = Mode::Text;
    // A title tag: "title" right after '<' or a blank, and not the end tag.
    std::size_t at = FindNoCase(tag_, "title");
    if (at != std::string::npos && at > 0 && !ContainsNoCase(tag_, "/title") &&
        (tag_[at - 1] == '<' || tag_[at - 1] == ' ')) {
      titlePending_ = true;
    }
    tag_.clear();
    return;
  }
  if (tag_.size() > kTagCut) {
    EmitTag();
    tag_.clear();
    mode_ = Mode::Text;
  }
}

void PageTokenizer::TakeTitle() {
  title_ = text_.substr(0, kTitleMax);
  titleCut_ = text_.size() > kTitleMax;
}

void PageTokenizer::EmitText() {
  if (!text_.empty()) sink_.OnText(text_);
  text_.clear();
}

void PageTokenizer::EmitTag() {
  NoteHeld();
  sink_.OnTag(tag_);
  NoteHeld();  // the rewritten form is held until the next character
}

void PageTokenizer::NoteHeld() { peakHeld_ = std::max(peakHeld_, heldBytes()); }

}  // namespace lumbra
