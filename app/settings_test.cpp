#include "app/settings.h"

#include <sys/stat.h>

#include "testing/scripted_frontend.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class SettingsTest : public testing::TempDirTest {
 protected:
  JobSettings Load() {
    JobSettings s;
    s.readAll = true;  // must be reset to the default before the file is read
    LoadSettings(root(), s);
    return s;
  }
};

TEST_F(SettingsTest, AMissingOrUnreadableFileGivesTheDefaults) {
  for (bool unreadable : {false, true}) {
    if (unreadable) MakeDir("lumbra.ini");  // a directory cannot be read as the file
    JobSettings s = Load();
    EXPECT_EQ(FormatSettings(s),
              "CACHE_DIR=\nLOG_DIR_A=\nLOG_DIR_B=\nLOG_DIR_C=\nLOG_DIR_D=\nLOG_DIR_E=\nINDEX_DIR=\n"
              "READ_ALL=FALSE\nREAD_NEW=TRUE\nREAD_REF=TRUE\nREAD_HTM=FALSE\nREAD_AEL=TRUE\n"
              "READ_CNT=TRUE\nREAD_BAK=FALSE\nREAD_DOM=FALSE\nSURF_DIRS=\nLINK_STYLE=absolute\n");
    EXPECT_FALSE(s.execLog || s.unrefRef);
  }
}

TEST_F(SettingsTest, KeyTextsAreFoundAnywhereInTheirOrder) {
  WriteFile("lumbra.ini",
            "  junk CACHE_DIR=/c/cache \n"
            "LOG_DIR_A=/x/alog LOG_DIR_B=/y/blog\n"
            "READ_ALL=TRUE   \n"
            "READ_NEW=true\n"
            "READ_REF=FALSE\n"
            "xxREAD_DOM=TRUE\n");
  JobSettings s = Load();
  EXPECT_EQ(s.cacheDir, "/c/cache ");  // untrimmed
  EXPECT_EQ(s.logDir[0], "/x/alog LOG_DIR_B=/y/blog");
  EXPECT_EQ(s.logDir[1], "");
  EXPECT_TRUE(s.readAll);
  EXPECT_TRUE(s.readNew);  // lower-case true matches nothing: the default stays
  EXPECT_FALSE(s.readRef);
  EXPECT_TRUE(s.readDom);
}

TEST_F(SettingsTest, OnlyTheFirst17LinesCountAndTheLastOccurrenceWins) {
  std::string text;
  for (int i = 0; i < 16; ++i) text += "INDEX_DIR=/idx" + std::to_string(i) + "\n";
  text += "READ_BAK=TRUE\n";  // line 17
  text += "READ_HTM=TRUE\n";  // line 18: ignored
  WriteFile("lumbra.ini", text);
  JobSettings s = Load();
  EXPECT_EQ(s.indexDir, "/idx15");
  EXPECT_TRUE(s.readBak);
  EXPECT_FALSE(s.readHtm);
}

TEST_F(SettingsTest, ALongLineIsReadIn249CharacterPieces) {
  // The rest of the line counts as the next line: the 2nd piece holds the READ_ALL text.
  std::string line = "CACHE_DIR=" + std::string(239, 'p') + "READ_ALL=TRUE" + "\n";
  WriteFile("lumbra.ini", line + "READ_NEW=FALSE\n");
  JobSettings s = Load();
  EXPECT_EQ(s.cacheDir, std::string(239, 'p'));
  EXPECT_TRUE(s.readAll);
  EXPECT_FALSE(s.readNew);
}

TEST_F(SettingsTest, AWindowsFileLoadsWithoutAStrayCr) {
  WriteFile("lumbra.ini",
            "CACHE_DIR=C:\\Program Files\\Netscape\\Cache\r\n"
            "LOG_DIR_E=D:\\save\\log\r\n"
            "INDEX_DIR=D:\\save\\index\r\n"
            "READ_DOM=TRUE\r\n");
  JobSettings s = Load();
  EXPECT_EQ(s.cacheDir, "C:\\Program Files\\Netscape\\Cache");
  EXPECT_EQ(s.logDir[4], "D:\\save\\log");
  EXPECT_EQ(s.indexDir, "D:\\save\\index");
  EXPECT_TRUE(s.readDom);
  EXPECT_EQ(s.unreferencedDir, "D:\\save\\log");  // taken from LOG_DIR_E
}

TEST_F(SettingsTest, SaveWritesThe17LinesAndEveryKeyReadsBack) {
  JobSettings s;
  s.cacheDir = "/home/u/.cache/ie";
  s.logDir = {"/a/alog", "", "/c/clog ", "D:\\win\\dlog", "/e/日本log"};
  s.indexDir = "/idx";
  s.readAll = true;
  s.readNew = false;
  s.readRef = false;
  s.readHtm = true;
  s.readAel = false;
  s.readCnt = false;
  s.readBak = true;
  s.readDom = true;
  s.surfDirs = "/home/u/crawl;relative/dir";
  s.linkStyle = "relative";
  s.execLog = true;  // never saved
  testing::ScriptedFrontend fe;
  ASSERT_TRUE(SaveSettings(root(), s, fe));
  EXPECT_EQ(ReadFile("lumbra.ini"),
            "CACHE_DIR=/home/u/.cache/ie\r\nLOG_DIR_A=/a/alog\r\nLOG_DIR_B=\r\n"
            "LOG_DIR_C=/c/clog \r\nLOG_DIR_D=D:\\win\\dlog\r\nLOG_DIR_E=/e/日本log\r\n"
            "INDEX_DIR=/idx\r\nREAD_ALL=TRUE\r\nREAD_NEW=FALSE\r\nREAD_REF=FALSE\r\n"
            "READ_HTM=TRUE\r\nREAD_AEL=FALSE\r\nREAD_CNT=FALSE\r\nREAD_BAK=TRUE\r\n"
            "READ_DOM=TRUE\r\nSURF_DIRS=/home/u/crawl;relative/dir\r\nLINK_STYLE=relative\r\n");
  JobSettings back = Load();
  for (std::string_view key : SettingKeys()) {
    EXPECT_EQ(GetSetting(back, key), GetSetting(s, key)) << key;
  }
  EXPECT_FALSE(back.execLog);
  EXPECT_TRUE(fe.messages().empty());
}

// What a key takes from lumbra-cli (--set, settings KEY=VALUE), and what the file's text of
// LINK_STYLE reads as: a value the setting refuses is kept for the start checks to refuse.
TEST_F(SettingsTest, SwitchesAndTheLinkStyleTakeOnlyTheirValues) {
  const struct {
    const char *key, *value;
    bool taken;
    const char* stored;  // GetSetting afterwards (unchanged default when refused)
  } cases[] = {
      {"READ_ALL", "TRUE", true, "TRUE"},
      {"READ_ALL", "true", false, "FALSE"},
      {"LINK_STYLE", "relative", true, "relative"},
      {"LINK_STYLE", "Relative", true, "relative"},
      {"LINK_STYLE", "ABSOLUTE", true, "absolute"},
      {"LINK_STYLE", "", true, "absolute"},
      {"LINK_STYLE", "relative ", false, "absolute"},
      {"LINK_STYLE", "portable", false, "absolute"},
      {"NO_SUCH_KEY", "x", false, ""},
  };
  for (const auto& c : cases) {
    JobSettings s;
    EXPECT_EQ(SetSetting(s, c.key, c.value), c.taken) << c.key << "=" << c.value;
    EXPECT_EQ(GetSetting(s, c.key), c.stored) << c.key << "=" << c.value;
  }
  for (const char* value : {"relative", "portable"}) {
    WriteFile("lumbra.ini", std::string("READ_ALL=TRUE\r\nLINK_STYLE=") + value + "\r\n");
    JobSettings s = Load();
    EXPECT_EQ(s.linkStyle, value);
    EXPECT_EQ(ParseLinkStyle(s.linkStyle).has_value(), value == std::string("relative"));
  }
  WriteFile("lumbra.ini", "READ_ALL=TRUE\r\n");  // a file of before the setting
  EXPECT_EQ(ParseLinkStyle(Load().linkStyle), LinkStyle::Absolute);
}

TEST_F(SettingsTest, AFailedSaveShowsTheMessageAndKeepsTheOldFile) {
  WriteFile("lumbra.ini", "CACHE_DIR=/old\r\n");
  ASSERT_EQ(::chmod(Path("lumbra.ini").c_str(), 0444), 0);
  JobSettings s;
  s.cacheDir = "/new";
  testing::ScriptedFrontend fe;
  EXPECT_FALSE(SaveSettings(root(), s, fe));
  EXPECT_EQ(fe.messages(), std::vector<std::string>{"LUMBRA.INI への書き込みに失敗しました"});
  EXPECT_EQ(ReadFile("lumbra.ini"), "CACHE_DIR=/old\r\n");
  EXPECT_FALSE(SaveSettings(Path("no/such/dir"), s, fe));
}

}  // namespace
}  // namespace lumbra
