// The entry point of the offline collection in INDEX_DIR: the frameset lumbra.htm (top bar,
// site list on the left, index page on the right), the top bar top.htm and the site lists.
#pragma once

#include <string>

#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

// The links of the top bar (CP932 bytes): one per log that is set, the new-pages list, and
// the Surf list when ctx.surfAvailable. Any length fits.
std::string BuildTopLinkBar(const JobContext& ctx);

// Writes lumbra.htm and top.htm, then the site lists www_a.htm .. www_e.htm, www_n.htm and
// www_surf.htm (of surfidx.htm) of the index pages that exist, each replaced safely (a page
// not written whole leaves the old one). When the frameset or the top page cannot be made, shows
// "ERROR : インデクスの為のメインフレームが作成できません" once and writes nothing further.
// Called after every job, completed or not. Returns the number of pages not written.
int WriteFramePages(const JobContext& ctx, Frontend& frontend);

}  // namespace lumbra
