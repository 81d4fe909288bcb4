// The narrow site lists of the left frame (www_a.htm .. www_e.htm, www_n.htm): one link per
// site of an index page, to that site's anchor. They are made from the index page as written.
#pragma once

#include <string_view>

#include "core/frontend.h"
#include "core/job_context.h"

namespace lumbra {

enum class SiteList { Written, NoIndexPage, Failed };

// Makes ctx.indexDir + listPage from ctx.indexDir + indexPage (both names begin with '/').
// `label` is the heading, CP932 bytes. When the index page does not exist nothing is written
// and an older list stays; when the list cannot be written whole, the older list stays too,
// "ERROR : インデクスファイルが作成できません" is shown and the list is named in the execution
// log.
SiteList WriteSiteListPage(const JobContext& ctx, Frontend& frontend, std::string_view indexPage,
                           std::string_view listPage, std::string_view label);

}  // namespace lumbra
