// The unreferenced-links job: every page below the chosen root (ctx.unreferencedDir) is
// rewritten, and the external links that did not resolve are collected in the link list
// serch.tmp, which becomes the link pages named after the root's last component and the
// list of all link pages, www_l.htm.
#pragma once

#include "jobs/job.h"

namespace lumbra {

// The job. False when the user stopped it (the link pages are not written then).
bool RunUnreferencedJob(JobTarget& job);

}  // namespace lumbra
