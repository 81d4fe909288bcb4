#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

#include "tally/tally_command.h"
#include "tally/tally_dialog.h"
#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class TallyTest : public testing::TempDirTest {};

TEST_F(TallyTest, ATreeOverTwoGibibytesShowsItsTrueSize) {
  int fd = ::open(Path("sparse").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 3LL << 30), 0);
  ::close(fd);
  EXPECT_EQ(CountTree(root()).byteTotal, 3ULL << 30);
  EXPECT_EQ(GroupThousands(3ULL << 30), "3,221,225,472");
}

// A tree deeper than PATH_MAX allows a path to reach is counted whole: 450 levels of 10-letter
// names make paths of about 5,000 bytes, with a file at the bottom.
TEST_F(TallyTest, ATreeWhosePathsPassPathMaxIsCountedWhole) {
  constexpr int kDepth = 450;
  const std::string name(10, 'd');
  std::vector<int> fds{::open(MakeDir("deep").c_str(), O_RDONLY | O_DIRECTORY)};
  ASSERT_GE(fds.back(), 0);
  for (int k = 0; k < kDepth; ++k) {
    ASSERT_EQ(::mkdirat(fds.back(), name.c_str(), 0755), 0);
    fds.push_back(::openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_GE(fds.back(), 0);
  }
  ASSERT_GT(root().size() + kDepth * (name.size() + 1), std::size_t{PATH_MAX});
  const int file = ::openat(fds.back(), "bottom.txt", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(::write(file, "bytes", 5), 5);
  ::close(file);

  const TallyCounts counts = CountTree(Path("deep"));
  EXPECT_EQ(counts.dirCount, kDepth);
  EXPECT_EQ(counts.fileCount, 1);
  EXPECT_EQ(counts.byteTotal, 5u);

  // The test directory's removal goes by path: the tree is taken down from the bottom here.
  ::unlinkat(fds.back(), "bottom.txt", 0);
  for (int k = kDepth; k > 0; --k) {
    ::close(fds[k]);
    ::unlinkat(fds[k - 1], name.c_str(), AT_REMOVEDIR);
  }
  ::close(fds[0]);
}

TEST(GroupThousandsTest, PutsACommaBetweenGroupsOfThreeDigits) {
  const std::map<std::uint64_t, std::string> cases = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {12345678, "12,345,678"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(GroupThousands(value), text);
}

// The counts `find` gives for the same rules: no directory whose name begins with "." is
// counted or entered, a file whose name does is counted; a link or a FIFO counts as a file
// of its own size, and nothing is followed.
TallyCounts CountWithFind(const std::string& dir) {
  const std::string prune = "find '" + dir + "' -mindepth 1 \\( -type d -name '.*' -prune \\) -o ";
  auto run = [](const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::uint64_t value = 0;
    if (pipe == nullptr || std::fscanf(pipe, "%lu", &value) != 1) value = ~0ULL;
    if (pipe != nullptr) ::pclose(pipe);
    return value;
  };
  TallyCounts counts;
  counts.dirCount = static_cast<std::int64_t>(run(prune + "\\( -type d -print \\) | wc -l"));
  counts.fileCount = static_cast<std::int64_t>(run(prune + "\\( ! -type d -print \\) | wc -l"));
  counts.byteTotal =
      run(prune + "\\( ! -type d -printf '%s\\n' \\) | awk '{s+=$1} END {print s+0}'");
  return counts;
}

TEST_F(TallyTest, AgreesWithFindOnATreeOfThousandsOfEntries) {
  std::mt19937 random(7);
  std::vector<std::string> dirs = {"tree"};
  MakeDir("tree");
  for (int i = 0; i < 3000; ++i) {
    const std::string parent = dirs[random() % dirs.size()];
    const std::string name =
        parent + "/" + (random() % 9 == 0 ? "." : "") + "e" + std::to_string(i);
    switch (random() % 6) {
      case 0:
        dirs.push_back(MakeDir(name).substr(root().size() + 1));
        break;
      case 1:
        MakeLink(random() % 2 ? Path(parent) : Path("nowhere"), name);
        break;
      case 2:
        MakeFifo(name);
        break;
      default:
        WriteFile(name, std::string(random() % 5000, 'x'));
    }
  }
  const auto counted = [](const TallyCounts& c) {
    return std::tuple(c.dirCount, c.fileCount, c.byteTotal);
  };
  TallyCounts ours = CountTree(Path("tree"));
  EXPECT_GT(ours.dirCount, 100);
  EXPECT_EQ(counted(ours), counted(CountWithFind(Path("tree"))));
  // A trailing separator doubles one: the same counts. A missing directory counts nothing.
  EXPECT_EQ(counted(CountTree(Path("tree") + "/")), counted(ours));
  EXPECT_EQ(counted(CountTree(Path("none"))), counted(TallyCounts{}));
}

// The window as the model sees it: the controls' texts and a script for the chooser.
class ScriptedTallyView : public TallyView {
 public:
  std::string Text(TallyControl edit) override { return texts[edit]; }
  void SetText(TallyControl control, std::string_view text) override { texts[control] = text; }
  std::optional<std::string> ChooseDirectory(std::string_view start) override {
    chooserStarts.emplace_back(start);
    return chosen;
  }
  void ShowAbout(std::string_view title, std::string_view text) override {
    about = std::string(title) + "|" + std::string(text);
  }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  void Close() override { closed = true; }

  std::map<TallyControl, std::string> texts;
  std::optional<std::string> chosen;
  std::vector<std::string> chooserStarts;
  std::string about;
  std::vector<std::string> messages;
  bool closed = false;
};

TEST_F(TallyTest, TheWindowCountsBrowsesAndCloses) {
  WriteFile("d/x", std::string(1500, 'x'));
  WriteFile("d/s/y", "y");
  ScriptedTallyView view;
  TallyDialog dialog(view);
  view.texts[TallyControl::Dir] = Path("d");
  for (int twice = 0; twice < 2; ++twice) {  // the counters start from 0 every time
    dialog.OnCommand(TallyControl::Start);
    EXPECT_EQ(view.texts[TallyControl::DirCount], "1");
    EXPECT_EQ(view.texts[TallyControl::FileCount], "2");
    EXPECT_EQ(view.texts[TallyControl::ByteTotal], "1,501");
  }
  // A DIR that names no directory is said so, and the counts of the last one go.
  view.texts[TallyControl::Dir] = Path("d/x");
  dialog.OnCommand(TallyControl::Start);
  EXPECT_EQ(view.messages, std::vector<std::string>{"ディレクトリーを数えられません\rDIR: " +
                                                    Path("d/x") + ": Not a directory"});
  EXPECT_EQ(view.texts[TallyControl::FileCount], "");
  view.texts[TallyControl::Dir] = "typed";
  dialog.OnCommand(TallyControl::Browse);  // cancelled: DIR as typed
  view.chosen = Path("d/s");
  dialog.OnCommand(TallyControl::Browse);
  EXPECT_EQ(view.chooserStarts, (std::vector<std::string>{"typed", "typed"}));
  EXPECT_EQ(view.texts[TallyControl::Dir], Path("d/s"));
  EXPECT_FALSE(dialog.OnSystemCommand(0xF060));
  EXPECT_TRUE(dialog.OnSystemCommand(kTallyAboutCommand + 3));
  EXPECT_EQ(view.about, "バージョン情報(fennow)|fennow Version 1.0");
  EXPECT_FALSE(view.closed);
  dialog.OnCommand(TallyControl::Ok);  // Enter closes, as "終了" does
  EXPECT_TRUE(view.closed);
}

TEST_F(TallyTest, TheCommandLinePrintsTheCountsOrSaysHowItIsUsed) {
  WriteFile("d/x", std::string(2000, 'x'));
  std::ostringstream out, err;
  EXPECT_EQ(RunTallyCommand({"--count", Path("d")}, out, err), 0);
  EXPECT_EQ(out.str(), "ディレクトリー数\t0\nファイル数\t1\nファイル容量\t2,000\n");
  EXPECT_EQ(RunTallyCommand({}, out, err), std::nullopt);  // the window
  // A missing or empty DIR is no tree of nothing: a message, exit 1, no counts.
  std::ostringstream none, why;
  EXPECT_EQ(RunTallyCommand({"--count", Path("gone")}, none, why), 1);
  EXPECT_EQ(RunTallyCommand({"--count", ""}, none, why), 1);
  EXPECT_EQ(none.str(), "");
  EXPECT_EQ(why.str(), "fennow: ディレクトリーを数えられません\nDIR: " + Path("gone") +
                           ": No such file or directory\n"
                           "fennow: ディレクトリーを数えられません\nDIR が空です\n");
  EXPECT_EQ(RunTallyCommand({"--count"}, out, err), 2);
  EXPECT_EQ(RunTallyCommand({"--frobnicate", "x"}, out, err), 2);
  EXPECT_NE(err.str().find("fennow --help"), std::string::npos);
  std::ostringstream help;
  EXPECT_EQ(RunTallyCommand({"--help"}, help, err), 0);
  EXPECT_NE(help.str().find("needs no display"), std::string::npos);
}

}  // namespace
}  // namespace lumbra
