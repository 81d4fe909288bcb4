#include "index/title_code.h"

#include <algorithm>

namespace lumbra {

namespace {

constexpr unsigned char kEsc = 0x1B;

// Assembles two-byte characters one byte at a time. The output ends at the first NUL fed to
// it, where the title ends.
class PairConverter {
 public:
  void Feed(unsigned char byte) {
    if (pending_) {
      unsigned char lead = lead_;
      ConvertJisPair(lead, byte);
      Append(lead);
      Append(byte);
      pending_ = false;
    } else if (byte >= 0x80) {
      lead_ = byte;
      pending_ = true;
    } else {
      Append(byte);
    }
  }

  // A byte that bypasses the pair assembly.
  void Append(unsigned char byte) {
    if (ended_) return;
    if (byte == 0) {
      ended_ = true;
      return;
    }
    out_.push_back(static_cast<char>(byte));
  }

  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
  bool pending_ = false;
  bool ended_ = false;
  unsigned char lead_ = 0;
};

}  // namespace

void ConvertJisPair(unsigned char& lead, unsigned char& second) {
  const unsigned r = lead & 0x7Fu;
  const unsigned c = second & 0x7Fu;
  if (r < 0x20 || r > 0x7E || c < 0x20 || c > 0x7E) return;
  lead = static_cast<unsigned char>((r - 1) / 2 + (r <= 0x5E ? 0x71 : 0xB1));
  if (r % 2 == 1) {
    second = static_cast<unsigned char>(c < 0x60 ? c + 0x1F : c + 0x20);
  } else {
    second = static_cast<unsigned char>(c + 0x7E);
  }
}

TitleCode DetectTitleCode(std::string_view title) {
  const std::size_t n = std::min(title.find('\0'), title.size());
  if (n > kTitleCodeMax) return TitleCode::Unchanged;
  // The positions 0..n, the terminating NUL included.
  auto at = [&](std::size_t i) -> unsigned char {
    return i < n ? static_cast<unsigned char>(title[i]) : 0;
  };

  std::size_t singles = 0;
  std::size_t eucLeads = 0;
  std::size_t escapes = 0;
  bool secondOfPair = false;
  for (std::size_t i = 0; i <= n; ++i) {
    const unsigned char b = at(i);
    if (b == kEsc) ++escapes;
    if (secondOfPair) {
      secondOfPair = false;
      continue;
    }
    if (b <= 0x80) {
      ++singles;
    } else {
      secondOfPair = true;
      if (b > 0xA0) ++eucLeads;
    }
  }
  if (n > 2 && singles < n && n - singles < 2 * eucLeads) return TitleCode::EucJp;
  if (escapes > 0) return TitleCode::Iso2022Jp;
  return TitleCode::Unchanged;
}

void ConvertTitleCode(std::string& title) {
  const TitleCode code = DetectTitleCode(title);
  if (code == TitleCode::Unchanged) return;
  const std::size_t n = std::min(title.find('\0'), title.size());
  auto at = [&](std::size_t i) -> unsigned char {
    return i < n ? static_cast<unsigned char>(title[i]) : 0;
  };
  PairConverter out;
  if (code == TitleCode::EucJp) {
    for (std::size_t i = 0; i <= n; ++i) out.Feed(at(i));
  } else {
    bool twoByte = false;
    for (std::size_t i = 0; i <= n; ++i) {
      const unsigned char b = at(i);
      if (b == kEsc) {
        // Every escape sequence toggles, whatever its letters; its two letters are skipped.
        twoByte = !twoByte;
        i += 2;
      } else if (twoByte) {
        out.Feed(static_cast<unsigned char>(b | 0x80));
      } else {
        out.Append(b);
      }
    }
  }
  title = out.Take();
}

}  // namespace lumbra
