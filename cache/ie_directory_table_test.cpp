#include "cache/ie_directory_table.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumbra {
namespace {

// The 4.x reader's cases (the place by signature, a negative count, a slot beyond the names,
// a file too short for the whole table) are in ie4_reader_test.cpp; a file that ends inside
// the table of a 5.2 index, and a count beyond what the table holds, are only reachable here.
TEST(ReadDirectoryTableTest, TakesOnlyWhatItsExtentFindsInTheFile) {
  using enum DirectoryTableExtent;
  std::string bytes(72 + 1024, '\0');
  bytes[72] = 3;
  bytes.replace(72 + 8, 8, "AAAA0001");
  bytes.replace(72 + 20, 8, "BBBB0002");
  bytes.replace(72 + 32, 8, "CCCC0003");  // ends 40 bytes into the table
  const std::vector<std::string> all = {"AAAA0001", "BBBB0002", "CCCC0003"};
  struct Case {
    DirectoryTableExtent extent;
    std::size_t size;
    std::size_t offset;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {kWhole, 72 + 1024, 72, all},
      {kWhole, 72 + 1023, 72, {}},
      {kNamesInFile, 72 + 40, 72, all},
      {kNamesInFile, 72 + 39, 72, {"AAAA0001", "BBBB0002"}},
      {kNamesInFile, 72 + 3, 72, {}},  // the count field is cut
      {kNamesInFile, 72 + 1024, SIZE_MAX, {}},
      {kWhole, 72 + 1024, SIZE_MAX, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "size " << c.size << " offset " << c.offset
                                      << (c.extent == kWhole ? " whole" : " names in file"));
    EXPECT_EQ(ReadDirectoryTable(std::string_view(bytes).substr(0, c.size), c.offset, c.extent),
              c.names);
  }
  // A count of 127 names: the 85 that the 1,024 bytes of the table hold are every one kept.
  std::string crowded(72 + 2048, 'N');
  crowded.replace(72, 4, std::string("\x7f\0\0\0", 4));
  for (DirectoryTableExtent extent : {kWhole, kNamesInFile}) {
    EXPECT_EQ(ReadDirectoryTable(crowded, 72, extent), std::vector<std::string>(85, "NNNNNNNN"));
  }
}

}  // namespace
}  // namespace lumbra
