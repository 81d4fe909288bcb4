#include "cache/byte_span.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "cache/cache_table.h"

namespace lumbra {
namespace {

using Read = std::function<std::optional<std::int64_t>(std::string_view, std::size_t)>;

template <typename F>
Read Widened(F read) {
  return [read](std::string_view bytes, std::size_t offset) -> std::optional<std::int64_t> {
    auto value = read(bytes, offset);
    if (!value) return std::nullopt;
    return std::int64_t{*value};
  };
}

TEST(ByteSpanTest, NumbersAreReadLittleEndianOnlyWhenWhollyInTheSpan) {
  const std::string bytes("\x34\x12\xff\xff\xfe\x80", 6);
  const Read le16 = Widened(ReadLe16), le32 = Widened(ReadLe32), leU32 = Widened(ReadLeU32);
  struct Case {
    const char* what;
    const Read& read;
    std::size_t offset;
    std::optional<std::int64_t> value;
  };
  const Case cases[] = {
      {"16 at 0", le16, 0, 0x1234},
      {"16 of high bytes, ending at the end, is negative", le16, 4, -0x7f02},
      {"16 across the end", le16, 5, std::nullopt},
      {"16 at the end", le16, 6, std::nullopt},
      {"16 past the end", le16, 7, std::nullopt},
      {"16 whose end wraps around", le16, SIZE_MAX, std::nullopt},
      {"32 ending at the end, high bytes negative", le32, 2, -0x7f010001},
      {"32 across the end", le32, 3, std::nullopt},
      {"32 whose end wraps around", le32, SIZE_MAX - 2, std::nullopt},
      {"unsigned 32 of the same bytes", leU32, 2, 0x80feffff},
      {"unsigned 32 across the end", leU32, 4, std::nullopt},
      {"unsigned 32 whose end wraps around", leU32, SIZE_MAX - 1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.read(bytes, c.offset), c.value);
  }
  EXPECT_EQ(ReadLe32(std::string_view(), 0), std::nullopt);
}

TEST(ByteSpanTest, TextsEndAtTheirNulOrTheEndOfTheSpan) {
  const std::string bytes("ab\0\0cd", 6);
  EXPECT_EQ(TextAt(bytes, 0), "ab");
  EXPECT_EQ(TextAt(bytes, 2), "");
  EXPECT_EQ(TextAt(bytes, 4), "cd");  // no NUL after it
  EXPECT_EQ(TextAt(bytes, 6), "");
  EXPECT_EQ(TextAt(bytes, SIZE_MAX), "");
  EXPECT_EQ(SkipNuls(bytes, 2), 4u);
  EXPECT_EQ(SkipNuls(bytes, 4), 4u);
  EXPECT_EQ(SkipNuls(std::string_view(bytes).substr(0, 4), 2), 4u);  // NULs up to the end
}

TEST(ByteSpanTest, ContentTypeIsTheValueOfTheFirstHeaderInReach) {
  const std::string longValue(kContentTypeMax + 1, 'v');
  struct Case {
    std::string headers;
    std::size_t reach;
    std::string value;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n", 256, "text/html"},
      {"CONTENT-type: text/html\r\n", 256, "text/html"},
      {"Content-Type:text/html\r\n", 256, "text/html"},
      {"Content-Type:\ttext/html\r\n", 256, "text/html"},
      {"Content-Type:  text/html\r\n", 256, " text/html"},  // one blank is skipped
      {"Content-Type: a\nb\r\nc", 256, "a\nb"},             // only a CR ends the value
      {"Content-Type: text/html", 256, "text/html"},
      {"Content-Type:", 256, ""},
      {"Content-Type: a\r\nContent-Type: b\r\n", 256, "a"},
      {"xxxxContent-Type: a\r\n", 5, "a"},
      {"xxxxContent-Type: a\r\n", 4, ""},
      {"xxxxContent-Type: a\r\n", 0, ""},
      {"Content-Type: " + longValue + "\r\n", 256, longValue.substr(0, kContentTypeMax)},
      {"Content-Length: 5\r\n", 256, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.headers) + " reach " + std::to_string(c.reach));
    EXPECT_EQ(ContentTypeIn(c.headers, c.reach), c.value);
  }
}

}  // namespace
}  // namespace lumbra
