// The system's code page. The system's own texts are written in the source as UTF-8 and
// converted to CP932 (Shift-JIS) when they go into a file; bytes that came from outside
// (paths, URLs, titles) are never converted.
#pragma once

#include <string>
#include <string_view>

namespace lumbra::platform {

// UTF-8 to CP932. A character CP932 cannot hold becomes '?'.
std::string ToCp932(std::string_view utf8);
// CP932 to UTF-8; invalid bytes become U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);
bool IsValidUtf8(std::string_view bytes);
// Any byte string as displayable UTF-8: valid UTF-8 as it is, otherwise decoded as CP932.
std::string ToDisplayText(std::string_view bytes);

}  // namespace lumbra::platform
