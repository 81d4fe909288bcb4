// The index pages of the logs: newidx.htm (the pages of the last log-add job), allidx_a.htm
// to allidx_e.htm (the pages of each log after a reconstruction) and surfidx.htm (the surf
// job). Each groups the recorded pages by site under a numbered anchor and links every page
// to its local copy and, for a current copy, to its address on the web.
//
// Pages are CP932 text with CR LF line ends. The system's own words are converted to CP932;
// the values put into the lines (paths, titles, site names) are written as the bytes they are.
#pragma once

#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"
#include "index/index_record.h"

namespace lumbra {

// Link-bar types: 0 the new-pages page, 1..5 the page of log A..E, 7 the surf page.
inline constexpr int kLinkBarNewPages = 0;
inline constexpr int kLinkBarSurf = 7;

// The display name of a log setting: its last path component without the extension ('/' or
// '\' separate); empty for an empty setting or one ending in a separator.
std::string LogDisplayName(std::string_view logDir);

// The links of an index page to the other index pages (CP932 bytes): one per log from A to E
// that is set and is not the page's own log (`type` 1..5), then the new-pages link unless
// `type` is 0. Held in a std::string: any length of INDEX_DIR and log names fits.
std::string BuildIndexLinkBar(const JobContext& ctx, int type);

// Writes one index page to `pageFile`: the records `records` yields for `filter`, in its
// order, a path listed once with the first one's title, each linked in ctx's LINK_STYLE.
// `label` and `linkBar` are CP932 bytes. When the file cannot be made, shows "ERROR :
// インデクスファイルが作成できません" and returns false.
bool WriteIndexPage(const JobContext& ctx, Frontend& frontend, NextIndexRecord& records,
                    const std::string& pageFile, std::string_view filter, std::string_view label,
                    std::string_view linkBar);

// Sorts the records by path and writes the pages the selector names into ctx.indexDir:
// "newidx_" (or any selector beginning with 'n') newidx.htm; 's...' surfidx.htm; "allidx_"
// the pages of every log that is set, A to E; "allidx_a" .. "allidx_e" the page of that one
// log, when it is set. Appends "INDEX 作成開始" to the execution log first. Every page is
// replaced safely: one that cannot be written whole leaves the old page as it was. Returns
// the number of pages that could not be written (each also named in the execution log).
int WriteIndexPages(const JobContext& ctx, Frontend& frontend, const IndexRecordTable& table,
                    std::string_view selector);

// Turns the links to local files of the index pages that other jobs write (newidx.htm of the
// add, surfidx.htm of the surf job, www_l.htm of the unreferenced-links job) into ctx's
// LINK_STYLE, so that a rebuild turns the whole index directory from one style into the
// other. A page that does not exist is passed over, one that needs no change is not written;
// one that cannot be replaced whole stays as it was, with the message of an index page not
// written. Returns the number of pages not written.
int RestyleIndexPages(const JobContext& ctx, Frontend& frontend);

}  // namespace lumbra
