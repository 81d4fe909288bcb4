// The narrow site lists of the left frame (www_a.htm .. www_e.htm, www_n.htm): one link per
// site of an index page, to that site's anchor. They are made from the index page as written.
#pragma once

#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

// Makes ctx.indexDir + listPage from ctx.indexDir + indexPage (both names begin with '/').
// `label` is the heading, CP932 bytes. When the index page does not exist nothing is written
// and an older list stays; when the list cannot be made, shows
// "ERROR : インデクスファイルが作成できません". True when the list was written.
bool WriteSiteListPage(const JobContext& ctx, Frontend& frontend, std::string_view indexPage,
                       std::string_view listPage, std::string_view label);

}  // namespace lumbra
