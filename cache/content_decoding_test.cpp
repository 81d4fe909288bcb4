#include "cache/content_decoding.h"

#include <random>
#include <string>
#include <vector>

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

namespace lumbra {
namespace {

// `text` deflated with the given zlib window bits (31 gzip, 15 zlib, -15 raw).
std::string Deflate(std::string_view text, int bits) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Brotli(std::string_view text) {
  std::size_t size = BrotliEncoderMaxCompressedSize(text.size()) + 16;
  std::string out(size, '\0');
  EXPECT_TRUE(BrotliEncoderCompress(5, 22, BROTLI_MODE_TEXT, text.size(),
                                    reinterpret_cast<const std::uint8_t*>(text.data()), &size,
                                    reinterpret_cast<std::uint8_t*>(out.data())));
  out.resize(size);
  return out;
}

std::string Zstd(std::string_view text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

struct Decoded {
  Decoding result;
  std::string bytes;
};

Decoded Decode(std::string_view encoding, std::string_view stored) {
  SpooledDocument in;
  in.Append(stored);
  SpooledDocument out;
  Decoding result = DecodeContent(encoding, in, out);
  std::string bytes(out.size(), '\0');
  out.Rewind();
  std::size_t got = 0;
  for (long n; got < bytes.size() && (n = out.Read(bytes.data() + got, 7000)) > 0;) got += n;
  EXPECT_EQ(got, bytes.size());
  return {result, bytes};
}

// A page that compresses as pages do, and big enough to pass through several blocks and to
// leave memory for the temporary file.
std::string Page(std::size_t size) {
  std::mt19937 random(7);
  std::string page = "<!DOCTYPE html><title>t</title>";
  while (page.size() < size) page += "<p>stone " + std::to_string(random() % 5000) + "</p>\n";
  return page;
}

TEST(ContentDecodingTest, EveryCodingOfTodayGivesTheDocumentBack) {
  const std::string small = Page(3000);
  const std::string large = Page(SpooledDocument::kInMemoryMax + 300000);
  struct Case {
    std::string_view encoding;
    std::string stored;
    std::string document;
  };
  const std::vector<Case> cases = {
      {"gzip", Deflate(small, 31), small},
      {"x-gzip", Deflate(large, 31), large},
      {"gzip", Deflate("a", 31) + Deflate(small, 31), "a" + small},  // two members
      {"deflate", Deflate(small, 15), small},                        // zlib-wrapped
      {"deflate", Deflate(small, -15), small},                       // raw, as some servers send
      {"br", Brotli(large), large},
      {"zstd", Zstd(small), small},
      {"gzip, br", Brotli(Deflate(small, 31)), small},  // undone from the last coding
      {"identity", small, small},
      {"", small, small},
  };
  for (const Case& c : cases) {
    Decoded got = Decode(c.encoding, c.stored);
    EXPECT_EQ(got.result, Decoding::Done) << c.encoding;
    EXPECT_TRUE(got.bytes == c.document) << c.encoding << " gave " << got.bytes.size() << " bytes";
  }
}

TEST(ContentDecodingTest, ADamagedCutUnknownOrExplodingBodyIsRefused) {
  const std::string page = Page(20000);
  const std::string gzip = Deflate(page, 31);
  std::string flipped = Deflate(page, 31);
  flipped[flipped.size() / 2] ^= 0x55;
  // A run of zeros deflates about 1,000 to 1: more than the bound allows.
  const std::string bomb = Deflate(std::string(4'000'000, '\0'), 31);
  struct Case {
    std::string_view encoding;
    std::string stored;
    Decoding result;
  };
  const std::vector<Case> cases = {
      {"gzip", gzip.substr(0, gzip.size() / 2), Decoding::Damaged},  // the browser was writing it
      {"gzip", gzip.substr(0, gzip.size() - 4), Decoding::Damaged},  // no length at the end
      {"gzip", flipped, Decoding::Damaged},
      {"br", Brotli(page).substr(0, 100), Decoding::Damaged},
      {"zstd", Zstd(page).substr(0, 100), Decoding::Damaged},
      {"zstd", "not zstd at all", Decoding::Damaged},
      {"gzip", bomb, Decoding::TooLarge},
      {"compress", gzip, Decoding::UnknownEncoding},
      {"gzip, sdch", gzip, Decoding::UnknownEncoding},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(c.encoding, c.stored).result, c.result)
        << c.encoding << " " << c.stored.size();
  }
}

}  // namespace
}  // namespace lumbra
