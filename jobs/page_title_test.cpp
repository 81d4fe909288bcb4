// The title a job records for a page: the encoding found as a browser finds it, and the title
// in it converted to the index pages' CP932.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/ascii.h"
#include "index/title_text.h"
#include "jobs/job.h"
#include "rebuild/charset_scan.h"
#include "rebuild/page_io.h"
#include "testing/iconv.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

using testing::Iconv;

// A UTF-8 text as the index pages must show it: each character as iconv converts it to CP932,
// or as a hexadecimal reference when it cannot.
std::string ExpectedCp932(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    const std::string character = utf8.substr(i, length);
    std::string cp932 = Iconv("UTF-8", "CP932", character);
    if (cp932.empty()) {
      const std::string utf32 = Iconv("UTF-8", "UTF-32BE", character);
      unsigned codePoint = 0;
      for (char c : utf32) codePoint = codePoint << 8 | static_cast<unsigned char>(c);
      char reference[16];
      std::snprintf(reference, sizeof reference, "&#x%X;", codePoint);
      cp932 = reference;
    }
    out += cp932;
    i += length;
  }
  return out;
}

class PageTitleTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    ctx.startDir = root();
    ctx.logDir[0] = MakeDir("save/alog");
  }
  JobTarget Target() { return JobTarget{ctx, counters, index, fe, paths}; }

  // Rewrites `page` as a job does; its title and what the page says about reading it.
  std::pair<std::string, TitleCharset> Read(const std::string& name, const std::string& page) {
    const std::string path = WriteFile("save/alog/host/" + name, page);
    std::string title;
    TitleCharset charset;
    JobTarget job = Target();
    EXPECT_EQ(ReconstructPage(job.rewriting(), fe, ctx.logDir[0], path, true, title, nullptr,
                              nullptr, &charset),
              PageRewrite::Rewritten);
    return {title, charset};
  }
  // The title a job records for `page` (its cache entry of `contentType`).
  std::string Recorded(const std::string& name, const std::string& page,
                       std::string_view contentType = {}) {
    const std::string path = WriteFile("save/alog/host/" + name, page);
    JobTarget job = Target();
    RewriteAndIndex(job, ctx.logDir[0], path, nullptr, contentType);
    return index.size() == 0 ? "<none>" : index[index.size() - 1].title;
  }

  JobContext ctx;
  JobCounters counters;
  IndexRecordTable index;
  testing::ScriptedFrontend fe;
  platform::PathTable paths;
};

struct SuiteCase {
  std::string data;
  std::string encoding;
};

// The cases of one file of the html5lib encoding tests: "#data", its lines, "#encoding", the
// name.
std::vector<SuiteCase> ReadSuite(const std::string& file) {
  std::ifstream in(testing::RealDataPath("html5lib-tests/encoding/" + file), std::ios::binary);
  std::vector<SuiteCase> cases;
  std::string line;
  enum { None, Data, Encoding } section = None;
  while (std::getline(in, line)) {
    if (line == "#data") {
      cases.emplace_back();
      section = Data;
    } else if (line == "#encoding") {
      section = Encoding;
    } else if (section == Data) {
      cases.back().data += line + "\n";
    } else if (section == Encoding && !line.empty()) {
      cases.back().encoding = LowerAscii(line);
      section = None;
    }
  }
  for (SuiteCase& c : cases) {
    if (!c.data.empty()) c.data.pop_back();  // the line end before "#encoding" is no data
  }
  return cases;
}

TEST_F(PageTitleTest, TheEncodingFoundAgreesWithTheHtml5libEncodingTests) {
  int count = 0;
  for (const char* file : {"tests1.dat", "tests2.dat", "test-yahoo-jp.dat"}) {
    for (const SuiteCase& c : ReadSuite(file)) {
      const std::string name = "case" + std::to_string(count++) + ".html";
      const auto [title, charset] = Read(name, c.data);
      EXPECT_EQ(TitleEncoding(title, charset), c.encoding) << file << " " << c.data;
      // The scan can stop at any byte: fed one byte at a time it finds the same.
      CharsetScan scan;
      for (char b : c.data) scan.Feed(std::string_view(&b, 1));
      scan.Finish();
      EXPECT_EQ(scan.declared(), charset.declared) << c.data;
    }
  }
  EXPECT_EQ(count, 82);
}

TEST_F(PageTitleTest, DeclaredTitlesReachTheIndexAsIconvConvertsThem) {
  const struct {
    const char* label;      // as the page declares it
    const char* iconvName;  // what the page is written in
    const char* text;       // the title, in UTF-8 here
  } cases[] = {
      {"utf-8", "UTF-8", "Ünïcødé ☃ 日本語"},      {"iso-8859-2", "ISO-8859-2", "Žluťoučký kůň"},
      {"ISO_8859-5", "ISO-8859-5", "Привет, мир"}, {"greek", "ISO-8859-7", "Καλημέρα κόσμε"},
      {"l9", "ISO-8859-15", "Œuvres à 10 €"},      {"windows-1250", "CP1250", "Łódź – Kraków"},
      {"cp1251", "CP1251", "Москва — столица"},    {"iso-8859-1", "CP1252", "Café “Noël” – 5€"},
      {"euc-kr", "EUC-KR", "한국어 페이지"},       {"gb2312", "GB18030", "简体中文网页"},
      {"gb18030", "GB18030", "中文 𠀀"},           {"big5", "BIG5", "繁體中文網頁"},
      {"x-sjis", "CP932", "日本語のページ"},       {"euc-jp", "EUC-JP", "日本語のページ"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string title = Iconv("UTF-8", c.iconvName, c.text);
    ASSERT_FALSE(title.empty()) << c.label;
    const std::string want = ExpectedCp932(c.text);
    // Declared in the page, or only in the content type of its cache entry.
    EXPECT_EQ(Recorded("m" + std::to_string(n) + ".html",
                       "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                       "charset=" +
                           std::string(c.label) + "\"><title>" + title + "</title>"),
              want)
        << c.label;
    EXPECT_EQ(Recorded("t" + std::to_string(n++) + ".html", "<title>" + title + "</title>",
                       "text/html; charset=\"" + std::string(c.label) + "\""),
              want)
        << c.label;
  }
}

TEST_F(PageTitleTest, ByteOrderMarkThenMetaThenContentType) {
  const std::string latin = "<title>\xE9</title>";  // é in windows-1252
  const struct {
    std::string page;
    const char* contentType;
    std::string want;
  } cases[] = {
      {"\xEF\xBB\xBF<meta charset=latin1><title>\xC3\xA9</title>", "text/html; charset=koi8-r",
       "&#xE9;"},
      {"<meta charset=koi8-r>" + latin, "text/html; charset=latin1", "\x84\x49"},  // И
      {latin, "text/html; charset=koi8-r", "\x84\x49"},
      {latin, "text/html; charset=nonsense", "&#xE9;"},  // nothing declared: windows-1252
      {latin, "text/html", "&#xE9;"},
      // A page without a title is "No Title" whatever its encoding.
      {std::string("\xFF\xFE<\0t\0i\0t\0l\0e\0>\0", 16), "text/html; charset=utf-16", "No Title"},
  };
  int n = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(Recorded("p" + std::to_string(n++) + ".html", c.page, c.contentType), c.want)
        << c.page;
  }
}

TEST_F(PageTitleTest, ALongTitleIsCutBetweenCharacters) {
  // 33 kanji and one more in UTF-8 (102 bytes): the page keeps 100, the last kanji cut short,
  // and that one is dropped rather than shown as U+FFFD.
  std::string kanji;
  for (int k = 0; k < 33; ++k) kanji += "日";
  EXPECT_EQ(Recorded("k.html", "<meta charset=utf-8><title>" + kanji + "本</title>"),
            ExpectedCp932(kanji));
  // 40 snowmen: 12 references fill 96 of the record's 99 bytes; a 13th is not begun.
  std::string snowmen;
  std::string want;
  for (int k = 0; k < 40; ++k) snowmen += "☃";
  for (int k = 0; k < 12; ++k) want += "&#x2603;";
  EXPECT_EQ(Recorded("s.html", "<meta charset=utf-8><title>" + snowmen + "</title>"), want);
}

}  // namespace
}  // namespace lumbra
