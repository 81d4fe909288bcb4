// The links of a saved page resolved against the LogTrees: a link whose document is stored
// becomes the file:// URL of its local copy, any other its web address (or stays as it is).
// A stored document lies at its tree root + "/" + host + URL path; the text "log/" in a
// link marks the end of a tree root, except where a folder of its site of that name is meant
// (see MarkerReading).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/job_context.h"
#include "platform/path_table.h"

namespace lumbra {

// The kinds of link that ResolveLink is given: the link attributes of a tag, and the
// strings of a script.
enum class LinkKind { Href, Hsef, Src, Srd, Background, Action, ScriptString };

// A candidate path is cleaned from this position on, so that a drive prefix such as d:/ stays.
inline constexpr std::size_t kCleanFrom = 3;
// ResolveDotSegments leaves longer paths as they are.
inline constexpr std::size_t kResolveDotSegmentsMax = 999;

// A page as its links are resolved against it.
struct PageLocation {
  std::string_view treeRoot;  // its LogTree's root (ends in "log", no trailing '/')
  std::string_view path;      // the page itself, which a link to one of its anchors names
  std::string_view hostDir;   // where a link beginning with '/' starts: treeRoot + "/" + host
  std::string_view dir;       // where a relative link starts, ending in '/': the page's
                              // directory, or the one its base names
  // Where a link to a local copy is written from in the relative LINK_STYLE: the page's own
  // directory; empty (file:// URLs) once a base may send relative links elsewhere.
  std::string_view linkFrom = {};
};

// Resolves one link of `page` in place: the link to an existing local copy (result 1), a
// "file:///" URL or, in the relative LINK_STYLE, relative to page.linkFrom (see
// JobContext::LocalLink), or its web form or the link unchanged (result 0). A relative link
// that climbs out of the page's host directory into a host of a LogTree, and finds no copy
// within the page's site, is read as the file:// URL it stands for (the relative form of a
// link to another site's copy), and taken when that finds a copy. Every path is asked through
// `paths`, the job's table. A link beginning with '/' or '.' is looked up below the host directory
// or the page directory first; only when nothing is found there is its MarkerReading looked up, and
// taken when it resolves or its host directory exists in the tree. Otherwise the web form keeps the
// page's host. READ_AEL (ctx.readAel) lets a link resolve into another LogTree of ctx.
// `counterFlag` is written only for LinkKind::Src links that were not found.
int ResolveLink(const JobContext& ctx, platform::PathTable& paths, const PageLocation& page,
                std::string& link, LinkKind kind, bool* counterFlag);

// ResolveLink with its answers kept: the pages of one directory link to the same documents
// again and again, and each answer costs several look-ups. An answer is given again for the
// same link of a page in the same place (tree, host directory, directory and linkFrom) while
// the job's table learns of no change (PathTable::changes); a link to an anchor of the page
// itself, which names the page, is always resolved anew. The answers kept are bounded.
class LinkAnswers {
 public:
  int Resolve(const JobContext& ctx, platform::PathTable& paths, const PageLocation& page,
              std::string& link, LinkKind kind, bool* counterFlag);

 private:
  struct Answer {
    std::string link;
    int found = 0;
    bool counter = false;  // the counterFlag of a Src link not found
  };
  // The answers in one place, by the kind of link and its text.
  using Answers = std::unordered_map<std::string, Answer>;
  static constexpr std::size_t kAnswersMax = 65536;

  Answers& AnswersAt(const PageLocation& page);

  std::unordered_map<std::string, Answers> places_;
  std::array<std::string, 4> lastPlace_;  // the place of last_, as AnswersAt's parts
  Answers* last_ = nullptr;
  std::size_t kept_ = 0;
  std::uint64_t changes_ = 0;  // the table's changes the answers were worked out under
  std::string key_;            // one buffer for every key
};

// A link or base that holds "log/" may hold a path of a tree (/old/log/host/x.html) or name
// a folder of its site (/blog/x.html, /catalog/). Its reading as a tree path: treeRoot + the
// part from the '/' of "log/" on; "" when no host followed by '/' comes after "log/".
std::string MarkerReading(std::string_view treeRoot, std::string_view text);

// The directory a base or codebase names, chosen the way ResolveLink chooses for a link:
// `ordinary` when it is a directory, else `marker` (a MarkerReading, may be "") when it is
// one or its host directory exists in the tree, else `ordinary`.
std::string ChooseDirectory(platform::PathTable& paths, std::string_view treeRoot,
                            const std::string& ordinary, const std::string& marker);

// Whether a name ends in one of the document extensions the system keeps and links to.
bool HasDocumentExtension(std::string_view name);
// Whether a name ends in one of the media extensions never put into the link list.
bool HasMediaExtension(std::string_view name);
// Removes "../" segments and "/./" from a path (at most 999 characters are handled).
std::string ResolveDotSegments(std::string_view path);

}  // namespace lumbra
