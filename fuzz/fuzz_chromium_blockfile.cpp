// The Chromium blockfile reader on arbitrary caches: no fault, and every entry the walk lists
// reads back whole, with the URL and status it was listed with (the files cannot change
// between the two here).
//
// An input is a small container of the cache's files, so that an input holds the real files of
// a cache without the megabytes of zeros of its index and block files. Every input still costs
// the files it unpacks to: the corpus holds the real cache with its index table cut to the
// length its buckets need (fuzz/seed_inputs.py) and its block files ending after their last
// block in use, rather than the 2 MiB table and megabyte block files the browser left, eight
// times the executions. Numbers are little-endian:
//   repeated:  u8 name length, the name, u32 file size, u16 run count,
//              then per run u32 offset, u16 length and that many bytes
// A file is its size of zero bytes with the runs copied in (what lies beyond the size is
// dropped). The files end at a record cut short, or at one that would make a file over
// kMaxFile bytes or all of them over kMaxTotal.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/chromium_blockfile.h"

namespace {

constexpr std::uint32_t kMaxFile = 8u << 20;
constexpr std::uint64_t kMaxTotal = 24u << 20;

class Input {
 public:
  explicit Input(std::string_view bytes) : rest_(bytes) {}
  bool Take(std::size_t size, std::string_view& out) {
    if (rest_.size() < size) return false;
    out = rest_.substr(0, size);
    rest_.remove_prefix(size);
    return true;
  }
  bool Number(std::size_t size, std::uint32_t& value) {
    std::string_view bytes;
    if (!Take(size, bytes)) return false;
    value = 0;
    for (std::size_t i = size; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return true;
  }

 private:
  std::string_view rest_;
};

lumbra::BlockfileFiles Unpack(std::string_view bytes) {
  lumbra::BlockfileFiles files;
  Input input(bytes);
  std::uint64_t total = 0;
  for (;;) {
    std::uint32_t nameLength = 0, size = 0, runs = 0;
    std::string_view name;
    if (!input.Number(1, nameLength) || !input.Take(nameLength, name) || !input.Number(4, size) ||
        !input.Number(2, runs) || size > kMaxFile || (total += size) > kMaxTotal) {
      return files;
    }
    std::string file(size, '\0');
    for (std::uint32_t r = 0; r < runs; ++r) {
      std::uint32_t offset = 0, length = 0;
      std::string_view run;
      if (!input.Number(4, offset) || !input.Number(2, length) || !input.Take(length, run)) {
        return files;
      }
      if (offset < size) {
        const std::size_t kept = std::min<std::size_t>(length, size - offset);
        file.replace(offset, kept, run.substr(0, kept));
      }
    }
    files[std::string(name)] = std::move(file);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const lumbra::BlockfileFiles files =
      Unpack(std::string_view(reinterpret_cast<const char*>(data), size));
  const lumbra::BlockfileListing listing = lumbra::ListBlockfileCache(files);
  for (const auto& entry : listing.entries) {
    lumbra::StoredResponse response;
    lumbra::SpooledDocument body;
    std::string why;
    if (lumbra::ReadBlockfileEntry(files, entry.locator, response, body, why) !=
            lumbra::platform::OpenError::None ||
        response.url != entry.response.url || response.status != entry.response.status) {
      std::abort();
    }
  }
  return 0;
}
