#include "logstore/log_path.h"

#include <ostream>
#include <string>

#include "testing/temp_dir.h"

namespace lumbra {
namespace {

// Trees: A = save/log, E = more/log.
class LogPathTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    ctx.logDir[0] = Path("save/log");
    ctx.logDir[4] = Path("more/log");
  }
  std::string A(std::string_view rel) const { return ctx.logDir[0] + "/" + std::string(rel); }
  // Maps `url` as a job that has asked nothing of the disk yet.
  bool Map(std::string_view url, LogPath& out) {
    platform::PathTable paths;
    return MapEntryToLogPath(ctx, paths, url, out);
  }

  JobContext ctx;
};

struct MapCase {
  const char* url;
  const char* local;  // relative to tree A; "" when the entry has no local path
  const char* host;
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << '"' << c.url << '"'; }

class MapEntryTable : public LogPathTest, public ::testing::WithParamInterface<MapCase> {};

TEST_P(MapEntryTable, MapsTheUrlIntoTreeA) {
  ctx.logDir[4].clear();
  const MapCase& c = GetParam();
  LogPath out{"old", "oldRoot", "oldHost"};
  bool mapped = Map(c.url, out);
  if (*c.local == '\0') {
    EXPECT_FALSE(mapped);
    EXPECT_EQ(out.localPath, "");
    EXPECT_EQ(out.treeRoot, "oldRoot");
    EXPECT_EQ(out.hostDir, "oldHost");
  } else {
    EXPECT_TRUE(mapped);
    EXPECT_EQ(out.localPath, A(c.local));
    EXPECT_EQ(out.treeRoot, ctx.logDir[0]);
    EXPECT_EQ(out.hostDir, A(c.host));
  }
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, MapEntryTable,
    ::testing::Values(MapCase{"http://host/dir/page.html", "host/dir/page.html", "host"},
                      MapCase{"http://host/home.html", "host/home.html", "host"},
                      MapCase{"http://host-8080/a.gif", "host-8080/a.gif", "host-8080"},
                      MapCase{"http://host/cgi-bin/q-x=1.html", "host/cgi-bin/q-x=1.html", "host"},
                      MapCase{"ftp://host/pub/file.zip", "host/pub/file.zip", "host"},
                      MapCase{"news:group", "", ""}, MapCase{"https://host/x", "host/x", "host"},
                      MapCase{"HTTPS://Host/x", "Host/x", "Host"},
                      MapCase{"HTTP://Host/X.html", "Host/X.html", "Host"},
                      MapCase{"file://host/x.txt", "host/x.txt", "host"},
                      MapCase{"gopher://host/1/x", "host/1/x", "host"},
                      MapCase{"http://host", "host", "host"}));

// Nothing a cache holds may make the log-add job write outside the log directories.
INSTANTIATE_TEST_SUITE_P(
    OutsideTheTree, MapEntryTable,
    ::testing::Values(MapCase{"http://host/../x", "", ""}, MapCase{"http://host/a/../../x", "", ""},
                      MapCase{"http://../x", "", ""}, MapCase{"http://host/..", "", ""},
                      MapCase{"http://./x", "", ""}, MapCase{"http://host/./x", "", ""},
                      MapCase{"http:///x", "", ""}, MapCase{"http:", "", ""},
                      MapCase{"httpfoo/bar", "", ""}, MapCase{"ftp:xy", "", ""},
                      // Dots inside a name are a name.
                      MapCase{"http://a..b/x..y/...", "a..b/x..y/...", "a..b"},
                      MapCase{"http://host/.x/x./..z", "host/.x/x./..z", "host"},
                      MapCase{"http://host/a//b", "host/a//b", "host"},
                      // A '\\' of a web address is a '/', as browsers read it.
                      MapCase{"http://h/..\\..\\x.html", "", ""},
                      MapCase{"https://h/a\\..\\..\\x", "", ""}, MapCase{"http://h\\..\\x", "", ""},
                      MapCase{"http://h/a\\b.html", "h/a/b.html", "h"},
                      MapCase{"ftp://h/a\\b", "h/a\\b", "h"}));

TEST_F(LogPathTest, MapRefusesANulThatWouldCutThePath) {
  LogPath out;
  EXPECT_FALSE(Map(std::string("http://host/..\0x", 16), out));
  EXPECT_EQ(out.localPath, "");
  EXPECT_TRUE(out.leadsOutside);
  EXPECT_FALSE(Map("news:group", out));
  EXPECT_FALSE(out.leadsOutside) << "passed over, not refused";
}

TEST_F(LogPathTest, AHostStaysInTheFirstTreeThatHoldsIt) {
  ctx.logDir = {Path("a/log"), "", Path("c/log"), Path("d/log"), ""};
  MakeDir("a/log/both");
  MakeDir("c/log/both");
  MakeDir("c/log/conly");
  WriteFile("a/log/plainfile", "not a host directory");
  LogPath out;
  ASSERT_TRUE(Map("http://both/x.html", out));
  EXPECT_EQ(out.localPath, Path("a/log/both/x.html"));
  ASSERT_TRUE(Map("http://conly/x.html", out));
  EXPECT_EQ(out.treeRoot, Path("c/log"));
  EXPECT_EQ(out.hostDir, Path("c/log/conly"));
  ASSERT_TRUE(Map("http://new/x.html", out));
  EXPECT_EQ(out.localPath, Path("d/log/new/x.html"));
  ASSERT_TRUE(Map("http://plainfile/x.html", out));
  EXPECT_EQ(out.treeRoot, Path("d/log"));

  ctx.logDir = {};
  EXPECT_FALSE(Map("http://new/x.html", out));
  EXPECT_EQ(out.localPath, "");
}

}  // namespace
}  // namespace lumbra
