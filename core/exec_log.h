// The execution log lumbralog.txt in the start directory. While the switch execLog is on,
// the subsystems append their lines to it, opening and closing the file for each line.
// The file is CP932 text with CR LF line ends.
#pragma once

#include <string_view>

#include "core/job_context.h"

namespace lumbra {

inline constexpr std::string_view kExecLogName = "lumbralog.txt";

// Appends a line when execLog is on; does nothing otherwise. `text` is in the system's own
// words (UTF-8 in the source) and is converted to CP932; every "\n" becomes CR LF. A line
// that cannot be written is lost (the log never stops a job); ExecLogLostLines tells.
void AppendExecLog(const JobContext& ctx, std::string_view text);

// The same for a line already in CP932 (own texts converted, outside values as they came).
void AppendExecLogBytes(const JobContext& ctx, std::string_view bytes);

// The execution-log line of a file the job could not copy, rewrite or write (or of a cached
// file it refused): "    " + what + " : " + path, while the log is on. `what` is in the
// system's own words (UTF-8), `path` bytes as they came.
void LogFileFailure(const JobContext& ctx, std::string_view what, std::string_view path);
// The same, and counts the file in failedFiles.
void RecordFileFailure(const JobContext& ctx, JobCounters& counters, std::string_view what,
                       std::string_view path);

// Whether a line of the execution log could not be written since the log was last emptied
// (TruncateExecLog), or the emptying itself failed.
bool ExecLogLostLines();

// Empties the execution log (the job start does this while execLog is on).
void TruncateExecLog(const JobContext& ctx);

}  // namespace lumbra
