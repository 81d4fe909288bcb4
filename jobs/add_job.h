// The add job: reads the browser's cache, stores every selected entry into its LogTree
// (keeping old copies when asked), rewrites and indexes the pages it stored, and writes the
// index page of new pages, newidx.htm.
#pragma once

#include "cache/cache_layout.h"
#include "cache/cache_table.h"
#include "jobs/job.h"

namespace lumbra {

// The job's work on the cache in ctx.cacheDir, which the first of `layouts` that holds it
// reads, in three steps: the cache's entries are read into `cache`; the first pass stores
// every entry the switches select (an entry's status becomes 1 when it was stored); the
// second pass rewrites and indexes the pages stored (with READ_DOM, every page below the host
// directories that received files). False when the cache's index could not be read, or when
// the user stopped the job: the pages stored so far then stay as they were copied, not
// rewritten, and no closing log line is written.
bool AddEntriesToLogs(JobTarget& job, const CacheLayouts& layouts, CacheEntryTable& cache);

// The job: its work, then newidx.htm. False when the work did not complete (no index page is
// written then).
bool RunAddJob(JobTarget& job, const CacheLayouts& layouts, CacheEntryTable& cache);

}  // namespace lumbra
