#include "app/job_driver.h"

#include <algorithm>
#include <cerrno>

#include "core/setting_line.h"

#include "index/frame_pages.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class JobDriverTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    session.startDir = root();
    WriteFile("cache/index.dat", "x");
    MakeDir("save/alog");
    MakeDir("idx");
    session.settings.cacheDir = Path("cache");
    session.settings.logDir[0] = Path("save/alog");
    session.settings.indexDir = Path("idx");
  }
  bool Prepare() { return PrepareJob(session, fe, JobKind::AddToLogs); }

  Session session;
  testing::ScriptedFrontend fe;
  testing::SteppingClock clock;
};

TEST_F(JobDriverTest, PathsAreNormalisedIntoTheSnapshot) {
  // Relative paths lie below the start directory.
  session.settings.cacheDir = "cache/";
  session.settings.logDir[0] = Path("save\\aLOG\\");
  session.settings.logDir[2] = "save/catalog";
  session.settings.logDir[3] = Path("save/ALOG");
  MakeDir("save/catalog");
  MakeDir("save/Alog");
  session.settings.indexDir = "idx\\";
  session.settings.readAll = true;
  session.settings.readDom = true;
  ASSERT_TRUE(Prepare()) << ::testing::PrintToString(fe.messages())
                         << ::testing::PrintToString(fe.questions());
  EXPECT_EQ(session.ctx.cacheDir, Path("cache"));
  EXPECT_EQ(session.ctx.cacheIndexFile, Path("cache/index.dat"));
  EXPECT_EQ(session.ctx.logDir[0],
            Path("save/alog"));  // the last three letters are written back in lower case
  EXPECT_EQ(session.ctx.logDir[1], "");
  EXPECT_EQ(session.ctx.logDir[2], Path("save/catalog"));  // only the last three letters count
  EXPECT_EQ(session.ctx.logDir[3], Path("save/Alog"));
  // The logs are shown by their settings as typed: ALOG stays ALOG, and a setting ending in a
  // separator has no name.
  const std::string bar = BuildTopLinkBar(session.ctx);
  for (const char* shown : {"Ａ:</A>", "Ｃ:catalog</A>", "Ｄ:ALOG</A>"}) {
    EXPECT_NE(bar.find(platform::ToCp932(shown)), std::string::npos) << shown;
  }
  EXPECT_EQ(session.ctx.indexDir, Path("idx"));
  EXPECT_EQ(session.ctx.startDir, root());
  EXPECT_TRUE(session.ctx.readAll);
  EXPECT_TRUE(session.ctx.readDom);
  EXPECT_TRUE(fe.messages().empty());
  // A trailing backslash of an absolute cache path stays, as a slash.
  session.settings.cacheDir = Path("cache") + "\\";
  ASSERT_TRUE(Prepare());
  EXPECT_EQ(session.ctx.cacheDir, Path("cache") + "/");
  EXPECT_EQ(session.ctx.cacheIndexFile, Path("cache") + "//index.dat");
  // A directory above the cache: the cache below it is the job's, and the log names it.
  WriteFile("profile/Cache/Cache_Data/index.dat", "x");
  session.settings.cacheDir = "profile";
  session.settings.execLog = true;
  ASSERT_TRUE(Prepare());
  EXPECT_EQ(session.ctx.cacheDir, Path("profile/Cache/Cache_Data"));
  EXPECT_EQ(session.ctx.cacheIndexFile, Path("profile/Cache/Cache_Data/index.dat"));
  EXPECT_NE(ReadFile("lumbralog.txt").find(Path("profile/Cache/Cache_Data")), std::string::npos);
}

// One message each: its own text first, then the line naming the setting, the path and the
// system's reason. A start check that refuses has made nothing, though a missing LogTree
// root (LOG_DIR_E) waits to be made with a yes already given.
struct MessageCase {
  const char* name;
  JobKind kind;  // a job whose start or work shows the message
  void (*change)(JobSettings&, const std::string& root);
  const char* message;                           // the system's own text the message starts with
  std::string (*tail)(const std::string& root);  // the line that ends it
  bool refused;                                  // a start check: the job does not start
  friend void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }
};

class JobDriverMessageTest : public JobDriverTest,
                             public ::testing::WithParamInterface<MessageCase> {};

// A regular file where a case needs one in a directory's way.
void PutFile(const std::string& path) { platform::ReplaceFileContent(path, "x", 0644); }

TEST_P(JobDriverMessageTest, NamesTheSettingThePathAndTheReason) {
  const MessageCase& c = GetParam();
  session.settings.logDir[4] = Path("fresh/elog");
  session.settings.unreferencedDir = Path("save/alog");
  session.settings.unreferencedJob = c.kind == JobKind::ListUnreferenced;
  c.change(session.settings, root());
  fe.QueueAnswers({true, true, true});
  JobDriver driver(session, fe, clock);
  EXPECT_EQ(driver.Command(c.kind, 1), !c.refused);
  EXPECT_FALSE(session.busy);
  const auto shown = std::find_if(fe.messages().begin(), fe.messages().end(),
                                  [&](const std::string& m) { return m.starts_with(c.message); });
  ASSERT_NE(shown, fe.messages().end()) << ::testing::PrintToString(fe.messages());
  EXPECT_TRUE(shown->ends_with(c.tail(root()))) << *shown;
  if (c.refused) {
    EXPECT_EQ(fe.messages().size(), 1u);
    EXPECT_FALSE(platform::GetStatus(Path("fresh")).exists());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, JobDriverMessageTest,
    ::testing::Values(
        MessageCase{"CacheDrive", JobKind::AddToLogs,
                    [](JobSettings& s, const std::string&) { s.cacheDir = "q:\\cache"; },
                    "キャッシュ　ドライブが存在しません",
                    [](const std::string&) { return SettingLine("CACHE_DIR", "q:/cache", ENOENT); },
                    true},
        MessageCase{
            "CachePath", JobKind::AddToLogs,
            [](JobSettings& s, const std::string& r) { s.cacheDir = r + "/nocache"; },
            "キャッシュ　パスが存在しません",
            [](const std::string& r) { return SettingLine("CACHE_DIR", r + "/nocache", ENOENT); },
            true},
        MessageCase{"CacheData", JobKind::AddToLogs,
                    [](JobSettings& s, const std::string& r) { s.cacheDir = r + "/save"; },
                    "キャッシュ　データが存在しません\rパス設定を確認してください\r",
                    [](const std::string& r) { return SettingLine("CACHE_DIR", r + "/save"); },
                    true},
        MessageCase{"LogEnding", JobKind::RebuildAllLogs,
                    [](JobSettings& s, const std::string& r) { s.logDir[1] = r + "/save/logs"; },
                    "ログパスの最後は「ｌｏｇ］でなければなりません",
                    [](const std::string& r) { return SettingLine("LOG_DIR_B", r + "/save/logs"); },
                    true},
        MessageCase{
            "LogMarker", JobKind::RebuildAllLogs,
            [](JobSettings& s, const std::string& r) { s.logDir[0] = r + "/var/log/save/alog"; },
            "ログパスの途中に「log/」を含むことはできません",
            [](const std::string& r) { return SettingLine("LOG_DIR_A", r + "/var/log/save/alog"); },
            true},
        MessageCase{"LogTooLong", JobKind::RebuildAllLogs,
                    [](JobSettings& s, const std::string& r) {
                      s.logDir[2] = r + "/" + std::string(kJobPathMax, 'd') + "/log";
                    },
                    "パスが長すぎます（199 文字まで）",
                    [](const std::string& r) {
                      return SettingLine("LOG_DIR_C",
                                         r + "/" + std::string(kJobPathMax, 'd') + "/log");
                    },
                    true},
        MessageCase{
            "LogDrive", JobKind::RebuildAllLogs,
            [](JobSettings& s, const std::string&) { s.logDir[3] = "z:\\save\\log"; },
            "ログ　ドライブが存在しません",
            [](const std::string&) { return SettingLine("LOG_DIR_D", "z:/save/log", ENOENT); },
            true},
        MessageCase{
            "NoLogs", JobKind::RebuildAllLogs,
            [](JobSettings& s, const std::string&) { s.logDir = {}; },
            "ログ用のパスが存在しません\rパス設定を確認してください",
            [](const std::string&) { return std::string("\rLOG_DIR_A～LOG_DIR_E がすべて空です"); },
            true},
        MessageCase{"EmptyIndex", JobKind::RebuildAllLogs,
                    [](JobSettings& s, const std::string&) { s.indexDir = ""; },
                    "インデックス　ドライブが存在しません",
                    [](const std::string&) { return std::string("\rINDEX_DIR が空です"); }, true},
        MessageCase{"IndexDrive", JobKind::RebuildAllLogs,
                    [](JobSettings& s, const std::string&) { s.indexDir = "x:/idx"; },
                    "インデックス　ドライブが存在しません",
                    [](const std::string&) { return SettingLine("INDEX_DIR", "x:/idx", ENOENT); },
                    true},
        // A LINK_STYLE only the file can hold (SetSetting refuses it) is refused before any
        // other check.
        MessageCase{"LinkStyle", JobKind::RebuildAllLogs,
                    [](JobSettings& s, const std::string&) { s.linkStyle = "portable"; },
                    "リンクの形式は absolute か relative でなければなりません",
                    [](const std::string&) { return SettingLine("LINK_STYLE", "portable"); }, true},
        MessageCase{
            "UnreferencedRoot", JobKind::ListUnreferenced,
            [](JobSettings& s, const std::string& r) { s.unreferencedDir = r + "/save/blog"; },
            "未参照リンクを調べるディレクトリーが存在しません",
            [](const std::string& r) {
              return SettingLine("unreferenced DIR", r + "/save/blog", ENOENT);
            },
            true},
        // A LogTree root that cannot be made: the question came, then the system's reason.
        MessageCase{"LogNotMade", JobKind::RebuildAllLogs,
                    [](JobSettings& s, const std::string& r) {
                      PutFile(r + "/afile");
                      s.logDir[1] = r + "/afile/blog";
                    },
                    "ログ　パスを作成できません",
                    [](const std::string& r) {
                      return SettingLine("LOG_DIR_B", r + "/afile/blog", ENOTDIR);
                    },
                    true},
        MessageCase{"IndexNotMade", JobKind::RebuildAllLogs,
                    [](JobSettings& s, const std::string& r) {
                      PutFile(r + "/afile");
                      s.logDir[4] = "";
                      s.indexDir = r + "/afile/idx";
                    },
                    "インデックス　パスを作成できません",
                    [](const std::string& r) {
                      return SettingLine("INDEX_DIR", r + "/afile/idx", ENOTDIR);
                    },
                    true},
        // The work's own pages in INDEX_DIR: a directory in a page's place cannot be replaced.
        MessageCase{"IndexPage", JobKind::RebuildOneLog,
                    [](JobSettings&, const std::string& r) {
                      platform::MakeDirectoryPath(r + "/idx/allidx_a.htm");
                    },
                    "ERROR : インデクスファイルが作成できません",
                    [](const std::string& r) {
                      return SettingLine("INDEX_DIR", r + "/idx/allidx_a.htm", EISDIR);
                    },
                    false},
        MessageCase{"FramePage", JobKind::RebuildOneLog,
                    [](JobSettings&, const std::string& r) {
                      platform::MakeDirectoryPath(r + "/idx/lumbra.htm");
                    },
                    "ERROR : インデクスの為のメインフレームが作成できません",
                    [](const std::string& r) {
                      return SettingLine("INDEX_DIR", r + "/idx/lumbra.htm", EISDIR);
                    },
                    false}),
    [](const ::testing::TestParamInfo<MessageCase>& info) { return std::string(info.param.name); });

// A collection is rebuilt where it lies: every job but the add starts and runs to its end
// report whatever CACHE_DIR says, empty or naming no cache at all.
TEST_F(JobDriverTest, OnlyTheAddNeedsACache) {
  WriteFile("save/alog/h/p.html", "<a href=\"http://o.example/x.html\">x</a>");
  WriteFile("lumbrasurf.txt", "1 2 3 4 " + Path("save/alog/h/p.html") + "\n");
  session.settings.unreferencedDir = Path("save/alog");
  struct Job {
    JobKind kind;
    int logNumber;
    const char* page;  // written only by a job that ran
  };
  const Job jobs[] = {{JobKind::RebuildAllLogs, 0, "idx/allidx_a.htm"},
                      {JobKind::RebuildOneLog, 1, "idx/allidx_a.htm"},
                      {JobKind::ListUnreferenced, 0, "idx/search/htm/alog.link_htm.htm"},
                      {JobKind::RebuildSurf, 0, "idx/surfidx.htm"}};
  for (const std::string& cache : {std::string(), Path("nocache"), Path("save")}) {
    session.settings.cacheDir = cache;
    for (const Job& job : jobs) {
      SCOPED_TRACE(::testing::Message()
                   << "kind " << static_cast<int>(job.kind) << " cache '" << cache << "'");
      platform::DeleteFile(Path(job.page));
      session.settings.unreferencedJob = job.kind == JobKind::ListUnreferenced;
      const std::size_t shown = fe.messages().size();
      JobDriver driver(session, fe, clock);
      ASSERT_TRUE(driver.Command(job.kind, job.logNumber));
      EXPECT_TRUE(driver.lastJobCompleted());
      EXPECT_TRUE(platform::GetStatus(Path(job.page)).isRegular());
      ASSERT_EQ(fe.messages().size(), shown + 1);
      EXPECT_TRUE(fe.messages().back().starts_with("ＨＴＭＬ 再構成　終了"))
          << fe.messages().back();
      EXPECT_TRUE(session.ctx.cacheDir.empty());
    }
  }
  session.settings.unreferencedJob = false;
  JobDriver driver(session, fe, clock);
  EXPECT_FALSE(driver.Command(JobKind::AddToLogs));
  EXPECT_TRUE(fe.messages().back().starts_with(
      "キャッシュ　データが存在しません\rパス設定を確認してください\r"));
}

TEST_F(JobDriverTest, AMissingLogDirectoryIsMadeOnlyAfterYes) {
  session.settings.logDir[1] = Path("new/blog");
  fe.QueueAnswers({false});
  EXPECT_FALSE(Prepare());
  EXPECT_EQ(fe.questions(),
            std::vector<std::string>{"ログ　パス\r" + Path("new/blog") +
                                     "\rが存在しません　作成しますか" +
                                     SettingLine("LOG_DIR_B", Path("new/blog"), ENOENT)});
  EXPECT_FALSE(platform::GetStatus(Path("new")).exists());

  fe.QueueAnswers({true});
  EXPECT_TRUE(Prepare());
  EXPECT_TRUE(platform::GetStatus(Path("new/blog")).isDirectory());
  EXPECT_EQ(session.ctx.logDir[1], Path("new/blog"));
}

TEST(JobEndTest, TheFormsOfTheReport) {
  JobCounters add{3, 12, 7, 4, 0};
  EXPECT_EQ(FormatJobEnd(add, 5),
            "ログ追加処理　終了\r\r"
            "チェック総ファイル数　\t    12件\r"
            "ログ登録ファイル数　　\t     7件\r"
            "変換ファイル数　　　　\t     4件\r"
            "総経過時間　　　　　　\t     5秒\r");
  // Any count is a count: the value that once marked a stopped rebuild too.
  JobCounters many{0, 0, 0, 10000000, 30000};
  EXPECT_EQ(FormatJobEnd(many, 9),
            "ＨＴＭＬ 再構成　終了\r\r"
            "チェック総ファイル数　\t 30000件\r"
            "変換ファイル数　　　　\t10000000件\r"
            "総経過時間　　　　　　\t     9秒\r");
  // A stopped job has a title of its own; the page of a result comes last.
  EXPECT_EQ(FormatJobEnd(add, 5, true),
            "ログ追加処理　中止\r\r"
            "チェック総ファイル数　\t    12件\r"
            "ログ登録ファイル数　　\t     7件\r"
            "変換ファイル数　　　　\t     4件\r"
            "総経過時間　　　　　　\t     5秒\r");
  EXPECT_EQ(FormatJobEnd(many, 9, true, "/i/surfidx.htm"),
            "ＨＴＭＬ 再構成　中止\r\r"
            "チェック総ファイル数　\t 30000件\r"
            "変換ファイル数　　　　\t10000000件\r"
            "総経過時間　　　　　　\t     9秒\r"
            "\r結果のページ\r/i/surfidx.htm");
  JobCounters rebuild{0, 0, 0, 123456, 1234567};
  EXPECT_EQ(FormatJobEnd(rebuild, 61),
            "ＨＴＭＬ 再構成　終了\r\r"
            "チェック総ファイル数　\t1234567件\r"
            "変換ファイル数　　　　\t123456件\r"
            "総経過時間　　　　　　\t    61秒\r");
}

TEST_F(JobDriverTest, TheEndReportAndTheExecutionLogLine) {
  session.settings.execLog = true;
  WriteFile("lumbralog.txt", "old lines\r\n");
  JobDriver driver(session, fe, clock);
  ASSERT_TRUE(driver.Command(JobKind::RebuildOneLog, 1));
  ASSERT_EQ(fe.messages().size(), 1u);
  // Start and end each wait for one change of second.
  EXPECT_EQ(fe.messages()[0],
            "ＨＴＭＬ 再構成　終了\r\r"
            "チェック総ファイル数　\t     0件\r"
            "変換ファイル数　　　　\t     0件\r"
            "総経過時間　　　　　　\t     1秒\r");
  EXPECT_EQ(ReadFile("lumbralog.txt"),
            platform::ToCp932("HTML 検索開始\r\nINDEX 作成開始\r\n実行処理終了　1 秒\r\n"));
  EXPECT_EQ(fe.statuses().back(), kIdleText);
}

TEST_F(JobDriverTest, AKindOutsideTheFiveOnlyEndsTheBusyState) {
  JobDriver driver(session, fe, clock);
  ASSERT_TRUE(driver.StartJob(static_cast<JobKind>(9)));
  EXPECT_FALSE(driver.RunJob(static_cast<JobKind>(9)));
  EXPECT_FALSE(session.busy);
  EXPECT_TRUE(fe.messages().empty());
  EXPECT_FALSE(platform::GetStatus(Path("idx/lumbra.htm")).exists());
}

}  // namespace
}  // namespace lumbra
