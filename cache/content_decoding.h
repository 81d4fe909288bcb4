// Content-Encoding of stored bodies: the caches of today keep a body as it came over the
// wire, and the logs keep the document as the user saw it.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/document.h"

namespace lumbra {

// A decoded body may reach this size, and this many times its stored size: a stream that
// would decode beyond either is taken for a decompression bomb.
inline constexpr std::uint64_t kDecodedMax = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kDecodedRatioMax = 1000;

enum class Decoding {
  Done,
  UnknownEncoding,  // a coding this program does not know
  Damaged,          // the stream is damaged, or ends before its end
  TooLarge,         // beyond kDecodedMax or kDecodedRatioMax
  NoRoom,           // the decoded bytes could not be kept (temporary file)
};

// Whether `encoding` (a Content-Encoding value) asks for no decoding: empty or "identity".
bool IsIdentityEncoding(std::string_view encoding);

// Decodes `stored`, from its first byte, by `encoding` into `out` (empty on entry): gzip
// (x-gzip), deflate (zlib-wrapped or raw), br and zstd, and a list of them ("gzip, br"),
// undone from the last to the first.
Decoding DecodeContent(std::string_view encoding, DocumentSource& stored, SpooledDocument& out);

// The log text of a body that could not be decoded.
std::string_view DecodingFailureText(Decoding result);

}  // namespace lumbra
