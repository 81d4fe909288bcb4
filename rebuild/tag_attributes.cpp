#include "rebuild/tag_attributes.h"

#include <algorithm>
#include <array>

#include "core/ascii.h"

namespace lumbra {
namespace {

constexpr std::array<AttributeName, 10> kAttributes = {{
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
}};

// Whether some attribute name begins with the lower-case `c`.
bool IsNameStart(char c) {
  for (const AttributeName& attr : kAttributes) {
    if (attr.name.front() == c) return true;
  }
  return false;
}

bool IsValueEnd(char c) { return c == ' ' || c == '"' || c == '>'; }

// The occurrences of every attribute name that stand after a blank and before an '=' within
// three characters and have a value shorter than kValueTooLong, in table order.
std::vector<Occurrence> FindOccurrences(const std::string& tag) {
  // A name counts only just after a blank, so only those places are tried, and of them only
  // the ones that begin as some name does.
  std::vector<std::size_t> starts;
  for (std::size_t i = 1; i < tag.size(); ++i) {
    if (tag[i - 1] == ' ' && IsNameStart(LowerAscii(tag[i]))) starts.push_back(i);
  }
  std::vector<Occurrence> found;
  if (starts.empty()) return found;
  const std::string lower = LowerAscii(tag);
  std::size_t held = 0;
  for (const AttributeName& attr : kAttributes) {
    std::size_t from = 0;
    for (std::size_t at : starts) {
      if (at < from || lower.compare(at, attr.name.size(), attr.name) != 0) continue;
      std::size_t end = at + attr.name.size();
      std::size_t eq = std::string::npos;
      for (std::size_t k = end; k < end + 3 && k < lower.size(); ++k) {
        if (lower[k] == '=') {
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
      // A value of kValueTooLong characters or more counts as none: its text stays as it is.
      if (valueEnd - value < kValueTooLong) {
        found.push_back({&attr, at, attr.name.size(), value, valueEnd - value, {}});
      }
      ++held;
      from = valueEnd;
      if (held >= kOccurrenceLimit) break;
    }
  }
  return found;
}

// Drops an occurrence that starts inside an earlier one, keeping the table order of the rest.
void DropOverlaps(std::vector<Occurrence>& occurrences) {
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

std::vector<Occurrence> FindAttributes(const std::string& tag) {
  std::vector<Occurrence> occurrences = FindOccurrences(tag);
  DropOverlaps(occurrences);
  return occurrences;
}

}  // namespace lumbra
