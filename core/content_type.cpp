#include "core/content_type.h"

#include "core/ascii.h"

namespace lumbra {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string MediaTypeOf(std::string_view contentType) {
  return LowerAscii(Trim(contentType.substr(0, contentType.find(';'))));
}

std::string CharsetOf(std::string_view contentType) {
  std::size_t at = contentType.find(';');
  while (at != std::string_view::npos) {
    std::string_view rest = contentType.substr(at + 1);
    std::size_t end = rest.find(';');
    std::string_view parameter = rest.substr(0, end);
    std::size_t eq = parameter.find('=');
    if (eq != std::string_view::npos && EqualsNoCase(Trim(parameter.substr(0, eq)), "charset")) {
      std::string_view value = Trim(parameter.substr(eq + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return LowerAscii(Trim(value));
    }
    at = end == std::string_view::npos ? end : at + 1 + end;
  }
  return {};
}

bool IsHtmlType(std::string_view contentType) { return MediaTypeOf(contentType) == "text/html"; }

}  // namespace lumbra
