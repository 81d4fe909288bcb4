// Page titles go into the index pages in Shift-JIS. Titles on the web also come in EUC-JP and
// ISO-2022-JP; ConvertTitleCode tells them apart by simple byte statistics and converts them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbra {

// Longer titles are left exactly as they are.
inline constexpr std::size_t kTitleCodeMax = 256;

// What ConvertTitleCode takes a title for: EUC-JP by its byte statistics, else ISO-2022-JP
// when it holds an escape byte, else Shift-JIS or plain text, which stays as it is.
enum class TitleCode { Unchanged, EucJp, Iso2022Jp };
TitleCode DetectTitleCode(std::string_view title);

// Converts an EUC-JP or ISO-2022-JP title to Shift-JIS in place; any other title stays as it
// is. The title ends at its first NUL byte; a converted title is never longer than before.
void ConvertTitleCode(std::string& title);

// The JIS X 0208 row/cell pair (top bits ignored) as a Shift-JIS pair; a pair outside
// 0x20..0x7E in either byte is returned unchanged.
void ConvertJisPair(unsigned char& lead, unsigned char& second);

}  // namespace lumbra
