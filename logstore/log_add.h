// The log-add job: reads the browser cache, stores every selected entry into its LogTree,
// keeps old copies when asked, then rewrites and records the pages it stored.
#pragma once

#include "cache/cache_table.h"
#include "core/frontend.h"
#include "core/job_context.h"
#include "index/index_record.h"
#include "logstore/log_copy.h"

namespace lumbra {

// What the job works with: the snapshot, the counters, both tables and the progress target.
struct LogAddTarget {
  const JobContext& ctx;
  JobCounters& counters;
  CacheEntryTable& cache;
  IndexRecordTable& index;
  Frontend& frontend;
};

// Runs the job. False when the user stopped it (then no closing log line is written and the
// pages stored so far are not rewritten).
bool AddEntriesToLogs(LogAddTarget& target);

// Whether an entry in state `state` is stored, by READ_ALL, READ_NEW and READ_HTM.
enum class StoreDecision {
  Skip,           // not stored
  Store,          // directories, old copy, copy
  DirectoryOnly,  // a changed page under NEW without READ_HTM: its directories only
  CopyOnly,       // a changed page under NEW with READ_HTM: copied, no old copy kept
};
StoreDecision DecideStore(const JobContext& ctx, LogState state, bool html);

}  // namespace lumbra
