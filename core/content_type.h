// Content types as caches hold them ("text/html; charset=utf-8"): the rules of the system
// compare the media type alone, in lower case, and read the charset parameter where a page's
// title needs it.
#pragma once

#include <string>
#include <string_view>

namespace lumbra {

// The media type of a content type: the text before its first ';', without the blanks and
// tabs around it, in ASCII lower case ("text/html").
std::string MediaTypeOf(std::string_view contentType);

// The value of the charset parameter of a content type ("utf-8" of "text/html;
// charset=UTF-8", quotes removed, in ASCII lower case); empty when there is none.
std::string CharsetOf(std::string_view contentType);

// Whether a content type names an HTML page (media type text/html).
bool IsHtmlType(std::string_view contentType);

}  // namespace lumbra
