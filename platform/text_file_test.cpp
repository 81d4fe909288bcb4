#include "platform/text_file.h"

#include "testing/temp_dir.h"

namespace lumbra::platform {
namespace {

class TextFileTest : public lumbra::testing::TempDirTest {};

TEST_F(TextFileTest, WriterEndsLinesWithCrLf) {
  TextWriter writer;
  ASSERT_TRUE(writer.Open(Path("t.txt"), TextWriter::Mode::Truncate));
  writer.Write("one\ntwo\n\nlast");
  ASSERT_TRUE(writer.Close());
  EXPECT_EQ(ReadFile("t.txt"), "one\r\ntwo\r\n\r\nlast");
  ASSERT_TRUE(AppendText(Path("t.txt"), "\nmore\n"));
  EXPECT_EQ(ReadFile("t.txt"), "one\r\ntwo\r\n\r\nlast\r\nmore\r\n");
}

TEST_F(TextFileTest, ReaderAcceptsCrLfAndLf) {
  WriteFile("mixed.txt", "a\r\nb\nc\rd\r\n\r\ne");
  TextReader reader;
  ASSERT_TRUE(reader.Open(Path("mixed.txt")));
  std::vector<std::string> lines;
  std::string line;
  while (reader.ReadLine(line)) lines.push_back(line);
  // A CR that is not before a LF stays.
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c\rd", "", "e"}));
}

TEST_F(TextFileTest, ChunksAreCutAtTheBufferSizeLikeFgets) {
  WriteFile("long.txt", "abcdefgh\r\nxy\r\n");
  TextReader reader;
  ASSERT_TRUE(reader.Open(Path("long.txt")));
  std::string chunk;
  std::vector<std::string> chunks;
  while (reader.ReadChunk(4, chunk)) chunks.push_back(chunk);
  EXPECT_EQ(chunks, (std::vector<std::string>{"abc", "def", "gh\n", "xy\n"}));
}

}  // namespace
}  // namespace lumbra::platform
