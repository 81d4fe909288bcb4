#include "platform/fs.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "testing/temp_dir.h"

namespace lumbra::platform {
namespace {

class FsTest : public lumbra::testing::TempDirTest {};

TEST_F(FsTest, OnlyRegularFilesAreOpenedForReadingAndNothingBlocks) {
  WriteFile("real/file", "bytes");
  MakeLink(Path("real/file"), "link");
  MakeLink(Path("real"), "dirlink");
  MakeFifo("fifo");  // a blocking open of it would hang the test
  ReadableFile file;
  EXPECT_EQ(file.Open(Path("link"), FollowLinks::Yes), OpenError::None);
  EXPECT_EQ(file.Open(Path("link"), FollowLinks::No), OpenError::SymbolicLink);
  EXPECT_EQ(file.Open(Path("fifo"), FollowLinks::Yes), OpenError::NotRegular);
  EXPECT_EQ(file.Open("/dev/zero", FollowLinks::Yes), OpenError::NotRegular);
  // Below a root no component may be a link, but the root itself may.
  platform::FilesBelow belowRoot(root());
  platform::FilesBelow belowLink(Path("dirlink"));
  EXPECT_EQ(belowRoot.Open("dirlink/file", file), OpenError::SymbolicLink);
  EXPECT_EQ(belowLink.Open("file", file), OpenError::None);
  std::string content;
  ASSERT_TRUE(file.ReadAll(content));
  EXPECT_EQ(content, "bytes");
}

TEST_F(FsTest, FilesBelowOpensEachFileOfManyDirectoriesTakenInTurn) {
  constexpr std::size_t kDirs = platform::FilesBelow::kKeptDirectories + 3;  // some are let go
  for (std::size_t d = 0; d < kDirs; ++d) {
    WriteFile("root/d" + std::to_string(d) + "/a", "a" + std::to_string(d));
    WriteFile("root/d" + std::to_string(d) + "/b", "b" + std::to_string(d));
  }
  MakeLink(Path("root/d0"), "root/link");
  platform::FilesBelow files(Path("root"));
  for (const char* name : {"a", "b"}) {
    for (std::size_t d = 0; d < kDirs; ++d) {
      ReadableFile file;
      std::string content;
      ASSERT_EQ(files.Open("d" + std::to_string(d) + "/" + name, file), OpenError::None);
      ASSERT_TRUE(file.ReadAll(content));
      EXPECT_EQ(content, name + std::to_string(d));
    }
  }
  ReadableFile file;
  EXPECT_EQ(files.Open("link/a", file), OpenError::SymbolicLink);
}

TEST_F(FsTest, AtomicWriterReplacesOnlyOnCommit) {
  std::string file = WriteFile("page.html", "old");
  {
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open(file));
    ASSERT_TRUE(writer.Write("new content"));
    EXPECT_EQ(ReadFile("page.html"), "old");
    // Its temporary file is known for a leftover, should the process be killed now.
    auto names = ListDirectory(root());
    EXPECT_EQ(std::count_if(names->begin(), names->end(), IsReplacementLeftover), 1);
  }  // destroyed without Commit
  EXPECT_EQ(ReadFile("page.html"), "old");
  auto names = ListDirectory(root());
  EXPECT_EQ(names->size(), 3u) << "the temporary file must be gone";

  ASSERT_TRUE(ReplaceFileContent(file, "new", 0600));
  EXPECT_EQ(ReadFile("page.html"), "new");
  EXPECT_EQ(GetStatus(file).mode & 0777, 0600u);
}

TEST_F(FsTest, AWriterOpenedLaterMakesItsTemporaryFileWhenItIsNeeded) {
  auto leftovers = [&] {
    auto names = ListDirectory(Path("d"));
    return std::count_if(names->begin(), names->end(), IsReplacementLeftover);
  };
  WriteFile("d/a", "old");
  AtomicFileWriter writer;
  writer.OpenLater(Path("d/a"));
  ASSERT_TRUE(writer.Write("new"));
  EXPECT_EQ(leftovers(), 0);
  // Handed over: whoever completes it makes the file, as another thread would.
  AtomicFileWriter::Handover handover = writer.Release(0640);
  ASSERT_TRUE(AtomicFileWriter::Complete(handover));
  EXPECT_EQ(ReadFile("d/a"), "new");
  EXPECT_EQ(GetStatus(Path("d/a")).mode & 0777, 0640u);
  // Bytes beyond the buffer need the file at once.
  writer.OpenLater(Path("d/b"));
  ASSERT_TRUE(writer.Write(std::string(AtomicFileWriter::kBufferSize + 1, 'b')));
  EXPECT_EQ(leftovers(), 1);
  ASSERT_TRUE(writer.Commit(0644));
  EXPECT_EQ(leftovers(), 0);
  // A temporary file that cannot be made is told as such.
  writer.OpenLater(Path("missing/c"));
  ASSERT_TRUE(writer.Write("c"));
  handover = writer.Release(0644);
  EXPECT_FALSE(AtomicFileWriter::Complete(handover));
  EXPECT_TRUE(handover.tempFailed);
  EXPECT_EQ(handover.error, ENOENT);
}

TEST_F(FsTest, ADiscardedEmptyTemporaryFileServesTheNextFileOfItsDirectoryOnly) {
  auto leftovers = [&](const std::string& dir) {
    std::vector<std::string> found;
    auto names = ListDirectory(Path(dir));
    for (const std::string& name : *names)
      if (IsReplacementLeftover(name)) found.push_back(name);
    return found;
  };
  WriteFile("d/a", "a");
  WriteFile("e/c", "c");
  AtomicFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("d/a")));
  writer.Write("not flushed");
  writer.Discard();
  auto kept = leftovers("d");
  ASSERT_TRUE(writer.Open(Path("d/b")));
  EXPECT_EQ(leftovers("d"), kept) << "the kept file is taken, no second one made";
  ASSERT_TRUE(writer.Write("b") && writer.Commit(0644));
  EXPECT_EQ(ReadFile("d/b"), "b");
  EXPECT_TRUE(leftovers("d").empty());

  // A file that bytes had reached is never handed on: the next page would start with them.
  ASSERT_TRUE(writer.Open(Path("d/a")));
  writer.Write(std::string(AtomicFileWriter::kBufferSize + 1, 'x'));
  writer.Discard();
  EXPECT_TRUE(leftovers("d").empty());
  ASSERT_TRUE(writer.Open(Path("d/a")) && writer.Write("A") && writer.Commit(0644));
  EXPECT_EQ(ReadFile("d/a"), "A");

  // Another directory gets a file of its own; the kept one goes.
  ASSERT_TRUE(writer.Open(Path("d/a")));
  writer.Discard();
  ASSERT_TRUE(writer.Open(Path("e/c")));
  EXPECT_TRUE(leftovers("d").empty());
  EXPECT_EQ(leftovers("e").size(), 1u) << "the temporary file is made beside its target";
  ASSERT_TRUE(writer.Write("C") && writer.Commit(0644));
  EXPECT_EQ(ReadFile("e/c"), "C");
  EXPECT_TRUE(leftovers("d").empty() && leftovers("e").empty());
}

TEST_F(FsTest, RemoveTreeLeavesLinkTargetsAlone) {
  WriteFile("keep/file", "x");
  WriteFile("gone/file", "y");
  ASSERT_EQ(::symlink(Path("keep").c_str(), Path("gone/link").c_str()), 0);
  EXPECT_TRUE(RemoveTree(Path("gone")));
  EXPECT_FALSE(GetStatus(Path("gone")).exists());
  EXPECT_EQ(ReadFile("keep/file"), "x");
}

TEST_F(FsTest, CountFilesCountsOnlyRegularFilesDirectlyInside) {
  WriteFile("d/one", "1");
  WriteFile("d/two", "2");
  WriteFile("d/sub/three", "3");
  EXPECT_EQ(CountFiles(Path("d")), 2);
  EXPECT_EQ(CountFiles(Path("d/")), 2);
  EXPECT_EQ(CountFiles(Path("none")), 0);
}

}  // namespace
}  // namespace lumbra::platform
