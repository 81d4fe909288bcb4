// Titles come from any page on the web: the conversion must survive every byte string and
// never make a title longer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "index/index_record.h"
#include "index/title_code.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string title = input;
  lumbra::ConvertTitleCode(title);
  if (title.size() > input.size()) std::abort();
  // A title is read up to its first NUL; a longer one than the limit stays as it is.
  if (input.find('\0') == std::string::npos && input.size() > lumbra::kTitleCodeMax &&
      title != input) {
    std::abort();
  }

  lumbra::IndexRecordTable table;
  lumbra::AddIndexRecord(table, "", input, input);
  if (table.size() != 1 || table[0].title.size() > lumbra::kIndexTitleMax ||
      table[0].path.size() > lumbra::kIndexPathMax) {
    std::abort();
  }
  return 0;
}
