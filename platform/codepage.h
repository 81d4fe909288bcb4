// The system's code page. The system's own texts are written in the source as UTF-8 and
// converted to CP932 (Shift-JIS) when they go into a file; bytes that came from outside
// (paths, URLs, titles) are never converted.
#pragma once

#include <optional>
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

// Decodes text of the web into code points. `encoding` is one of the encodings browsers know,
// by its lower-case name ("utf-8", "windows-1252", "shift_jis", "euc-kr", "x-user-defined",
// ...). An invalid sequence becomes U+FFFD; so does an incomplete one at the end, unless
// `endIsCut` (the text is the start of a longer one): then it is dropped. nullopt when the
// encoding is not one of them.
std::optional<std::u32string> DecodeWebText(std::string_view bytes, std::string_view encoding,
                                            bool endIsCut);

// Converts code points to CP932 one at a time with one converter.
class Cp932Encoder {
 public:
  Cp932Encoder();
  Cp932Encoder(const Cp932Encoder&) = delete;
  Cp932Encoder& operator=(const Cp932Encoder&) = delete;

  // Appends the CP932 bytes of `c` to `out`; false, with `out` as it was, when CP932 has no
  // such character.
  bool Append(char32_t c, std::string& out);

 private:
  void* cd_;  // the thread's iconv descriptor, shared with every encoder of the thread
};

}  // namespace lumbra::platform
