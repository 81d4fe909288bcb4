#include "core/document.h"

#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

class DocumentTest : public testing::TempDirTest {
 protected:
  // CopyDocument of the file `source`; false when it cannot be opened.
  static bool Copy(const std::string& target, const std::string& source) {
    FileDocument document;
    return document.file().Open(source, platform::FollowLinks::Yes) == platform::OpenError::None &&
           CopyDocument(target, document);
  }
  // SameContent of two files; false when either cannot be opened.
  static bool Same(const std::string& a, const std::string& b) {
    FileDocument first;
    FileDocument second;
    return first.file().Open(a, platform::FollowLinks::Yes) == platform::OpenError::None &&
           second.file().Open(b, platform::FollowLinks::Yes) == platform::OpenError::None &&
           SameContent(first, second);
  }
};

TEST_F(DocumentTest, ACopyOverwritesWithTheNormalModeUnlessTheTargetIsReadOnly) {
  std::string source = WriteFile("src", "new bytes");
  std::string target = WriteFile("dst", "old");
  ASSERT_TRUE(platform::SetFileMode(target, 0600));
  EXPECT_TRUE(Copy(target, source));
  EXPECT_EQ(ReadFile("dst"), "new bytes");
  EXPECT_EQ(platform::GetStatus(target).mode & 0777, platform::NormalFileMode());
  EXPECT_TRUE(Copy(Path("fresh"), source));
  EXPECT_EQ(ReadFile("fresh"), "new bytes");

  // A read-only target is left and the failure reported.
  ASSERT_TRUE(platform::SetFileMode(target, 0444));
  EXPECT_FALSE(Copy(target, WriteFile("src2", "other")));
  EXPECT_EQ(ReadFile("dst"), "new bytes");
  EXPECT_FALSE(Copy(Path("x"), Path("no-source")));
  EXPECT_FALSE(platform::GetStatus(Path("x")).exists());
  EXPECT_FALSE(Copy(Path("nodir/x"), source));
}

// A write that fails part-way (the file-size limit is hit) must leave the old content whole.
TEST_F(DocumentTest, ACopyFailingPartWayKeepsTheOldFile) {
  std::string source = WriteFile("big", std::string(200000, 'n'));
  std::string target = WriteFile("target", std::string(1000, 'o'));
  EXPECT_TRUE(testing::InChildWithFileSizeLimit(50000, [&] { return !Copy(target, source); }))
      << "the copy must report the failed write";
  EXPECT_EQ(ReadFile("target"), std::string(1000, 'o'));
  auto names = platform::ListDirectory(root());
  EXPECT_EQ(names->size(), 4u) << "no temporary file may be left behind";
}

// A cached file that keeps growing after it was opened (a browser still writing it, or a file
// made to fill the disk) is copied at the size it had when it was opened.
TEST_F(DocumentTest, AFileGrowingAfterItWasOpenedIsCopiedAtItsSizeThen) {
  const std::string source = WriteFile("growing", std::string(100000, 'a'));
  FileDocument document;
  ASSERT_EQ(document.file().Open(source, platform::FollowLinks::Yes), platform::OpenError::None);
  const int fd = ::open(source.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  const std::string piece(65536, 'b');
  for (int k = 0; k < 16; ++k) ASSERT_EQ(::write(fd, piece.data(), piece.size()), 65536);
  ASSERT_TRUE(CopyDocument(Path("copy"), document));
  for (int k = 0; k < 16; ++k) ASSERT_EQ(::write(fd, piece.data(), piece.size()), 65536);
  ::close(fd);
  EXPECT_EQ(ReadFile("copy"), std::string(100000, 'a'));
  ASSERT_TRUE(CopyDocument(Path("again"), document));
  EXPECT_EQ(ReadFile("again"), std::string(100000, 'a'));
}

TEST_F(DocumentTest, SameContentComparesOverTheFirstDocument) {
  std::string empty1 = WriteFile("e1", "");
  std::string empty2 = WriteFile("e2", "");
  std::string a = WriteFile("a", std::string(5000, 'x'));
  std::string longer = WriteFile("b", std::string(5000, 'x') + "tail");
  std::string other = WriteFile("c", std::string(4999, 'x') + "y");
  EXPECT_TRUE(Same(empty1, empty2));
  EXPECT_TRUE(Same(a, longer));
  EXPECT_FALSE(Same(longer, a));
  EXPECT_FALSE(Same(a, other));
  EXPECT_FALSE(Same(a, Path("none")));
}

}  // namespace
}  // namespace lumbra
