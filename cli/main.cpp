// lumbra-cli: the jobs of Lumbra without a window, on the lumbra.ini of the start directory.
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/excluded_domains.h"
#include "app/job_driver.h"
#include "app/settings.h"
#include "cache/cache_index.h"
#include "cache/cache_places.h"
#include "cache/cache_table.h"
#include "cli/terminal_frontend.h"
#include "core/exec_log.h"
#include "core/version.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/language.h"

namespace lumbra::cli {
namespace {

enum Exit : int { kDone = 0, kRefused = 1, kUsage = 2, kFilesFailed = 3 };

constexpr const char* kUsageText =
    R"(usage: lumbra-cli [-C DIR] [--yes | --no] [--set KEY=VALUE]... [--exec-log] [--wait] [-q]
                  COMMAND
       lumbra-cli --version | --help

Runs the jobs of Lumbra on the settings file lumbra.ini of the start directory. A job's end
report goes to stdout (its title says so when the job was stopped); messages, questions
and the progress line go to stderr. They are in English where LC_ALL, LC_MESSAGES or LANG
begins with "en", in Japanese otherwise.

commands:
  add                  copy the browser cache of CACHE_DIR into the logs, rewrite the
                       links of the stored pages, write newidx.htm and the frame pages
  rebuild [A|B|C|D|E]  rewrite the links of every page of all logs, or of one log, and
                       write its index pages (allidx_*.htm)
  unreferenced DIR     rewrite every page below DIR and list its external links
                       (search/htm, search/jpg and www_l.htm in INDEX_DIR); the report
                       ends with the path of www_l.htm, the page to open
  surf                 rewrite the links of the pages of the sites in the surf database
                       lumbra.mdb, or of the directories listed in lumbrasurf.txt (both
                       in the start directory, filled by a crawling program), and write
                       surfidx.htm and www_surf.htm (the report ends with the path of
                       surfidx.htm); see docs/surf-database.md
  cache                list the entries of the cache in CACHE_DIR, one line each:
                       url TAB cacheFile TAB contentType (as the logs would take them);
                       the count goes to stderr; nothing is written into the logs.
                       CACHE_DIR may also name a directory above the cache (the
                       profile, the browser's directory of one profile)
  caches               list the browser caches of the user it runs as, one line each:
                       browser TAB profile TAB layout TAB cache directory TAB entries
                       TAB bytes of its files; it looks in $XDG_CACHE_HOME (~/.cache),
                       at the profiles of ~/.mozilla/firefox/profiles.ini and in the
                       snap and flatpak places; the count goes to stderr (none found is
                       no error; exit 3 when the entries of one could not be read, its
                       count then "-")
  settings [KEY=VALUE ...]
                       show lumbra.ini (17 lines KEY=VALUE, after --set overrides), or
                       change the given keys and save the file
  exclude [add HOST | remove HOST]
                       show the excluded hosts of lumbra-url.ini (never stored by add),
                       or add or remove one (letter case is ignored when comparing)
  log                  print the execution log lumbralog.txt of the start directory (a
                       job writes it with --exec-log; the file is Shift-JIS, CP932, with
                       CR LF line ends) as UTF-8 with LF line ends; exit 1 when there is
                       none
  help                 this text

options:
  -C DIR               make DIR the start directory (where lumbra.ini, lumbra-url.ini,
                       lumbralog.txt and the other files of the system live)
  --yes, --no          answer every question (create a missing directory?) with yes or no;
                       without either the question is asked on the terminal, and answered
                       no when there is none
  --set KEY=VALUE      override one key of lumbra.ini for this run only (paths as typed,
                       switches TRUE or FALSE, LINK_STYLE absolute or relative);
                       repeatable
  --exec-log           write the execution log lumbralog.txt (and fat.txt) for this run
  --wait               when another job uses a directory of this one, wait until it has
                       ended instead of refusing to start (see "two jobs at once")
  -q                   no progress line (on a terminal it shows the entries or files
                       done, of all when the job knows it, the rate per second and the
                       file at hand)
  --version            print "lumbra-cli VERSION" and exit

settings keys:
  CACHE_DIR LOG_DIR_A LOG_DIR_B LOG_DIR_C LOG_DIR_D LOG_DIR_E INDEX_DIR
  READ_ALL READ_NEW READ_REF READ_HTM READ_AEL READ_CNT READ_BAK READ_DOM
  SURF_DIRS (directories, separated by ';', where surf sites may keep their files)
  LINK_STYLE (absolute: links to local copies and index pages are file:/// URLs, the
             default; relative: relative to the page that holds them, so the collection
             still works when moved or copied as a whole, or served by a web server; a
             rebuild turns a collection from one style into the other)

two jobs at once:
  a job (add, rebuild, unreferenced, surf) locks the start directory, every LogTree root
  and INDEX_DIR before it writes anything: an exclusive flock on the file .lumbra-lock in
  each, which holds its process id while it runs. When another process holds one of them,
  the job does not start: it names the directory and the process and exits 1; with --wait
  it waits for the locks, taken one by one in the order of their real paths.

exit status: 0 done, 1 refused by the start checks, 2 usage, 3 done but some files could
not be copied, rewritten or written (a line on stderr says how many; lumbralog.txt names
them when --exec-log is given), 130 stopped by Ctrl-C (128 + the signal for SIGTERM and
SIGHUP, which stop a job the same way, or a wait of --wait)
)";

int Usage(const std::string& problem) {
  std::cerr << "lumbra-cli: " << problem << "\n(lumbra-cli --help shows the commands)\n";
  return kUsage;
}

bool SplitKeyValue(const std::string& text, std::string& key, std::string& value) {
  std::size_t eq = text.find('=');
  if (eq == std::string::npos) return false;
  key = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

struct Options {
  std::string startDir;
  Answer answer = Answer::Ask;
  std::vector<std::pair<std::string, std::string>> overrides;
  bool execLog = false;
  bool wait = false;
  bool quiet = false;
  std::vector<std::string> command;
};

// Parses the options; returns kDone, or the exit status of a usage error.
int ParseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-C") {
      if (++i >= argc) return Usage("-C needs a directory");
      options.startDir = argv[i];
    } else if (arg == "--yes" || arg == "--no") {
      Answer a = arg == "--yes" ? Answer::Yes : Answer::No;
      if (options.answer != Answer::Ask && options.answer != a) {
        return Usage("--yes and --no exclude each other");
      }
      options.answer = a;
    } else if (arg == "--set") {
      if (++i >= argc) return Usage("--set needs KEY=VALUE");
      std::string key, value;
      if (!SplitKeyValue(argv[i], key, value)) return Usage("--set needs KEY=VALUE");
      options.overrides.emplace_back(key, value);
    } else if (arg == "--exec-log") {
      options.execLog = true;
    } else if (arg == "--wait") {
      options.wait = true;
    } else if (arg == "-q") {
      options.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      options.command = {"help"};
      return kDone;
    } else if (arg == "--version") {
      options.command = {"--version"};
      return kDone;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      break;
    }
  }
  for (; i < argc; ++i) options.command.emplace_back(argv[i]);
  if (options.command.empty()) return Usage("no command given");
  return kDone;
}

int SettingsCommand(Session& session, JobSettings fileSettings, const Options& options,
                    Frontend& frontend) {
  if (options.command.size() == 1) {
    std::cout << FormatSettings(session.settings) << std::flush;
    return kDone;
  }
  for (std::size_t i = 1; i < options.command.size(); ++i) {
    std::string key, value;
    if (!SplitKeyValue(options.command[i], key, value)) {
      return Usage("settings takes KEY=VALUE, not " + options.command[i]);
    }
    if (!SetSetting(fileSettings, key, value)) {
      return Usage("unknown key or value: " + options.command[i] +
                   " (switches take TRUE or FALSE, LINK_STYLE absolute or relative)");
    }
  }
  return SaveSettings(session.startDir, fileSettings, frontend) ? kDone : kRefused;
}

int ExcludeCommand(const std::string& startDir, const std::vector<std::string>& cmd) {
  ExcludedDomainList list;
  list.Load(startDir);
  if (cmd.size() == 1) {
    for (const std::string& name : list.names()) std::cout << name << '\n';
    return kDone;
  }
  if (cmd.size() != 3 || (cmd[1] != "add" && cmd[1] != "remove")) {
    return Usage("exclude takes nothing, add HOST or remove HOST");
  }
  bool changed = cmd[1] == "add" ? list.Add(cmd[2]) : list.Remove(cmd[2]);
  if (!changed) {
    std::cerr << "lumbra-cli: " << cmd[2]
              << (cmd[1] == "add" ? " is already excluded" : " is not in the list") << '\n';
    return kRefused;
  }
  if (!list.Save(startDir)) {
    std::cerr << "lumbra-cli: cannot write " << startDir << "/lumbra-url.ini\n";
    return kRefused;
  }
  return kDone;
}

// Lists what the cache holds, after the same checks of the cache path as a job start.
int CacheCommand(Session& session, Frontend& frontend) {
  platform::SystemClock clock;
  JobDriver driver(session, frontend, clock);
  CacheEntryTable table;
  switch (driver.ReadCache(table)) {
    case CacheListing::Refused:
      return kRefused;
    case CacheListing::Unreadable:
      return kFilesFailed;
    case CacheListing::Read:
      break;
  }
  int count = GetCacheEntryCount(table);
  for (int i = 0; i < count; ++i) {
    const CacheEntry& entry = table.row(i);
    std::cout << entry.url << '\t' << entry.cacheFile << '\t' << entry.contentType << '\n';
  }
  std::cout << std::flush;
  std::cerr << count << " entries\n";
  return kDone;
}

// Lists the caches of the user's browsers with what each holds. Exit 3 when the entries of
// one could not be read (its count is "-").
int CachesCommand(const Session& session, Frontend& frontend) {
  const std::vector<BrowserCache> caches = FindBrowserCaches(session.layouts, session.user);
  int unreadable = 0;
  for (const BrowserCache& found : caches) {
    JobContext ctx;
    ctx.startDir = session.startDir;
    CacheEntryTable table;
    const bool read = ReadCacheIndex(ctx, frontend, session.layouts.Find(found.cache.dir), table,
                                     found.cache.dir);
    std::cout << found.browser << '\t' << found.cache.profile << '\t' << found.cache.layout->name()
              << '\t' << found.cache.dir << '\t';
    if (read) {
      std::cout << GetCacheEntryCount(table);
    } else {
      std::cout << '-';
      ++unreadable;
    }
    std::cout << '\t' << CacheFileBytes(found.cache.dir) << '\n';
  }
  std::cout << std::flush;
  if (caches.empty()) {
    std::cerr << "no browser cache found (looked in "
              << (session.user.cacheHome.empty() ? "$XDG_CACHE_HOME" : session.user.cacheHome)
              << ", ~/.mozilla/firefox/profiles.ini, ~/snap and ~/.var/app)\n";
  } else {
    std::cerr << caches.size() << (caches.size() == 1 ? " cache\n" : " caches\n");
  }
  return unreadable > 0 ? kFilesFailed : kDone;
}

// Prints the execution log decoded: its CP932 as UTF-8, CR LF as LF.
int LogCommand(const std::string& startDir) {
  const std::string path = startDir + "/" + std::string(kExecLogName);
  errno = 0;
  const std::optional<std::string> bytes = platform::ReadFile(path);
  if (!bytes) {
    const int error = errno;  // 0: something other than a regular file is in its place
    std::cerr << "lumbra-cli: "
              << platform::Tr("実行ログを読めません（--exec-log を付けた処理が書きます）") << "\n"
              << path << (error != 0 ? std::string(": ") + std::strerror(error) : "") << '\n';
    return kRefused;
  }
  std::string text = platform::Cp932ToUtf8(*bytes);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  std::cout << out << std::flush;
  return kDone;
}

// What the end report does not say: files that failed, and a job that stopped early.
// Returns the exit status of a job that ran.
int ReportOutcome(const Session& session, JobKind kind, bool completed) {
  const JobCounters& counters = session.counters;
  if (counters.failedFiles > 0) {
    std::cerr << "lumbra-cli: " << counters.failedFiles
              << (counters.failedFiles == 1 ? " file" : " files")
              << " could not be copied, rewritten or written; ";
    if (session.ctx.execLog && ExecLogLostLines()) {
      std::cerr << session.ctx.StartFile(kExecLogName)
                << " could not be written whole, so it does not name them all\n";
    } else if (session.ctx.execLog) {
      std::cerr << session.ctx.StartFile(kExecLogName) << " names them\n";
    } else {
      std::cerr << "run again with --exec-log to have them named in lumbralog.txt\n";
    }
  }
  // Pages stored before the stop have not had their links rewritten, and the next add sees
  // them unchanged: only a rebuild rewrites them.
  if (kind == JobKind::AddToLogs && !completed && counters.loggedFiles > 0) {
    std::cerr << "lumbra-cli: the job stopped before it rewrote the pages it stored; run "
                 "`lumbra-cli rebuild` to rewrite the pages stored so far\n";
  }
  int signal = TerminalFrontend::StopSignal();
  if (kind == JobKind::RebuildSurf && !completed && signal == 0) {
    std::cerr << "lumbra-cli: no surf index was written: lumbra.mdb could not be opened "
                 "(lumbralog.txt says why when --exec-log is given), or there is no "
                 "lumbrasurf.txt with a directory to reconstruct\n";
  }
  if (signal != 0 && !completed) return 128 + signal;
  if (counters.failedFiles > 0 || !completed) return kFilesFailed;
  return kDone;
}

int JobCommand(Session& session, const Options& options, TerminalFrontend& frontend) {
  const std::vector<std::string>& cmd = options.command;
  const std::string& name = cmd[0];
  JobKind kind;
  int logNumber = 0;
  if (name == "add" && cmd.size() == 1) {
    kind = JobKind::AddToLogs;
  } else if (name == "rebuild" && cmd.size() <= 2) {
    kind = JobKind::RebuildAllLogs;
    if (cmd.size() == 2) {
      const std::string& letter = cmd[1];
      if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'E') {
        return Usage("rebuild takes one of the logs A, B, C, D, E");
      }
      kind = JobKind::RebuildOneLog;
      logNumber = letter[0] - 'A' + 1;
      if (session.settings.logDir[static_cast<std::size_t>(logNumber - 1)].empty()) {
        std::cerr << "lumbra-cli: LOG_DIR_" << letter << " is empty: nothing to rebuild\n";
        return kRefused;
      }
    }
  } else if (name == "unreferenced" && cmd.size() == 2) {
    kind = JobKind::ListUnreferenced;
    session.settings.unreferencedDir = cmd[1];
    session.settings.unreferencedJob = true;
  } else if (name == "surf" && cmd.size() == 1) {
    kind = JobKind::RebuildSurf;
  } else if (name == "add" || name == "rebuild" || name == "unreferenced" || name == "surf") {
    return Usage("wrong arguments for " + name);
  } else {
    return Usage("unknown command " + name);
  }

  platform::SystemClock clock;
  JobDriver driver(session, frontend, clock);
  driver.waitForLocks = options.wait;
  TerminalFrontend::CatchInterrupt();
  frontend.WatchCounters(session.counters);
  bool started = driver.Command(kind, logNumber);
  driver.RunPostedJobs();  // the command has returned: the queued "ログ追加" runs now
  session.settings.unreferencedJob = false;
  frontend.EndProgress();
  if (!started) {
    // A signal while it waited for another job's locks: the job never began.
    if (int signal = TerminalFrontend::StopSignal(); signal != 0) return 128 + signal;
    return kRefused;
  }
  return ReportOutcome(session, kind, driver.lastJobCompleted());
}

int Run(int argc, char** argv) {
  Options options;
  if (int status = ParseOptions(argc, argv, options); status != kDone) return status;
  if (options.command[0] == "help") {
    std::cout << kUsageText;
    return kDone;
  }
  if (options.command[0] == "--version") {
    std::cout << "lumbra-cli " << kVersion << "\n";
    return kDone;
  }
  if (!options.startDir.empty() && !platform::ChangeDirectory(options.startDir)) {
    std::cerr << "lumbra-cli: cannot change to the start directory " << options.startDir << ": "
              << std::strerror(errno) << "\n";
    return kUsage;
  }

  Session session;
  session.startDir = platform::CurrentDirectory();
  LoadSettings(session.startDir, session.settings);
  JobSettings fileSettings = session.settings;
  for (const auto& [key, value] : options.overrides) {
    if (!SetSetting(session.settings, key, value)) {
      return Usage("unknown key or value in --set " + key + "=" + value +
                   " (switches take TRUE or FALSE, LINK_STYLE absolute or relative)");
    }
  }
  session.settings.execLog = options.execLog;
  session.surfAvailable = DetectSurfData(session.startDir);

  TerminalFrontend frontend(options.answer, options.quiet);
  if (options.command[0] == "settings") {
    return SettingsCommand(session, fileSettings, options, frontend);
  }
  if (options.command[0] == "cache") {
    if (options.command.size() != 1) return Usage("cache takes no arguments");
    return CacheCommand(session, frontend);
  }
  if (options.command[0] == "caches") {
    if (options.command.size() != 1) return Usage("caches takes no arguments");
    return CachesCommand(session, frontend);
  }
  if (options.command[0] == "exclude") return ExcludeCommand(session.startDir, options.command);
  if (options.command[0] == "log") {
    if (options.command.size() != 1) return Usage("log takes no arguments");
    return LogCommand(session.startDir);
  }
  return JobCommand(session, options, frontend);
}

}  // namespace
}  // namespace lumbra::cli

int main(int argc, char** argv) {
  lumbra::platform::UseUserLanguage();
  return lumbra::cli::Run(argc, argv);
}
