// The log-add job: reads the browser cache, stores every selected entry into its LogTree,
// keeps old copies when asked, then rewrites and records the pages it stored.
#pragma once

#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"
#include "index/index_record.h"
#include "logstore/log_copy.h"
#include "platform/path_table.h"

namespace lumbra {

// What the job works with: the snapshot, the counters, both tables and the progress target.
struct LogAddTarget {
  const JobContext& ctx;
  JobCounters& counters;
  CacheEntryTable& cache;
  IndexRecordTable& index;
  Frontend& frontend;
  platform::PathTable& paths;
};

// Runs the job. False when the user stopped it (then no closing log line is written and the
// pages stored so far are not rewritten).
bool AddEntriesToLogs(LogAddTarget& target);

}  // namespace lumbra
