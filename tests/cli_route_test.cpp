#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using testing::RunLanewright;

class CliRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, a,
                             {{1, 3, "Alpha", "BetaB", 12}, {2, 3, "Beta", "GammaD", 40},
                              {3, 3, "Gamma", "BetaA", 41}});
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, b,
                             {{1, 7, "Beta", "GammaD", 40}, {2, 7, "Beta", "AlphaC", 13},
                              {3, 7, "Delta", "?EA", 50}});
  }
  testing::TempDir dir;
  const std::string a = dir.File("a.db");
  const std::string b = dir.File("b.db");
};

TEST_F(CliRouteTest, PrintsTheReportBothWays) {
  const auto r = RunLanewright({"route", "--by", "jumps", "--from", "Alpha", "--to", "Gamma", b, a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Alpha -> Gamma\n\nAlpha -> Beta WP: 12 (B) (3)   2\nBeta -> Gamma WP: 40 (D) (3, 7)   11\n" +
                std::string(58, '=') +
                "\nCosts for trip: Length: 2 WPs: 6 Fuel Modifer: 11\n\n"
                "Gamma -> Alpha\n\nGamma -> Beta WP: 41 (A) (3)   1\nBeta -> Alpha WP: 13 (C) (7)   5\n" +
                std::string(58, '=') + "\nCosts for trip: Length: 2 WPs: 4 Fuel Modifer: 5\n\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(CliRouteTest, OneWayViaAvoidAndCrlf) {
  auto r = RunLanewright({"route", "--crlf", "--by", "fuel", "--from", "Alpha", "--to", "Gamma",
                          "--via", "Beta", "--one-way", a, b});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 28), "Alpha -> Gamma via Beta\r\n\r\nA");
  EXPECT_EQ(r.out.find("Gamma -> Alpha"), std::string::npos);

  r = RunLanewright({"route", "--by", "class", "--from", "Alpha", "--to", "Gamma", "--avoid",
                     "Beta", "--avoid", "Delta", "--via", "[none]", a, b});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out,
            "Alpha -> Gamma\n\nSearch terminated. Did not find goal state!\n\n"
            "Gamma -> Alpha\n\nSearch terminated. Did not find goal state!\n\n");
}

TEST_F(CliRouteTest, ExitCodes) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    bool quiet;  // nothing on stdout
  };
  const std::vector<Case> cases = {
      {{"--from", "Delta", "--to", "XX", "--one-way"}, 0, false},
      {{"--from", "Delta", "--to", "XX"}, 1, false},  // nothing leaves "XX"
      {{"--from", "Alpha", "--to", "XE"}, 1, false},
      {{"--from", "Alpha", "--to", "XX", "--one-way"}, 1, false},
      {{"--from", "alpha", "--to", "Gamma"}, 2, true},
      {{"--from", "Alpha", "--to", "Nowhere"}, 2, true},
      {{"--from", "XX", "--to", "Alpha"}, 2, true},
      {{"--from", "Alpha", "--to", "Gamma", "--via", "Omega"}, 2, true},
      {{"--from", "Alpha", "--to", "[none]"}, 2, true},
      {{"--from", "Alpha"}, 64, true},
      {{"--to", "Alpha", "--by", "speed"}, 64, true},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"route"};
    if (std::find(c.args.begin(), c.args.end(), "--by") == c.args.end())
      args.insert(args.end(), {"--by", "jumps"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {a, b});
    const auto r = RunLanewright(args);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (c.quiet) {
      EXPECT_EQ(r.out, "");
    }
    if (c.exitCode == 2) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
}

TEST_F(CliRouteTest, MissingFileIsADataError) {
  const auto missing = dir.File("none.db");
  const auto r = RunLanewright({"route", "--by", "jumps", "--from", "Alpha", "--to", "Beta", missing});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "one file selected: " + missing + "\nopening dbfile " + missing +
                       "\nfailed with hr=-2147467259");
}

}  // namespace
}  // namespace lanewright
