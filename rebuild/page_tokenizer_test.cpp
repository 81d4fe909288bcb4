#include "rebuild/page_tokenizer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumbra {
namespace {

struct Segment {
  char kind;  // 'x' text, 't' tag, 'o' open tag at the end
  std::string bytes;
  bool operator==(const Segment&) const = default;
};

class RecordingSink : public TokenSink {
 public:
  void OnText(std::string_view text) override { segments.push_back({'x', std::string(text)}); }
  void OnTag(std::string& tag) override { segments.push_back({'t', tag}); }
  void OnOpenTag(std::string_view tag) override { segments.push_back({'o', std::string(tag)}); }

  std::string Joined() const {
    std::string all;
    for (const Segment& s : segments) all += s.bytes;
    return all;
  }
  std::vector<std::string> Tags() const {
    std::vector<std::string> tags;
    for (const Segment& s : segments) {
      if (s.kind != 'x') tags.push_back(s.bytes);
    }
    return tags;
  }
  std::vector<Segment> segments;
};

// Feeds a page the way ReconstructPage reads it: blocks of kPageBlockSize with the next
// bytes as lookahead. Returns the title; `peakHeld` gets the most bytes the tokenizer held.
std::string Tokenize(std::string_view page, RecordingSink& sink, std::size_t* peakHeld = nullptr) {
  PageTokenizer tokenizer(sink);
  for (std::size_t at = 0; at < page.size(); at += kPageBlockSize) {
    std::string_view block = page.substr(at, kPageBlockSize);
    std::string_view rest = page.substr(at + block.size());
    tokenizer.FeedBlock(block, rest.substr(0, kTokenizerLookahead));
  }
  tokenizer.Finish();
  if (peakHeld != nullptr) *peakHeld = tokenizer.peakHeldBytes();
  return tokenizer.title();
}

TEST(PageTokenizerTest, CutsTextTagsAndComments) {
  RecordingSink sink;
  Tokenize("a<b href=x>c<!-- <i> -->d<p<q>e", sink);
  // The comment runs as text up to its first '>'; the '<' inside it starts a tag.
  std::vector<Segment> expected = {{'x', "a"},   {'t', "<b href=x>"}, {'x', "c"}, {'x', "<!-- "},
                                   {'t', "<i>"}, {'x', " -->"},       {'x', "d"}, {'t', "<p"},
                                   {'t', "<q>"}, {'x', "e"}};
  EXPECT_EQ(sink.segments, expected);
}

TEST(PageTokenizerTest, WritesATagStillOpenAtTheEndUnchanged) {
  RecordingSink sink;
  Tokenize("text<a href=\"x", sink);
  std::vector<Segment> expected = {{'x', "text"}, {'o', "<a href=\"x"}};
  EXPECT_EQ(sink.segments, expected);
}

TEST(PageTokenizerTest, CutsAHugeTagAndReadsItsRestAsText) {
  std::string tag = "<img alt=\"" + std::string(20000, 'z') + "\">";
  std::string page = "a" + tag + "b<br>";
  RecordingSink sink;
  Tokenize(page, sink);
  ASSERT_GE(sink.segments.size(), 3u);
  EXPECT_EQ(sink.segments[1], (Segment{'t', tag.substr(0, kTagCut + 1)}));
  EXPECT_EQ(sink.Tags().size(), 2u);  // the cut head and <br>; the rest is text
  EXPECT_EQ(sink.Tags()[1], "<br>");
  EXPECT_EQ(sink.Joined(), page);
}

TEST(PageTokenizerTest, EveryByteComesOutOnceWhereverTheBlocksEnd) {
  // The piece is moved across the first block boundary one byte at a time.
  const std::string piece = "<A HREF=\"x.html\">t</A><!--c-->\r\n<title>T</title>x<y";
  const std::vector<std::string> tags = {"<A HREF=\"x.html\">", "</A>", "<title>", "</title>",
                                         "<y"};
  for (std::size_t pad = kPageBlockSize - piece.size() - 2; pad <= kPageBlockSize + 2; ++pad) {
    std::string page = std::string(pad, ' ') + piece;
    RecordingSink sink;
    Tokenize(page, sink);
    EXPECT_EQ(sink.Joined(), page) << "pad " << pad;
    EXPECT_EQ(sink.Tags(), tags) << "pad " << pad;
  }
}

struct TitleCase {
  std::string page;
  std::string title;
};

void PrintTo(const TitleCase& c, std::ostream* os) { *os << '"' << c.title.substr(0, 40) << '"'; }

class TitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(TitleTest, CapturesTheTitle) {
  RecordingSink sink;
  EXPECT_EQ(Tokenize(GetParam().page, sink), GetParam().title);
  EXPECT_EQ(sink.Joined(), GetParam().page);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, TitleTest,
    ::testing::Values(TitleCase{"<TITLE>Home</TITLE>", "Home"},
                      TitleCase{"<html><head><title >A &amp; B</title>", "A &amp; B"},
                      TitleCase{"<meta name=title content=x>text<p>", ""},
                      TitleCase{"<a title=\"tip\">link</a>", "link</a>"},
                      TitleCase{"no title at all", ""}, TitleCase{"<title></title>x", ""},
                      // A '<' that does not open the end tag belongs to the title text;
                      // each '>' of that text takes the title so far.
                      TitleCase{"<title>a<b>c</title>", "c"},
                      TitleCase{"<title>a < b</title>", "a "}, TitleCase{"<title>x</TITLE >", "x"},
                      // The first hundred characters are kept.
                      TitleCase{"<title>" + std::string(99, 't') + "LX" + std::string(49, 't') +
                                    "</title>",
                                std::string(99, 't') + "L"}));

TEST(PageTokenizerTest, ATitleCrossingTheBlockBoundaryKeepsOnlyItsPartAfterIt) {
  const std::string title = "Home";
  const std::string piece = "<title>" + title + "</title><p>";
  for (std::size_t pad = kPageBlockSize - piece.size(); pad <= kPageBlockSize; ++pad) {
    std::string page = std::string(pad, ' ') + piece;
    std::size_t titleAt = pad + 7;
    std::size_t cut = kPageBlockSize > titleAt ? kPageBlockSize - titleAt : 0;
    // A boundary inside the title text drops the part before it; at or after the '<' of the
    // end tag it changes nothing.
    std::string expected = (cut == 0 || cut > title.size()) ? title : title.substr(cut);
    RecordingSink sink;
    EXPECT_EQ(Tokenize(page, sink), expected) << "pad " << pad;
    EXPECT_EQ(sink.Joined(), page);
  }
}

}  // namespace
}  // namespace lumbra
