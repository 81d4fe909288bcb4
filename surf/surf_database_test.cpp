#include "surf/surf_database.h"

#include <tuple>

#include "testing/page_test.h"
#include "testing/surf_fixture.h"

namespace lumbra::testing {
namespace {

class SurfDatabaseTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    ctx.execLog = true;
  }
  std::string ExecLog() { return ReadFile("lumbralog.txt"); }
  SurfSession session;
};

TEST_F(SurfDatabaseTest, HostileValuesReadAsEmptyOrZeroAndAMissingColumnEndsTheRows) {
  {
    // No declared types, so every value keeps the type it was written with.
    SqlConnection db(Path("lumbra.mdb"));
    db.Exec(
        "CREATE TABLE Param (ID, \"No\", LogDir, URL, OnOff);"
        "INSERT INTO Param VALUES (2, 1, NULL, 42, 1), ('3', 2, X'6869', 'u', 4294967297),"
        "  (5000000000, 3, printf('%.400c', 'x'), 'v', -1), (7, 4, 'd', 2.5, 200.0),"
        "  (0, 0, 'not read', '', 1);");
  }
  ASSERT_EQ(OpenSurfDatabase(session, ctx, frontend), 1);
  ASSERT_EQ(OpenSurfRows(session, session.paramRows, kParamQuery, ctx, frontend), 1);
  SurfRowSet& rows = *session.paramRows;
  std::vector<std::tuple<std::string, std::string, int, int>> read;
  while (!rows.AtEnd()) {
    read.emplace_back(rows.Text("logdir"), rows.Text("URL"), rows.Integer("ID"),
                      rows.Integer("OnOff"));
    rows.Next();
  }
  EXPECT_FALSE(rows.failed());
  EXPECT_EQ(read, (std::vector<std::tuple<std::string, std::string, int, int>>{
                      {"", "", 2, 1},
                      {"", "u", 0, 0},
                      {std::string(kSurfTextMax, 'x'), "v", 0, -1},
                      {"d", "", 7, 0}}));

  session.paramRows.reset();
  ASSERT_EQ(OpenSurfRows(session, session.paramRows, kParamQuery, ctx, frontend), 1);
  EXPECT_EQ(session.paramRows->Integer("Mirror"), 0);
  EXPECT_TRUE(session.paramRows->AtEnd());
  LogSurfReadError(ctx, *session.paramRows);
  EXPECT_EQ(ExecLog(),
            std::string(kParamQuery) + " " + J(kReadError) + "no such column: Mirror\r\n");
  EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(SurfDatabaseTest, HandlesAreTakenOnceAndQueriesOnlyRead) {
  WriteSurfDatabase(Path("lumbra.mdb"), "");
  EXPECT_EQ(OpenSurfRows(session, session.paramRows, kParamQuery, ctx, frontend), 0);
  ASSERT_EQ(OpenSurfDatabase(session, ctx, frontend), 1);
  EXPECT_EQ(OpenSurfDatabase(session, ctx, frontend), 0);
  ASSERT_EQ(OpenSurfRows(session, session.paramRows, kParamQuery, ctx, frontend), 1);
  EXPECT_TRUE(session.paramRows->AtEnd());
  EXPECT_EQ(OpenSurfRows(session, session.paramRows, kParamQuery, ctx, frontend), 0);
  EXPECT_EQ(OpenSurfRows(session, session.siteRows, "DELETE FROM Param", ctx, frontend), 0);
  EXPECT_EQ(OpenSurfRows(session, session.siteRows, "SELECT * FROM Absent", ctx, frontend), 0);
  EXPECT_EQ(session.siteRows, nullptr);
  const std::string open = J(kAlreadyOpen) + "\r\n";
  EXPECT_EQ(ExecLog(), open + open + open + J(kRowSetError) +
                           "attempt to write a readonly database\r\n" + J(kRowSetError) +
                           "no such table: Absent\r\n");
  CloseSurfDatabase(session);
  EXPECT_EQ(session.paramRows, nullptr);
  EXPECT_EQ(session.surfDatabase, nullptr);
  CloseSurfDatabase(session);
}

}  // namespace
}  // namespace lumbra::testing
