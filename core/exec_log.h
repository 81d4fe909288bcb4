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
// that cannot be written is lost silently: the log never stops a job.
void AppendExecLog(const JobContext& ctx, std::string_view text);

// The same for a line already in CP932 (own texts converted, outside values as they came).
void AppendExecLogBytes(const JobContext& ctx, std::string_view bytes);

// Empties the execution log (the job start does this while execLog is on).
void TruncateExecLog(const JobContext& ctx);

}  // namespace lumbra
