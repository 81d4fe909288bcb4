// Paths in the LogTrees: every rule here finds the tree-relative part of a path by the text
// "log/" (the first occurrence, any case), since every tree root ends in "log". In a link's
// own text "log/" may end a folder of its site instead (/blog/), so there it is read as a
// tree path only when the folder holds nothing (ChooseReading). Nothing is written to disk
// here; the only file-system access is existence tests through the job's path table, which
// answers for every path asked before.
#include "rebuild/link_resolver.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "core/ascii.h"
#include "core/log_tree.h"
#include "platform/paths.h"

namespace lumbra {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Whether a path climbs above the point where its tree-relative part begins (after the first
// "log/", or the path's start when it has none), or holds a NUL. Such a candidate is never
// taken as a local copy, so no link is ever pointed at a file outside the logs.
bool LeavesTree(std::string_view path) {
  if (path.find('\0') != npos) return true;
  std::string_view relative = AfterLogMarker(path).value_or(path);
  int depth = 0;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == npos) end = relative.size();
    std::string_view segment = relative.substr(start, end - start);
    if (segment == "..") {
      if (--depth < 0) return true;
    } else if (!segment.empty() && segment != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return false;
}

// The type of a candidate, through the job's table, by the name it is stored under (a
// component too long for a file name has its short name); Missing for a path that leaves its
// tree.
platform::EntryType CandidateType(platform::PathTable& paths, std::string_view path) {
  if (LeavesTree(path)) return platform::EntryType::Missing;
  return NeedsShortNames(path) ? paths.TypeOf(ShortNames(path)) : paths.TypeOf(path);
}

bool CandidateExists(platform::PathTable& paths, std::string_view path) {
  return CandidateType(paths, path) != platform::EntryType::Missing;
}

bool IsDirectoryPath(platform::PathTable& paths, std::string_view path) {
  return CandidateType(paths, path) == platform::EntryType::Directory;
}

// Whether a link begins with a URL scheme (two or more characters, a letter first, then
// ':'), such as "https:" or "news:". Such a link names no file below the page's directory.
bool BeginsWithScheme(std::string_view link) {
  std::size_t i = 0;
  while (i < link.size()) {
    char c = link[i];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) break;
    ++i;
  }
  return i >= 2 && i < link.size() && link[i] == ':';
}

constexpr std::array<std::string_view, 3> kDefaultDocuments = {"home.html", "index.html",
                                                               "default.html"};
constexpr std::array<std::string_view, 5> kExtensionGuesses = {".html", ".gif", ".jpg", ".jpeg",
                                                               ".asp"};
constexpr std::array<std::string_view, 14> kDocumentExtensions = {
    ".htm", ".html", ".gif", ".jpg", ".jpeg", ".mov", ".avi",
    ".mpg", ".txt",  ".dcr", ".zip", ".asp",  ".mid", ".wrl"};
constexpr std::array<std::string_view, 4> kMediaExtensions = {".mov", ".avi", ".zip", ".dcr"};
// The documents of today, known by the extension of their name's last segment exactly.
constexpr std::array<std::string_view, 15> kTodaysDocumentExtensions = {
    ".png", ".webp", ".svg", ".avif", ".ico", ".css",  ".js",   ".json",
    ".xml", ".pdf",  ".mp4", ".webm", ".mp3", ".woff", ".woff2"};
constexpr std::array<std::string_view, 3> kTodaysMediaExtensions = {".mp4", ".webm", ".mp3"};

// The extensions of the system's first document types are found in the last ten characters
// of a name whose fourth or fifth last is a '.' ("x.htm.bak" is a page too); today's by the
// extension of the last segment.
template <std::size_t N, std::size_t M>
bool HasExtensionOf(std::string_view name, const std::array<std::string_view, N>& extensions,
                    const std::array<std::string_view, M>& todays) {
  std::size_t n = name.size();
  bool dotted = (n >= 4 && name[n - 4] == '.') || (n >= 5 && name[n - 5] == '.');
  if (dotted) {
    std::string tail = LowerAscii(name.substr(n > 10 ? n - 10 : 0, 10));
    for (std::string_view ext : extensions) {
      if (tail.find(ext) != npos) return true;
    }
  }
  std::string_view segment = name.substr(name.rfind('/') + 1);
  std::size_t dot = segment.rfind('.');
  if (dot == npos) return false;
  return std::any_of(todays.begin(), todays.end(),
                     [&](std::string_view ext) { return EqualsNoCase(segment.substr(dot), ext); });
}

}  // namespace

namespace {

// One candidate path of ResolveLink after its look-ups.
struct Lookup {
  std::string path;      // the local copy, when found
  std::string relative;  // the tree-relative form before the clean-ups, for the web form
  std::string tail;      // the query or fragment kept apart during the look-ups
  bool found = false;
};

// Cleans the candidate `p` and looks for its local copy: default documents, extension
// guesses, ".html", and (with READ_AEL) the other trees.
Lookup LookUp(const JobContext& ctx, platform::PathTable& table, std::string_view treeRoot,
              std::string p, bool guessExtension, LinkKind kind) {
  // The web form for an unresolved link, taken before the clean-ups (it keeps "../").
  std::string relative = TreeRelativePart(p, treeRoot);

  // Clean from position 3 on, so that a drive prefix would stay.
  std::string tail;
  if (ContainsNoCase(p, "cgi-bin") || ContainsNoCase(p, ".cgi")) {
    // The query stays in the file name, the way cache entries of scripts are stored.
    const std::string original = p;
    for (std::size_t i = kCleanFrom; i < p.size(); ++i) {
      char c = original[i];
      if (c == '/' && original[i - 1] == '/') p[i] = '-';
      if (c == '?' || c == ':' || c == '*') p[i] = '-';
    }
  } else {
    std::size_t cut = p.size() > kCleanFrom ? FindEither(p, '?', '#', kCleanFrom) : npos;
    if (cut != npos) {
      tail = p.substr(cut);
      p.resize(cut);
    }
    for (std::size_t i = kCleanFrom; i < p.size(); ++i) {
      if (p[i] == ':' || p[i] == '*') p[i] = '-';
    }
  }

  if (std::size_t pos = p.find("//"); pos != npos) p.erase(pos, 1);

  if (p.find("./") != npos) {
    std::size_t slash = LogMarkerSlash(p);
    if (slash != npos) p = p.substr(0, slash + 1) + ResolveDotSegments(p.substr(slash + 1));
  }

  bool found = false;
  for (char lineBreak : {'\r', '\n'}) {
    std::size_t at = p.find(lineBreak);
    if (at == npos) continue;
    if (!CandidateExists(table, p.substr(0, at))) {
      p.erase(at, 1);
    } else {
      found = true;
      p[at] = ' ';
    }
  }

  // p with a name or an extension added, in one buffer for all the candidates.
  std::string candidate;
  auto with = [&](std::string_view added) -> const std::string& {
    return candidate.assign(p).append(added);
  };
  if (!p.empty() && p.back() == '/') {
    for (std::string_view name : kDefaultDocuments) {
      if (CandidateExists(table, with(name))) {
        p += name;
        found = true;
        break;
      }
    }
  } else if (CandidateExists(table, p)) {
    found = true;
  }

  if (!found && (guessExtension || kind == LinkKind::Src)) {
    for (std::string_view ext : kExtensionGuesses) {
      if (CandidateExists(table, with(ext))) {
        p += ext;
        found = true;
        break;
      }
    }
  }

  if (!found && CandidateExists(table, with(".html"))) {
    p += ".html";
    found = true;
  }

  // A document of today's types is stored with its type's extension added to a name that had
  // none ("site" of text/css is "site.css"), so such a name is looked for with them too.
  if (!found && !p.empty() && p.back() != '/' &&
      p.find('.', p.rfind('/') + 1) == std::string::npos) {
    for (std::string_view ext : kTodaysDocumentExtensions) {
      if (CandidateExists(table, with(ext))) {
        p += ext;
        found = true;
        break;
      }
    }
  }

  if (!found && ctx.readAel) {
    std::size_t marker = LogMarkerSlash(p);
    if (marker != npos) {
      const std::string s = p.substr(marker);
      for (const std::string& other : ctx.logDir) {
        if (!other.empty() && CandidateExists(table, other + s)) {
          p = other + s;
          found = true;
          break;
        }
      }
    }
  }

  if (found && IsDirectoryPath(table, p)) {
    const bool slashed = !p.empty() && p.back() == '/';
    bool hasDefault = false;
    for (std::string_view name : kDefaultDocuments) {
      std::string candidate = p + (slashed ? "" : "/") + std::string(name);
      if (CandidateExists(table, candidate)) {
        p = std::move(candidate);
        hasDefault = true;
        break;
      }
    }
    found = hasDefault;
  }

  if (found && NeedsShortNames(p)) p = ShortNames(p);
  return {std::move(p), std::move(relative), std::move(tail), found};
}

// Whether the host directory of a reading from MarkerReading exists in the tree.
bool HostDirectoryExists(platform::PathTable& table, std::string_view treeRoot,
                         std::string_view marker) {
  return IsDirectoryPath(table, marker.substr(0, marker.find('/', treeRoot.size() + 1)));
}

// The choice between the ordinary reading of a link or base and its MarkerReading (may be
// ""), see ResolveLink. `resolve` returns a result with `found`; the marker reading is
// resolved only when the ordinary one finds nothing.
template <typename Resolve>
auto ChooseReading(platform::PathTable& table, std::string_view treeRoot,
                   const std::string& ordinary, const std::string& marker, Resolve resolve) {
  auto ordinaryResult = resolve(ordinary);
  if (ordinaryResult.found || marker.empty()) return ordinaryResult;
  auto markerResult = resolve(marker);
  if (markerResult.found || HostDirectoryExists(table, treeRoot, marker)) return markerResult;
  return ordinaryResult;
}

// The log store keeps a host's port after a '-' ("127.0.0.1-8080"); the web address of a link
// that finds no copy has its ':' again.
void RestorePort(std::string& web) {
  const std::string_view host = std::string_view(web).substr(0, web.find('/'));
  const std::size_t dash = host.rfind('-');
  if (dash == std::string_view::npos || dash + 1 == host.size()) return;
  for (char c : host.substr(dash + 1)) {
    if (c < '0' || c > '9') return;
  }
  web[dash] = ':';
}

// The file:// URL a relative link between two local copies stands for: "../" climbing out of
// the page's host directory to a host directory of the page's tree or of another LogTree.
// Empty for any other link (a page's own relative links stay within its site).
std::string LocalReading(const JobContext& ctx, const PageLocation& page, std::string_view link) {
  if (!link.starts_with("../")) return {};
  const std::size_t cut = FindEither(link, '?', '#');
  const std::string target =
      platform::CleanAbsolutePath(std::string(page.dir) + std::string(link.substr(0, cut)));
  const std::string hostDir = platform::CleanAbsolutePath(std::string(page.hostDir) + "/");
  if (target.starts_with(hostDir)) return {};
  auto below = [&target](std::string_view root) {
    if (root.empty()) return false;
    const std::string dir = platform::CleanAbsolutePath(std::string(root) + "/");
    // A host directory and a name below it, never the tree root's own files.
    return target.starts_with(dir) && target.find('/', dir.size()) != std::string::npos;
  };
  if (!below(page.treeRoot) && std::none_of(ctx.logDir.begin(), ctx.logDir.end(), below)) {
    return {};
  }
  return platform::FileUrl(target) + std::string(link.substr(std::min(cut, link.size())));
}

// ResolveLink without the local reading of a relative link.
int ResolveAsWritten(const JobContext& ctx, platform::PathTable& paths, const PageLocation& page,
                     std::string& link, LinkKind kind, bool* counterFlag) {
  if (link.empty()) return 0;
  const std::string root(page.treeRoot);

  // The candidate path; the first rule that applies wins. A link beginning with '/' or '.'
  // that holds "log/" may name a folder of its site (/blog/) or hold a path of the tree: it
  // gets a second candidate, tried when the first finds nothing.
  std::string p;
  std::string markerReading;
  bool absolute = true;
  bool guessExtension = false;
  std::size_t pos;
  if ((pos = FindNoCase(link, "file://")) != npos) {
    std::size_t marker = LogMarkerSlash(link);
    if (marker != npos) {
      p = root + link.substr(marker);
    } else {
      std::size_t triple = FindNoCase(link, "file:///");
      p = root + (triple != npos ? link.substr(triple + 7) : link.substr(pos + 6));
    }
  } else if (link.front() == '/') {
    p = std::string(page.hostDir) + link;
    markerReading = MarkerReading(root, link);
  } else if ((pos = FindNoCase(link, "http://")) != npos) {
    p = root + link.substr(pos + 6);
  } else if ((pos = FindNoCase(link, "https://")) != npos) {
    p = root + link.substr(pos + 7);  // stored like http, under the same host directory
  } else if ((pos = FindNoCase(link, "ftp://")) != npos) {
    p = root + link.substr(pos + 5);
  } else if ((pos = FindNoCase(link, "gopher://")) != npos) {
    p = root + link.substr(pos + 8);
    guessExtension = !ContainsNoCase(p, ".htm") && !ContainsNoCase(p, ".jpeg") &&
                     !ContainsNoCase(p, ".jpg") && !ContainsNoCase(p, ".gif") &&
                     !ContainsNoCase(p, ".asp");
  } else if (link.front() == '.') {
    p = std::string(page.dir) + link;
    markerReading = MarkerReading(root, link);
  } else if (link.front() == '#') {
    p = std::string(page.path) + link;
  } else {
    absolute = false;
    p = std::string(page.dir) + link;
  }

  const Lookup result =
      ChooseReading(paths, root, p, markerReading, [&](const std::string& candidate) {
        return LookUp(ctx, paths, root, candidate, guessExtension, kind);
      });
  const std::string& tail = result.tail;
  if (result.found) {
    link = ctx.LocalLink(page.linkFrom, result.path) + tail;
    return 1;
  }

  std::string web = result.relative;
  RestorePort(web);
  if (!tail.empty()) {
    std::size_t cut = FindEither(web, '?', '#');
    if (cut != npos) web.resize(cut);
  }
  if (ContainsNoCase(link, "http://")) {
    link = "http://" + web + tail;
  } else if (ContainsNoCase(link, "https://")) {
    link = "https://" + web + tail;
  } else if (ContainsNoCase(link, "ftp://")) {
    link = "ftp://" + web + tail;
  } else if (ContainsNoCase(link, "gopher://")) {
    link = "gopher://" + web + tail;
  } else if (absolute || (!StartsWithNoCase(link, "mailto") && !BeginsWithScheme(link) &&
                          HasDocumentExtension(web))) {
    link = "http://" + web + tail;
  }
  if (kind == LinkKind::Src && counterFlag != nullptr) {
    *counterFlag = !HasDocumentExtension(link) &&
                   (ContainsNoCase(link, "count") || ContainsNoCase(link, "cgi"));
  }
  return 0;
}

}  // namespace

int ResolveLink(const JobContext& ctx, platform::PathTable& paths, const PageLocation& page,
                std::string& link, LinkKind kind, bool* counterFlag) {
  std::string local = LocalReading(ctx, page, link);
  if (local.empty()) return ResolveAsWritten(ctx, paths, page, link, kind, counterFlag);
  // The reading within the site comes first, as it always did; the local reading only where
  // that finds no copy.
  std::string written = link;
  bool counter = false;
  const int found = ResolveAsWritten(ctx, paths, page, written, kind, &counter);
  if (found == 0 && ResolveAsWritten(ctx, paths, page, local, kind, nullptr) != 0) {
    link = std::move(local);
    return 1;
  }
  link = std::move(written);
  if (found == 0 && kind == LinkKind::Src && counterFlag != nullptr) *counterFlag = counter;
  return found;
}

LinkAnswers::Answers& LinkAnswers::AnswersAt(const PageLocation& page) {
  const std::array<std::string_view, 4> parts{page.treeRoot, page.hostDir, page.dir, page.linkFrom};
  // The pages of a directory come one after another: their place is the last one.
  if (last_ != nullptr && std::equal(parts.begin(), parts.end(), lastPlace_.begin())) {
    return *last_;
  }
  key_.clear();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    key_ += parts[i];
    key_ += '\0';  // no path holds one
    lastPlace_[i] = parts[i];
  }
  last_ = &places_[key_];
  return *last_;
}

int LinkAnswers::Resolve(const JobContext& ctx, platform::PathTable& paths,
                         const PageLocation& page, std::string& link, LinkKind kind,
                         bool* counterFlag) {
  if (link.starts_with('#')) return ResolveLink(ctx, paths, page, link, kind, counterFlag);
  if (paths.changes() != changes_ || kept_ >= kAnswersMax) {
    places_.clear();
    last_ = nullptr;
    kept_ = 0;
    changes_ = paths.changes();
  }
  Answers& answers = AnswersAt(page);
  key_.assign(1, static_cast<char>(kind)).append(link);
  auto [it, added] = answers.try_emplace(key_);
  Answer& answer = it->second;
  if (added) {
    ++kept_;
    answer.link = link;
    answer.found = ResolveLink(ctx, paths, page, answer.link, kind, &answer.counter);
  }
  link = answer.link;
  // ResolveLink tells a counter only of a Src link it did not find.
  if (kind == LinkKind::Src && answer.found == 0 && counterFlag != nullptr) {
    *counterFlag = answer.counter;
  }
  return answer.found;
}

std::string MarkerReading(std::string_view treeRoot, std::string_view text) {
  std::size_t slash = LogMarkerSlash(text);
  if (slash == npos) return {};
  std::size_t hostEnd = text.find('/', slash + 1);
  if (hostEnd == npos || hostEnd == slash + 1) return {};
  return std::string(treeRoot) + std::string(text.substr(slash));
}

std::string ChooseDirectory(platform::PathTable& paths, std::string_view treeRoot,
                            const std::string& ordinary, const std::string& marker) {
  struct Directory {
    std::string path;
    bool found;
  };
  auto lookUp = [&paths](const std::string& path) {
    return Directory{path, IsDirectoryPath(paths, path)};
  };
  return ShortNames(ChooseReading(paths, treeRoot, ordinary, marker, lookUp).path);
}

bool HasDocumentExtension(std::string_view name) {
  return HasExtensionOf(name, kDocumentExtensions, kTodaysDocumentExtensions);
}

bool HasMediaExtension(std::string_view name) {
  return HasExtensionOf(name, kMediaExtensions, kTodaysMediaExtensions);
}

std::string ResolveDotSegments(std::string_view path) {
  std::string text(path);
  if (text.size() > kResolveDotSegmentsMax) return text;
  for (std::size_t up = text.find("../"); up != npos; up = text.find("../")) {
    std::size_t keep = npos;
    for (std::size_t i = up >= 2 ? up - 2 : 0; up >= 2 && i >= 1; --i) {
      if (text[i] == '/') {
        keep = i;
        break;
      }
    }
    if (keep == npos) {
      text.erase(up, 3);  // nothing to climb out of: only this "../" goes
      break;
    }
    text.erase(keep + 1, up + 3 - (keep + 1));
  }
  for (std::size_t at = text.find("/./"); at != npos; at = text.find("/./", at)) {
    text.erase(at, 2);
  }
  return text;
}

}  // namespace lumbra
