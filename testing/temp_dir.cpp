#include "testing/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

namespace lumbra::testing {

std::string TempDirTest::Path(std::string_view relative) const {
  if (!relative.empty() && relative.front() == '/') return std::string(relative);
  return root() + "/" + std::string(relative);
}

std::string TempDirTest::MakeDir(std::string_view relative) const {
  std::string path = Path(relative);
  for (std::size_t i = root().size() + 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0777);
  }
  return path;
}

std::string TempDirTest::WriteFile(std::string_view relative, std::string_view content) const {
  std::string path = Path(relative);
  EXPECT_TRUE(WriteBytes(path, content)) << "cannot write " << path;
  return path;
}

std::string TempDirTest::MakeLink(std::string_view target, std::string_view relative) const {
  std::string path = Path(relative);
  MakeDir(path.substr(0, path.rfind('/')));
  EXPECT_EQ(::symlink(std::string(target).c_str(), path.c_str()), 0) << path;
  return path;
}

std::string TempDirTest::MakeFifo(std::string_view relative) const {
  std::string path = Path(relative);
  MakeDir(path.substr(0, path.rfind('/')));
  EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0) << path;
  return path;
}

std::string TempDirTest::ReadFile(std::string_view pathOrRelative) const {
  auto content = platform::ReadFile(Path(pathOrRelative));
  return content ? *content : std::string("<missing>");
}

std::vector<std::string> TempDirTest::FilesBelow(std::string_view pathOrRelative) const {
  namespace fs = std::filesystem;
  const fs::path dir = Path(pathOrRelative);
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), dir).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string TempDirTest::CopyRealData(std::string_view realRelative,
                                      std::string_view relative) const {
  namespace fs = std::filesystem;
  const fs::path to = Path(relative);
  fs::create_directories(to.parent_path());
  fs::copy(RealDataPath(realRelative), to, fs::copy_options::recursive);
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
  for (const auto& entry : fs::recursive_directory_iterator(to)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  return to.string();
}

bool WriteBytes(const std::string& path, std::string_view bytes) {
  for (std::size_t i = path.find('/', 1); i != std::string::npos; i = path.find('/', i + 1)) {
    ::mkdir(path.substr(0, i).c_str(), 0777);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

ScopedTmpDir::ScopedTmpDir(const std::string& dir) {
  const char* old = std::getenv("TMPDIR");
  had_ = old != nullptr;
  if (had_) old_ = old;
  ::setenv("TMPDIR", dir.c_str(), 1);
}

ScopedTmpDir::~ScopedTmpDir() {
  if (had_) {
    ::setenv("TMPDIR", old_.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}

void SetMtime(const std::string& path, long long seconds) {
  struct utimbuf times;
  times.actime = static_cast<time_t>(seconds);
  times.modtime = static_cast<time_t>(seconds);
  ::utime(path.c_str(), &times);
}

std::string RealDataPath(std::string_view relative) {
  const char* base = std::getenv("LUMBRA_REALDATA");
  std::string path = base != nullptr ? base : "../shared/realdata";
  return path + "/" + std::string(relative);
}

bool InChildWithFileSizeLimit(std::size_t limit, const std::function<bool()>& body) {
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending the child
    struct rlimit fileSize = {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace lumbra::testing
