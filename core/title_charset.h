// What tells how the bytes of a page's title are to be read. The rewriting of the page finds
// what the page itself says; the add job adds what the cache says of it (the charset of its
// content type); the index record reads the title by it.
#pragma once

#include <string>

namespace lumbra {

struct TitleCharset {
  // The encoding the page declares by a byte order mark or a <meta> tag, else the one its
  // content type names (lower case, see EncodingForLabel); empty when nothing declares one.
  std::string declared;
  // Every byte of the page is valid UTF-8 (a browser reads a local file that declares nothing
  // as UTF-8 then).
  bool utf8Page = false;
  // The title is the start of a longer one: its last bytes may be the start of a character or
  // of a character reference.
  bool cut = false;
};

}  // namespace lumbra
