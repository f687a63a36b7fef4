#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using testing::RunLanewright;

TEST(CliTest, SystemsListsNamesByteWiseAcrossFiles) {
  testing::TempDir dir;
  const auto a = dir.File("a.db");
  const auto b = dir.File("b.db");
  testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, a,
                           {{1, 3, "beta", "AlphaA", 1}, {2, 3, "Zeta", "?CC", 2}});
  testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, b, {{1, 7, "Ärger", "betaB", 3}});
  const auto r = RunLanewright({"systems", b, a, a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Alpha\nXC\nZeta\nbeta\nÄrger\n");
  EXPECT_EQ(r.err, "");
}

TEST(CliTest, LoadFailurePrintsTheLoadTextAndExitsWithTwo) {
  testing::TempDir dir;
  const auto good = dir.File("a.db");
  testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, good, {{1, 3, "A", "BA", 1}});
  const auto missing = dir.File("b.db");

  auto r = RunLanewright({"systems", missing});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "one file selected: " + missing + "\nopening dbfile " + missing +
                       "\nfailed with hr=-2147467259");
  EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;

  r = RunLanewright({"--crlf", "systems", good, missing});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "opening dbfile " + good + "\r\nopening dbfile " + missing +
                       "\r\nfailed with hr=-2147467259");
}

TEST(CliTest, UsageErrorsAndInformation) {
  EXPECT_EQ(RunLanewright({"systems"}).exitCode, 64);
  EXPECT_EQ(RunLanewright({"systems", "--no-such-option", "x.db"}).exitCode, 64);
  const auto version = RunLanewright({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find("Lanewright"), std::string::npos);
  const auto help = RunLanewright({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("systems"), std::string::npos);
}

// A Jet turn entry database made by init-turn-db takes the orders of store-route, and both
// outside readers of Jet files see every new row.
TEST(CliTest, StoreRouteIntoNewJetTurnEntryDatabases) {
  testing::TempDir dir;
  const auto galaxy = dir.File("galaxy.mdb");
  testing::WriteEmpireFile(testing::FixtureFormat::Jet4, galaxy,
                           {{1, 3, "Sol", "VegaB", 17}, {2, 3, "Vega", "DenebC", 18}});
  for (const std::string format : {"jet3", "jet4"}) {
    SCOPED_TRACE(format);
    const auto turnDb = dir.File(format + ".mdb");
    auto r = RunLanewright({"init-turn-db", turnDb, "--format", format});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(RunLanewright({"init-turn-db", turnDb}).exitCode, 2);  // never overwritten

    r = RunLanewright({"store-route", "--from", "Sol", "--to", "Deneb", "--empire", "3", "--convoy",
                       "Run", "--turn-db", turnDb, galaxy});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "3, CNVR, 10, Run\n3, MOVE, 20, 1234, Sol, 17\n3, WARP, 30, 1234\n"
              "3, MOVE, 40, 1234, Vega, 18\n3, WARP, 50, 1234\n3, CNVR, 60, Run\n");

    const auto mdbtools = testing::RunProgram("mdb-export", {turnDb, "Orders"});
    ASSERT_EQ(mdbtools.exitCode, 0) << mdbtools.err;
    const auto node = testing::RunProgram(
        "node", {LANEWRIGHT_SOURCE_DIR "/tools/mdb-reader/dump.mjs", turnDb, "Orders"});
    ASSERT_EQ(node.exitCode, 0) << node.err << " (run scripts/bootstrap)";
    for (const std::string row :
         {"3,\"CNVR\",10,\"Run\",\" \",\" \",\" \"", "3,\"MOVE\",40,\"1234\",\"Vega\",\"18\",\" \"",
          "3,\"CNVR\",60,\"Run\",\" \""}) {
      EXPECT_NE(mdbtools.out.find(row), std::string::npos) << row << "\n" << mdbtools.out;
      EXPECT_NE(node.out.find(row), std::string::npos) << row << "\n" << node.out;
    }
  }
}

}  // namespace
}  // namespace lanewright
