#include "cache/content_decoding.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include "core/ascii.h"

namespace lumbra {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

enum class Coding { Gzip, Deflate, Brotli, Zstd };

// One decoder, fed the stored bytes block by block.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes `in`, handing every decoded block to `emit`; false when the stream is damaged
  // (or `emit` refused).
  virtual bool Feed(std::string_view in, const std::function<bool(std::string_view)>& emit) = 0;
  // Whether the stream reached its proper end.
  virtual bool Ended() const = 0;
};

class ZlibDecoder : public Decoder {
 public:
  explicit ZlibDecoder(Coding coding) : gzip_(coding == Coding::Gzip) {}
  ~ZlibDecoder() override {
    if (started_) inflateEnd(&z_);
  }

  bool Feed(std::string_view in, const std::function<bool(std::string_view)>& emit) override {
    while (!in.empty()) {
      if (ended_) {
        // Another gzip member may follow; anything else after the end is not read.
        if (!gzip_ || static_cast<unsigned char>(in[0]) != 0x1f) return true;
        inflateEnd(&z_);
        started_ = false;
        ended_ = false;
      }
      if (!started_ && !Start(in)) return false;
      z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
      z_.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), kChunk));
      const std::size_t given = z_.avail_in;
      do {
        z_.next_out = reinterpret_cast<Bytef*>(out_.data());
        z_.avail_out = static_cast<uInt>(out_.size());
        int rc = inflate(&z_, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
        const std::size_t made = out_.size() - z_.avail_out;
        if (made > 0 && !emit(std::string_view(out_.data(), made))) return false;
        if (rc == Z_STREAM_END) {
          ended_ = true;
          break;
        }
        if (rc == Z_BUF_ERROR && made == 0) break;
      } while (z_.avail_in > 0 || z_.avail_out == 0);
      in.remove_prefix(given - z_.avail_in);
      if (!ended_ && z_.avail_in != 0) return false;
    }
    return true;
  }

  bool Ended() const override { return ended_; }

 private:
  bool Start(std::string_view in) {
    z_ = z_stream{};
    int bits = 15 + 16;  // gzip
    if (!gzip_) {
      // "deflate" is meant to be zlib-wrapped, but servers also send raw deflate.
      const bool wrapped =
          in.size() >= 2 && (static_cast<unsigned char>(in[0]) & 0x0f) == 8 &&
          ((static_cast<unsigned char>(in[0]) << 8) | static_cast<unsigned char>(in[1])) % 31 == 0;
      bits = wrapped ? 15 : -15;
    }
    started_ = inflateInit2(&z_, bits) == Z_OK;
    return started_;
  }

  bool gzip_;
  bool started_ = false;
  bool ended_ = false;
  z_stream z_{};
  std::array<char, kChunk> out_;
};

class BrotliDecoder : public Decoder {
 public:
  BrotliDecoder() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
  ~BrotliDecoder() override { BrotliDecoderDestroyInstance(state_); }

  bool Feed(std::string_view in, const std::function<bool(std::string_view)>& emit) override {
    if (state_ == nullptr) return false;
    std::size_t availIn = in.size();
    const auto* nextIn = reinterpret_cast<const std::uint8_t*>(in.data());
    for (;;) {
      std::size_t availOut = out_.size();
      auto* nextOut = reinterpret_cast<std::uint8_t*>(out_.data());
      BrotliDecoderResult rc =
          BrotliDecoderDecompressStream(state_, &availIn, &nextIn, &availOut, &nextOut, nullptr);
      const std::size_t made = out_.size() - availOut;
      if (made > 0 && !emit(std::string_view(out_.data(), made))) return false;
      if (rc == BROTLI_DECODER_RESULT_ERROR) return false;
      if (rc == BROTLI_DECODER_RESULT_SUCCESS) {
        ended_ = true;
        return true;  // anything after the end is not read
      }
      if (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) return true;
    }
  }

  bool Ended() const override { return ended_; }

 private:
  BrotliDecoderState* state_;
  bool ended_ = false;
  std::array<char, kChunk> out_;
};

class ZstdDecoder : public Decoder {
 public:
  ZstdDecoder() : stream_(ZSTD_createDStream()) {
    if (stream_ != nullptr) ZSTD_initDStream(stream_);
  }
  ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

  bool Feed(std::string_view in, const std::function<bool(std::string_view)>& emit) override {
    if (stream_ == nullptr) return false;
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    while (input.pos < input.size || pending_) {
      ZSTD_outBuffer output{out_.data(), out_.size(), 0};
      std::size_t rc = ZSTD_decompressStream(stream_, &output, &input);
      if (ZSTD_isError(rc)) return false;
      if (output.pos > 0 && !emit(std::string_view(out_.data(), output.pos))) return false;
      // A frame is complete when the decoder asks for nothing more; frames may follow.
      ended_ = rc == 0;
      pending_ = output.pos == output.size;
      if (!pending_ && input.pos == input.size) break;
    }
    return true;
  }

  bool Ended() const override { return ended_; }

 private:
  ZSTD_DStream* stream_;
  bool ended_ = false;
  bool pending_ = false;
  std::array<char, kChunk> out_;
};

std::unique_ptr<Decoder> MakeDecoder(Coding coding) {
  switch (coding) {
    case Coding::Gzip:
    case Coding::Deflate:
      return std::make_unique<ZlibDecoder>(coding);
    case Coding::Brotli:
      return std::make_unique<BrotliDecoder>();
    case Coding::Zstd:
      return std::make_unique<ZstdDecoder>();
  }
  return nullptr;
}

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The codings of a Content-Encoding list in the order they were applied; false for a coding
// not known.
bool ParseCodings(std::string_view encoding, std::vector<Coding>& codings) {
  while (!encoding.empty()) {
    std::size_t comma = encoding.find(',');
    std::string_view name = TrimSpace(encoding.substr(0, comma));
    encoding = comma == std::string_view::npos ? std::string_view() : encoding.substr(comma + 1);
    if (name.empty() || EqualsNoCase(name, "identity")) continue;
    if (EqualsNoCase(name, "gzip") || EqualsNoCase(name, "x-gzip")) {
      codings.push_back(Coding::Gzip);
    } else if (EqualsNoCase(name, "deflate")) {
      codings.push_back(Coding::Deflate);
    } else if (EqualsNoCase(name, "br")) {
      codings.push_back(Coding::Brotli);
    } else if (EqualsNoCase(name, "zstd")) {
      codings.push_back(Coding::Zstd);
    } else {
      return false;
    }
  }
  return true;
}

// Undoes one coding of `in` into `out`, with at most `limit` decoded bytes.
Decoding DecodeOne(Coding coding, DocumentSource& in, SpooledDocument& out, std::uint64_t limit) {
  std::unique_ptr<Decoder> decoder = MakeDecoder(coding);
  if (!in.Rewind()) return Decoding::Damaged;
  Decoding failure = Decoding::Damaged;
  auto emit = [&](std::string_view bytes) {
    if (out.size() + bytes.size() > limit) {
      failure = Decoding::TooLarge;
      return false;
    }
    if (!out.Append(bytes)) {
      failure = Decoding::NoRoom;
      return false;
    }
    return true;
  };
  // Not zeroed: every document of a cache comes through here, and the reads fill it.
  const auto block = std::make_unique_for_overwrite<char[]>(kChunk);
  for (;;) {
    long n = in.Read(block.get(), kChunk);
    if (n < 0) return Decoding::Damaged;
    if (n == 0) break;
    if (!decoder->Feed(std::string_view(block.get(), static_cast<std::size_t>(n)), emit)) {
      return failure;
    }
  }
  return decoder->Ended() ? Decoding::Done : Decoding::Damaged;
}

}  // namespace

bool IsIdentityEncoding(std::string_view encoding) {
  std::vector<Coding> codings;
  return ParseCodings(encoding, codings) && codings.empty();
}

Decoding DecodeContent(std::string_view encoding, DocumentSource& stored, SpooledDocument& out) {
  std::vector<Coding> codings;
  if (!ParseCodings(encoding, codings)) return Decoding::UnknownEncoding;
  const std::uint64_t limit = std::min(kDecodedMax, stored.status().size * kDecodedRatioMax);
  if (codings.empty()) {
    if (!stored.Rewind()) return Decoding::Damaged;
    const auto block = std::make_unique_for_overwrite<char[]>(kChunk);
    for (long n; (n = stored.Read(block.get(), kChunk)) != 0;) {
      if (n < 0) return Decoding::Damaged;
      if (!out.Append(std::string_view(block.get(), static_cast<std::size_t>(n)))) {
        return Decoding::NoRoom;
      }
    }
    return Decoding::Done;
  }
  // The last coding applied is undone first; each stage reads the one before.
  DocumentSource* from = &stored;
  std::unique_ptr<SpooledDocument> between;
  for (std::size_t i = codings.size(); i-- > 0;) {
    std::unique_ptr<SpooledDocument> next;
    SpooledDocument& into = i == 0 ? out : *(next = std::make_unique<SpooledDocument>());
    if (Decoding result = DecodeOne(codings[i], *from, into, limit); result != Decoding::Done) {
      return result;
    }
    between = std::move(next);
    from = between.get();
  }
  return Decoding::Done;
}

std::string_view DecodingFailureText(Decoding result) {
  switch (result) {
    case Decoding::UnknownEncoding:
      return "知らない Content-Encoding のため読みません";
    case Decoding::Damaged:
      return "圧縮データが壊れているか途中で終わっているため読みません";
    case Decoding::TooLarge:
      return "展開すると大きすぎるため読みません";
    case Decoding::NoRoom:
      return "展開したデータを一時ファイルに書けないため読みません";
    case Decoding::Done:
      break;
  }
  return "";
}

}  // namespace lumbra
