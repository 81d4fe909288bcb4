#include "rebuild/tag_attributes.h"

#include <algorithm>
#include <array>

#include "core/ascii.h"
#include "rebuild/markup_context.h"

namespace lumbra {
namespace {

constexpr std::array<AttributeName, 14> kAttributes = {{
    {"href", Attr::Href, LinkKind::Href},
    {"hsef", Attr::Hsef, LinkKind::Hsef},
    {"src", Attr::Src, LinkKind::Src},
    {"srd", Attr::Srd, LinkKind::Srd},
    {"background", Attr::Background, LinkKind::Background},
    {"action", Attr::Action, LinkKind::Action},
    {"base href", Attr::BaseHref, std::nullopt},
    {"language", Attr::Language, std::nullopt},
    {"codebase", Attr::Codebase, std::nullopt},
    {"code", Attr::Code, std::nullopt},
    {"srcset", Attr::Srcset, std::nullopt, true},
    {"imagesrcset", Attr::Srcset, std::nullopt, true},
    {"poster", Attr::Poster, LinkKind::Src, true},
    {"style", Attr::Style, std::nullopt, true},
}};

// Whether some attribute name begins with the lower-case `c`.
bool IsNameStart(char c) {
  for (const AttributeName& attr : kAttributes) {
    if (attr.name.front() == c) return true;
  }
  return false;
}

bool IsValueEnd(char c) { return c == ' ' || c == '"' || c == '>'; }

// Whether the tag holds `name` (lower case) at `at`, in any letter case.
bool NameAt(const std::string& tag, std::size_t at, std::string_view name) {
  if (tag.size() - at < name.size()) return false;
  for (std::size_t k = 0; k < name.size(); ++k) {
    if (LowerAscii(tag[at + k]) != name[k]) return false;
  }
  return true;
}

// Places the value of a 1990s name found with its old reading at [value, valueEnd): sets
// occ's span and quote; false when the value is to be left alone.
bool PlaceOldValue(const std::string& tag, const std::vector<BrowserAttribute>& attributes,
                   std::size_t value, std::size_t valueEnd, Occurrence& occ) {
  occ.valueAt = value;
  occ.valueLength = valueEnd - value;
  if (value < tag.size() && tag[value] == '\'') {
    for (const BrowserAttribute& attr : attributes) {
      if (!attr.hasValue || attr.quote != '\'' || attr.valueAt != value + 1) continue;
      if (!attr.closed) return false;  // a browser reads on past the tag
      occ.valueAt = attr.valueAt;
      occ.valueLength = attr.valueEnd - attr.valueAt;
      occ.quote = '\'';
      return occ.valueLength < kValueTooLong;
    }
  }
  if (valueEnd == value) return true;  // nothing to rewrite, nothing to break
  const BrowserAttribute* holder = nullptr;
  for (const BrowserAttribute& attr : attributes) {
    if (attr.hasValue && value >= attr.valueAt && value < attr.valueEnd) {
      holder = &attr;
      break;
    }
  }
  if (holder == nullptr) return false;  // a browser reads it as a name
  if (holder->quote != 0) {
    occ.quote = holder->quote;
    return valueEnd <= holder->valueEnd;
  }
  // A line break in an unquoted value has always been read as a blank, and the new value
  // keeps one there, where a browser ended the value. Past the break (or past a form feed,
  // which the old reading takes for a letter) the old value may run on over what a browser
  // reads as further attributes; the new value takes their place, and a quote after it could
  // open a value (and the tag run on) where it did not, or no longer where it did. Such a
  // value is left as it stands.
  if (valueEnd > holder->valueEnd) {
    const std::string_view past =
        std::string_view(tag).substr(holder->valueEnd, valueEnd - holder->valueEnd);
    if (!std::all_of(past.begin(), past.end(), IsHtmlSpace) &&
        tag.find_first_of("\"'", holder->valueEnd) != std::string::npos) {
      return false;
    }
  }
  return true;
}

// Places the value of a name of today: its whole value, as a browser reads it; false when it
// has none or a browser reads on past the tag.
bool PlaceTodayValue(const std::vector<BrowserAttribute>& attributes, std::size_t nameAt,
                     std::size_t nameLength, Occurrence& occ) {
  for (const BrowserAttribute& attr : attributes) {
    if (attr.nameAt != nameAt) continue;
    if (attr.nameEnd != nameAt + nameLength || !attr.hasValue || !attr.closed) return false;
    occ.valueAt = attr.valueAt;
    occ.valueLength = attr.valueEnd - attr.valueAt;
    occ.quote = attr.quote;
    return true;
  }
  return false;
}

// The occurrences of every attribute name that stand after a blank and before an '=' within
// three characters and have a value to rewrite, in table order.
std::vector<Occurrence> FindOccurrences(const std::string& tag, const TagReading* read) {
  // A name counts only just after a blank, so only those places are tried, and of them only
  // the ones that begin as some name does.
  std::vector<std::size_t> starts;
  for (std::size_t blank = tag.find(' '); blank != std::string::npos;
       blank = tag.find(' ', blank + 1)) {
    if (blank + 1 < tag.size() && IsNameStart(LowerAscii(tag[blank + 1]))) {
      starts.push_back(blank + 1);
    }
  }
  std::vector<Occurrence> found;
  if (starts.empty()) return found;
  TagReading own;  // read when first needed, unless the caller has read the tag
  const std::vector<BrowserAttribute>* attributes = read != nullptr ? &read->attributes : nullptr;
  std::size_t held = 0;
  for (const AttributeName& attr : kAttributes) {
    std::size_t from = 0;
    for (std::size_t at : starts) {
      if (at < from || !NameAt(tag, at, attr.name)) continue;
      std::size_t end = at + attr.name.size();
      std::size_t eq = std::string::npos;
      for (std::size_t k = end; k < end + 3 && k < tag.size(); ++k) {
        if (tag[k] == '=') {
          eq = k;
          break;
        }
      }
      if (eq == std::string::npos) continue;
      std::size_t value = eq + 1;
      while (value < tag.size() && (tag[value] == ' ' || tag[value] == '"')) ++value;
      std::size_t valueEnd = value;
      while (valueEnd < tag.size() && valueEnd - value < kValueTake && !IsValueEnd(tag[valueEnd])) {
        ++valueEnd;
      }
      if (attributes == nullptr) {
        ReadTag(tag, own);
        attributes = &own.attributes;
      }
      Occurrence occ{&attr, at, attr.name.size(), value, valueEnd - value, 0, {}};
      // A value of kValueTooLong characters or more counts as none: its text stays as it is.
      const bool placed = attr.today ? PlaceTodayValue(*attributes, at, attr.name.size(), occ)
                                     : valueEnd - value < kValueTooLong &&
                                           PlaceOldValue(tag, *attributes, value, valueEnd, occ);
      if (placed) found.push_back(std::move(occ));
      ++held;
      from = valueEnd;
      if (held >= kOccurrenceLimit) break;
    }
  }
  return found;
}

// Drops an occurrence that starts inside an earlier one, keeping the table order of the rest.
void DropOverlaps(std::vector<Occurrence>& occurrences) {
  if (occurrences.size() < 2) return;
  std::vector<std::size_t> order(occurrences.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return occurrences[a].nameAt < occurrences[b].nameAt;
  });
  std::vector<bool> keep(occurrences.size(), false);
  std::size_t coveredTo = 0;
  for (std::size_t i : order) {
    if (occurrences[i].nameAt < coveredTo) continue;
    keep[i] = true;
    coveredTo = occurrences[i].valueEnd();
  }
  std::vector<Occurrence> kept;
  for (std::size_t i = 0; i < occurrences.size(); ++i) {
    if (keep[i]) kept.push_back(std::move(occurrences[i]));
  }
  occurrences = std::move(kept);
}

}  // namespace

std::vector<Occurrence> FindAttributes(const std::string& tag, const TagReading* read) {
  std::vector<Occurrence> occurrences = FindOccurrences(tag, read);
  DropOverlaps(occurrences);
  return occurrences;
}

}  // namespace lumbra
