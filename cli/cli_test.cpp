// lumbra-cli as a user meets it: the real executable, run in a temporary start directory.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/codepage.h"
#include "testing/ie4_fixture.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

class CliTest : public testing::TempDirTest {
 protected:
  // Runs lumbra-cli with the given arguments (shell words) without a terminal.
  Result Run(const std::string& args) {
    std::string command = std::string("'") + LUMBRA_CLI + "' " + args + " >'" + Path("out.txt") +
                          "' 2>'" + Path("err.txt") + "' </dev/null";
    int raw = std::system(command.c_str());
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile("out.txt"), ReadFile("err.txt")};
    platform::DeleteFile(Path("out.txt"));
    platform::DeleteFile(Path("err.txt"));
    return r;
  }
  std::string InStart(const std::string& args) { return "-C '" + Path("start") + "' " + args; }

  void SetUp() override {
    MakeDir("start");
    WriteFile("cache/index.dat", "x");
    MakeDir("save/alog");
  }
};

TEST_F(CliTest, HelpDocumentsEveryCommand) {
  Result r = Run("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"add", "rebuild [A|B|C|D|E]", "unreferenced DIR", "surf", "settings",
                           "-C DIR", "--yes", "--set KEY=VALUE", "--exec-log", "READ_DOM"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
}

TEST_F(CliTest, BadUsageExitsWith2AndSaysWhy) {
  Result unknown = Run(InStart("frobnicate"));
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command frobnicate"), std::string::npos);
  Result key = Run(InStart("settings NO_SUCH=1"));
  EXPECT_EQ(key.status, 2);
  EXPECT_NE(key.err.find("unknown key"), std::string::npos);
  Result set = Run(InStart("--set READ_ALL=maybe settings"));
  EXPECT_EQ(set.status, 2);
  Result dir = Run("-C '" + Path("no/such") + "' settings");
  EXPECT_EQ(dir.status, 2);
  EXPECT_NE(dir.err.find("cannot change to the start directory"), std::string::npos);
  EXPECT_EQ(Run("").status, 2);
}

TEST_F(CliTest, SettingsShowsOverridesAndSavesOnlyWhatItIsGiven) {
  Result defaults = Run(InStart("settings"));
  EXPECT_EQ(defaults.status, 0);
  EXPECT_EQ(defaults.out.substr(0, 11), "CACHE_DIR=\n");
  EXPECT_NE(defaults.out.find("READ_NEW=TRUE\nREAD_REF=TRUE\n"), std::string::npos);

  ASSERT_EQ(Run(InStart("settings CACHE_DIR=/c/cache READ_ALL=TRUE")).status, 0);
  std::string ini = ReadFile("start/lumbra.ini");
  EXPECT_NE(ini.find("CACHE_DIR=/c/cache\r\n"), std::string::npos);
  EXPECT_NE(ini.find("READ_ALL=TRUE\r\n"), std::string::npos);

  Result shown = Run(InStart("--set INDEX_DIR=/tmp/x settings"));
  EXPECT_NE(shown.out.find("INDEX_DIR=/tmp/x\n"), std::string::npos);
  EXPECT_EQ(ReadFile("start/lumbra.ini"), ini) << "--set is for this run only";
}

TEST_F(CliTest, ARefusedStartExitsWith1WithTheMessage) {
  Result r = Run(InStart("--set CACHE_DIR=" + Path("nocache") + " rebuild"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("キャッシュ　パスが存在しません"), std::string::npos);
}

TEST_F(CliTest, QuestionsAreAnsweredNoWithoutATerminalAndYesWithTheFlag) {
  std::string sets = "--set CACHE_DIR=" + Path("cache") + " --set LOG_DIR_A=" + Path("save/alog") +
                     " --set INDEX_DIR=" + Path("new/idx") + " ";
  Result no = Run(InStart(sets + "rebuild"));
  EXPECT_EQ(no.status, 1);
  EXPECT_NE(no.err.find("インデックス　パスが存在しません\n　　　作成しますか"), std::string::npos);
  EXPECT_FALSE(platform::GetStatus(Path("new")).exists());

  Result yes = Run(InStart("--yes " + sets + "rebuild"));
  EXPECT_EQ(yes.status, 0) << yes.err;
  EXPECT_TRUE(platform::GetStatus(Path("new/idx")).isDirectory());
  EXPECT_NE(yes.err.find("ＨＴＭＬ 再構成　終了"), std::string::npos);
}

TEST_F(CliTest, RebuildOfAnEmptyLogDoesNothing) {
  Result r = Run(InStart("rebuild C"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("LOG_DIR_C is empty"), std::string::npos);
}

TEST_F(CliTest, TheExecutionLogIsWrittenOnlyWithTheFlag) {
  std::string sets = "--set CACHE_DIR=" + Path("cache") + " --set LOG_DIR_A=" + Path("save/alog") +
                     " --set INDEX_DIR=" + Path("save") + " ";
  ASSERT_EQ(Run(InStart(sets + "rebuild A")).status, 0);
  EXPECT_FALSE(platform::GetStatus(Path("start/lumbralog.txt")).exists());
  ASSERT_EQ(Run(InStart("--exec-log " + sets + "rebuild A")).status, 0);
  std::string log = ReadFile("start/lumbralog.txt");
  EXPECT_NE(log.find(platform::ToCp932("実行処理終了")), std::string::npos);
}

TEST_F(CliTest, ExcludeEditsTheSortedHostList) {
  ASSERT_EQ(Run(InStart("exclude add Zeta.example")).status, 0);
  ASSERT_EQ(Run(InStart("exclude add alpha.example")).status, 0);
  Result dup = Run(InStart("exclude add ZETA.EXAMPLE"));
  EXPECT_EQ(dup.status, 1);
  EXPECT_NE(dup.err.find("already excluded"), std::string::npos);
  EXPECT_EQ(Run(InStart("exclude")).out, "alpha.example\nZeta.example\n");
  ASSERT_EQ(Run(InStart("exclude remove zeta.example")).status, 0);
  EXPECT_EQ(ReadFile("start/lumbra-url.ini"), "alpha.example\r\n");
  EXPECT_EQ(Run(InStart("exclude remove nothere")).status, 1);
  EXPECT_EQ(Run(InStart("exclude drop x")).status, 2);
}

TEST_F(CliTest, CacheListsTheEntriesAfterPostProcessing) {
  testing::Ie4Cache cache;
  cache.subdirectories = {"SUB00001"};
  testing::Ie4Entry page;
  page.url = "http://host/dir/?q=1";
  page.fileName = "q[1].htm";
  page.content = "<html>";
  testing::Ie4Entry image;
  image.url = "http://host:8080/pic";
  image.fileName = "pic[1]";
  image.contentType = "image/gif";
  cache.entries = {page, image};
  testing::WriteIe4Cache(Path("ie4"), cache);

  Result r = Run(InStart("--exec-log --set CACHE_DIR=" + Path("ie4") + " cache"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "http://host/dir/-q=1.html\t" + Path("ie4") +
                       "/SUB00001/q[1].htm\ttext/html\n"
                       "http://host-8080/pic.gif\t" +
                       Path("ie4") + "/SUB00001/pic[1]\timage/gif\n");
  EXPECT_EQ(r.err, "2 entries\n");
  EXPECT_NE(ReadFile("start/fat.txt"), "<missing>");
  EXPECT_FALSE(platform::GetStatus(Path("save/alog/host")).exists());

  Result none = Run(InStart("--set CACHE_DIR=" + Path("save") + " cache"));
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("キャッシュ　データが存在しません"), std::string::npos);
}

TEST_F(CliTest, CtrlCStopsTheJobAtItsNextItemAndStillWritesTheFramePages) {
  for (int i = 0; i < 12000; ++i) {
    std::string path = Path("save/alog/h/p" + std::to_string(i) + ".html");
    if (i == 0) MakeDir("save/alog/h");
    ASSERT_TRUE(platform::ReplaceFileContent(path, "<title>t</title>", 0644));
  }
  std::string command =
      std::string("exec '") + LUMBRA_CLI + "' " +
      InStart("--yes --set CACHE_DIR=" + Path("cache") + " --set LOG_DIR_A=" + Path("save/alog") +
              " --set INDEX_DIR=" + Path("idx") + " rebuild") +
      " >/dev/null 2>'" + Path("err.txt") + "' </dev/null";
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::usleep(1500 * 1000);  // inside the walk: the job waits up to a second before it starts
  ::kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(platform::GetStatus(Path("idx/lumbra.htm")).exists());
  EXPECT_FALSE(platform::GetStatus(Path("idx/allidx_a.htm")).exists());
  EXPECT_NE(ReadFile("err.txt").find("ＨＴＭＬ 再構成　終了"), std::string::npos);
}

}  // namespace
}  // namespace lumbra
