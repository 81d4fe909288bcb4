// The link list serch.tmp on arbitrary bytes: no crash, the same lines whatever pieces the
// bytes arrive in, the lines cut exactly where the text reader's fixed buffer cuts them (every
// one of them), and every address within its line and free of the blank, line end and NUL
// that end it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "index/link_list_pages.h"
#include "memory_scratch.h"
#include "platform/fs.h"
#include "platform/text_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  lumbra::fuzz::KeepScratchInMemory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static lumbra::platform::TempDirectory dir("lumbra-fuzz-link-list");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> addresses = lumbra::ReadLinkList(bytes);
  lumbra::LinkListReader pieces;
  std::vector<std::string> inPieces;
  const std::size_t split = size == 0 ? 0 : data[0] % size;
  pieces.Feed(std::string_view(bytes).substr(0, split), inPieces);
  pieces.Feed(std::string_view(bytes).substr(split), inPieces);
  pieces.Finish(inPieces);
  if (inPieces != addresses) std::abort();
  for (const std::string& address : addresses) {
    if (address.size() >= lumbra::kLinkListLineBuffer) std::abort();
    if (address.find_first_of(std::string(" \n\0", 3)) != std::string::npos) std::abort();
    lumbra::ClassifyLinkListAddress(address);
  }

  // The same lines as the text reader gives them from the file.
  const std::string path = dir.path() + "/serch.tmp";
  if (!lumbra::platform::ReplaceFileContent(path, bytes, 0644)) return 0;
  lumbra::platform::TextReader reader;
  if (!reader.Open(path)) std::abort();
  std::string line;
  for (const std::string& address : addresses) {
    if (!reader.ReadChunk(lumbra::kLinkListLineBuffer, line)) std::abort();
    if (line.compare(0, address.size(), address) != 0) std::abort();
    if (address.size() < line.size() && line[address.size()] != ' ' &&
        line[address.size()] != '\n' && line[address.size()] != '\0') {
      std::abort();
    }
  }
  if (reader.ReadChunk(lumbra::kLinkListLineBuffer, line)) std::abort();
  return 0;
}
