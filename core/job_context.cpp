#include "core/job_context.h"

#include <atomic>

#include "core/exec_log.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace lumbra {

std::string JobContext::StartFile(std::string_view name) const {
  std::string path = startDir;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string JobContext::LocalLink(std::string_view fromDir, std::string_view target) const {
  if (linkStyle == LinkStyle::Relative && !fromDir.empty()) {
    return platform::RelativeUrl(fromDir, target);
  }
  return platform::FileUrl(target);
}

namespace {

// Whether a line of the execution log was lost since the job began: one process runs one job
// at a time, and the lines come from every part of it.
std::atomic<bool> execLogLost{false};

}  // namespace

void AppendExecLog(const JobContext& ctx, std::string_view text) {
  AppendExecLogBytes(ctx, platform::ToCp932(text));
}

void AppendExecLogBytes(const JobContext& ctx, std::string_view bytes) {
  if (!ctx.execLog) return;
  if (!platform::AppendText(ctx.StartFile(kExecLogName), bytes)) execLogLost = true;
}

bool ExecLogLostLines() { return execLogLost; }

void LogFileFailure(const JobContext& ctx, std::string_view what, std::string_view path) {
  if (!ctx.execLog) return;
  std::string line = "    " + platform::ToCp932(what) + " : ";
  line += path;
  line += '\n';
  AppendExecLogBytes(ctx, line);
}

void RecordFileFailure(const JobContext& ctx, JobCounters& counters, std::string_view what,
                       std::string_view path) {
  ++counters.failedFiles;
  LogFileFailure(ctx, what, path);
}

void TruncateExecLog(const JobContext& ctx) {
  execLogLost = !platform::TruncateFile(ctx.StartFile(kExecLogName));
}

}  // namespace lumbra
