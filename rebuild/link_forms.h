// The forms a link takes in a saved page, and how each is resolved and written back. The
// attributes of the 1990s (href, src, ...) and the strings of scripts keep their rules; the
// links of today's pages (srcset candidates, poster, url() and @import of style sheets) are
// resolved the same way, except that what names no document is left as it is. A link that
// is written back into the markup is escaped so that it stays the value it replaces.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/job_context.h"
#include "platform/path_table.h"
#include "rebuild/link_list.h"
#include "rebuild/link_resolver.h"

namespace lumbra {

// What the rewriting of a job's pages works with: the job's snapshot (its LogTree roots and
// the switches READ_CNT and READ_AEL), the job's path table, and the link list that collects
// the external links of the unreferenced-links job (null in every other job), the answers
// the job's links were given, and the thread its walks' pages are replaced on.
class PageReplacements;

struct RewriteContext {
  const JobContext& ctx;
  platform::PathTable& paths;
  LinkList* links = nullptr;
  LinkAnswers* answers = nullptr;     // the job's answers kept, or none: each link resolved anew
  PageReplacements* later = nullptr;  // where its walks' pages are replaced; none: at once
};

enum class LinkForm {
  Legacy,  // an attribute of the 1990s or a script string: a link to an anchor of the page
           // itself ("#top") becomes the page's own file:// URL plus the anchor, as always
  Today,   // srcset, poster, CSS: an empty link and an anchor of the page stay as they are
};

// Whether a link names no document and stays as it is: one with a scheme other than http,
// https, ftp, gopher and file (data:, blob:, javascript:, mailto:, tel:, ...), and in today's
// forms an empty link or an anchor ("#clip").
bool StaysAsItIs(std::string_view link, LinkForm form);

// The first "%7E" of a link becomes "~", the way stored paths name a user's folder.
void DecodeTilde(std::string& link);

// Resolves one link of `page` in place, as ResolveLink does (and with its result), except
// that a link that StaysAsItIs is not touched (result 0), and a link without a scheme
// ("//cdn.example/x.js") is looked up as http and stays as it is when nothing is stored. In
// today's forms the tilde is decoded first. The web form of an unresolved link goes into
// `list` when given. `counterFlag` as for ResolveLink.
int ResolvePageLink(const RewriteContext& job, const PageLocation& page, std::string& link,
                    LinkKind kind, LinkForm form, LinkList* list, bool* counterFlag);

// A srcset value with each candidate's URL passed through `resolve`, every other byte (the
// descriptors, commas and blanks) kept. A URL that `resolve` changes is percent-encoded where
// it would otherwise end early (a blank, a final comma).
std::string RewriteSrcset(std::string_view value, const std::function<void(std::string&)>& resolve);

// Appends `value`, the new value of an attribute, to the tag being rebuilt, in place of
// `original`. `quote` is the quote it stands in ('"' or '\'', 0 for none). A value equal to
// the original goes out as it was; any other is escaped so that it stays one value: its
// quote character as &quot; or &#39;, and unquoted, blanks and '>' as references (except where
// the original holds a line break, which the link resolution turns into the blank that ends
// the value).
void AppendAttributeValue(std::string& out, std::string_view value, std::string_view original,
                          char quote);

}  // namespace lumbra
