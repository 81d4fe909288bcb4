#include "rebuild/link_forms.h"

#include <array>
#include <utility>
#include <vector>

#include "core/ascii.h"
#include "rebuild/markup_context.h"

namespace lumbra {
namespace {

// Whether a scheme is one whose documents the logs keep: http, https, ftp, gopher, file.
bool IsStoredScheme(std::string_view scheme) {
  std::array<char, 6> lower;
  if (scheme.size() > lower.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) lower[i] = LowerAscii(scheme[i]);
  const std::string_view name(lower.data(), scheme.size());
  return name == "http" || name == "https" || name == "ftp" || name == "gopher" || name == "file";
}

// The scheme a link begins with (a letter, then letters, digits, '+', '-' or '.', then ':'),
// without its ':'; empty when it has none. One character is a drive letter (c:), no scheme.
std::string_view SchemeOf(std::string_view link) {
  std::size_t i = 0;
  while (i < link.size()) {
    const char c = link[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) break;
    ++i;
  }
  if (i < 2 || i >= link.size() || link[i] != ':') return {};
  return link.substr(0, i);
}

bool IsSchemeRelative(std::string_view link) {
  return link.size() > 2 && link[0] == '/' && link[1] == '/' && link[2] != '/';
}

std::string PercentEncoded(char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto byte = static_cast<unsigned char>(c);
  return {'%', kHex[byte >> 4], kHex[byte & 15]};
}

// The spans [start, end) of a srcset value's candidate URLs, by the HTML standard's rules: a
// URL runs to the next blank; a URL ending in commas ends its candidate there (the commas are
// not part of it); otherwise descriptors follow up to a comma outside parentheses.
std::vector<std::pair<std::size_t, std::size_t>> SrcsetUrls(std::string_view value) {
  std::vector<std::pair<std::size_t, std::size_t>> urls;
  std::size_t pos = 0;
  while (pos < value.size()) {
    while (pos < value.size() && (IsHtmlSpace(value[pos]) || value[pos] == ',')) ++pos;
    if (pos >= value.size()) break;
    const std::size_t start = pos;
    while (pos < value.size() && !IsHtmlSpace(value[pos])) ++pos;
    std::size_t end = pos;
    if (value[end - 1] == ',') {
      while (end > start && value[end - 1] == ',') --end;
    } else {
      bool inParens = false;
      while (pos < value.size()) {
        const char c = value[pos++];
        if (c == '(') inParens = true;
        if (c == ')') inParens = false;
        if (c == ',' && !inParens) break;
      }
    }
    if (end > start) urls.emplace_back(start, end);
  }
  return urls;
}

}  // namespace

bool StaysAsItIs(std::string_view link, LinkForm form) {
  std::size_t lead = 0;
  while (lead < link.size() && IsHtmlSpace(link[lead])) ++lead;
  link.remove_prefix(lead);
  if (form == LinkForm::Today && (link.empty() || link.front() == '#')) return true;
  const std::string_view scheme = SchemeOf(link);
  return !scheme.empty() && !IsStoredScheme(scheme);
}

void DecodeTilde(std::string& link) {
  std::size_t at = link.find("%7E");
  if (at == std::string::npos) return;
  link[at] = '~';
  link.erase(at + 1, 2);
}

namespace {

int Resolve(const RewriteContext& job, const PageLocation& page, std::string& link, LinkKind kind,
            bool* counterFlag) {
  if (job.answers != nullptr) {
    return job.answers->Resolve(job.ctx, job.paths, page, link, kind, counterFlag);
  }
  return ResolveLink(job.ctx, job.paths, page, link, kind, counterFlag);
}

}  // namespace

int ResolvePageLink(const RewriteContext& job, const PageLocation& page, std::string& link,
                    LinkKind kind, LinkForm form, LinkList* list, bool* counterFlag) {
  if (StaysAsItIs(link, form)) {
    // Not resolved, so not found; a counter image is told as it always was.
    if (kind == LinkKind::Src && counterFlag != nullptr) {
      *counterFlag = !HasDocumentExtension(link) &&
                     (ContainsNoCase(link, "count") || ContainsNoCase(link, "cgi"));
    }
    return 0;
  }
  if (form == LinkForm::Today) DecodeTilde(link);
  if (IsSchemeRelative(link)) {
    // The page's own scheme is not known here; a stored copy is the same for both.
    std::string absolute = "http:" + link;
    const int found = Resolve(job, page, absolute, kind, counterFlag);
    if (list != nullptr) list->Record(absolute, found != 0);
    if (found != 0) link = std::move(absolute);
    return found;
  }
  const int found = Resolve(job, page, link, kind, counterFlag);
  if (list != nullptr) list->Record(link, found != 0);
  return found;
}

std::string RewriteSrcset(std::string_view value,
                          const std::function<void(std::string&)>& resolve) {
  std::string out;
  out.reserve(value.size() + 64);
  std::size_t pos = 0;
  for (const auto& [start, end] : SrcsetUrls(value)) {
    out.append(value, pos, start - pos);
    const std::string_view original = value.substr(start, end - start);
    std::string url(original);
    resolve(url);
    if (url == original) {
      out += original;
    } else {
      for (std::size_t i = 0; i < url.size(); ++i) {
        const bool ends = IsHtmlSpace(url[i]) || (url[i] == ',' && i + 1 == url.size());
        if (ends) {
          out += PercentEncoded(url[i]);
        } else {
          out += url[i];
        }
      }
    }
    pos = end;
  }
  out.append(value, pos, std::string_view::npos);
  return out;
}

void AppendAttributeValue(std::string& out, std::string_view value, std::string_view original,
                          char quote) {
  if (value == original) {
    out += original;
    return;
  }
  // Most values hold nothing to escape.
  bool plain;
  if (quote != 0) {
    plain = value.find(quote) == std::string_view::npos;
  } else {
    plain = value.empty() || (value.front() != '"' && value.front() != '\'');
    for (std::size_t i = 0; i < value.size() && plain; ++i) {
      plain = !IsHtmlSpace(value[i]) && value[i] != '>';
    }
  }
  if (plain) {
    out += value;
    return;
  }
  // An unquoted value that ran over a line break has always come out with a blank where the
  // break was (the link resolution makes it), and that blank ends it where a browser ended it.
  const bool keepBlanks =
      quote == 0 && original.find_first_of("\t\n\f\r") != std::string_view::npos;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quote != 0 && c == quote) {
      out += quote == '"' ? "&quot;" : "&#39;";
    } else if (quote == 0 && i == 0 && (c == '"' || c == '\'')) {
      out += c == '"' ? "&quot;" : "&#39;";  // would open a quoted value
    } else if (quote == 0 && c == '>') {
      out += "&gt;";
    } else if (quote == 0 && !keepBlanks && IsHtmlSpace(c)) {
      out += "&#" + std::to_string(static_cast<int>(c)) + ';';
    } else {
      out += c;
    }
  }
}

}  // namespace lumbra
