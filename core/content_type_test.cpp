#include "core/content_type.h"

#include <gtest/gtest.h>

namespace lumbra {
namespace {

TEST(ContentTypeTest, TheMediaTypeAndTheCharsetAreReadAsCachesWriteThem) {
  const struct {
    const char* contentType;
    const char* mediaType;
    const char* charset;
  } cases[] = {
      {"text/html", "text/html", ""},
      {"TEXT/HTML; Charset=UTF-8", "text/html", "utf-8"},
      {" text/html ;charset=\"Shift_JIS\"", "text/html", "shift_jis"},
      {"text/html; q=1; charset = euc-jp ;x=y", "text/html", "euc-jp"},
      {"text/htmlx", "text/htmlx", ""},
      {"image/svg+xml;", "image/svg+xml", ""},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MediaTypeOf(c.contentType), c.mediaType) << c.contentType;
    EXPECT_EQ(CharsetOf(c.contentType), c.charset) << c.contentType;
    EXPECT_EQ(IsHtmlType(c.contentType), std::string(c.mediaType) == "text/html") << c.contentType;
  }
}

}  // namespace
}  // namespace lumbra
