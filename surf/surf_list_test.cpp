#include "surf/surf_list.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace lumbra {
namespace {

// The surf list, whatever pieces it arrives in.
std::vector<std::string> ReadInPieces(std::string_view bytes, std::size_t split) {
  SurfListReader reader;
  reader.Feed(bytes.substr(0, split));
  reader.Feed(bytes.substr(split));
  reader.Finish();
  return reader.paths();
}

TEST(SurfListReaderTest, KeepsTheFifthTokenOfEveryCompleteGroup) {
  const std::string path255(255, 'p');
  const struct {
    std::string bytes;
    std::vector<std::string> paths;
  } cases[] = {
      {"a b c d /x/log/h/p.htm", {"/x/log/h/p.htm"}},
      {"a\tb\r\nc\vd\f  e1\n\na b c d e2\n", {"e1", "e2"}},
      {"a b c d e f g", {"e"}},
      {std::string(20, 'q') + " b c d e", {"e"}},
      {"a b c d " + path255 + "p a b c d " + path255, {path255}},
  };
  for (const auto& c : cases) {
    for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
      EXPECT_EQ(ReadInPieces(c.bytes, split), c.paths) << c.bytes << " split at " << split;
    }
  }
  std::string many;
  for (int i = 0; i < 1001; ++i) many += "a b c d e" + std::to_string(i) + "\n";
  SurfListReader reader;
  reader.Feed(many);
  EXPECT_EQ(reader.paths().size(), 1001u);
  EXPECT_EQ(reader.paths().back(), "e1000");
}

TEST(SurfListDirectoryTest, IsTheDirectoryOfThePageOrTheDirectoryNamed) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"/s/alog/host/a/b.htm", "/s/alog/host/a"},
      {"/s/alog/host/a", "/s/alog/host/a"},
      {"/s/alog/host/a/", "/s/alog/host/a"},
      {"/s/ALOG/host/a/B.HTML", "/s/ALOG/host/a"},
      {"alog/host/a/b.htm", "/start/alog/host/a"},
      {"a.htm", std::nullopt},
      {"/s/a/b/c.htm", std::nullopt},
      {"/s/alog/b.htm", std::nullopt},
      {"/s/alog/h/../../../etc/p.htm", std::nullopt},
      {"/s/alog/./h/p.htm", std::nullopt},
  };
  for (const auto& [path, dir] : cases) EXPECT_EQ(SurfListDirectory(path, "/start"), dir) << path;
}

}  // namespace
}  // namespace lumbra
