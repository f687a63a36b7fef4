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

}  // namespace
}  // namespace lanewright
