#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

TEST(CliRouteTest, OutputAndExitCodes) {
  testing::TempDir dir;
  const std::string a = dir.File("a.db"), b = dir.File("b.db"), missing = dir.File("none.db");
  testing::WriteEmpireFile(
      testing::FixtureFormat::Sqlite, a,
      {{1, 3, "Alpha", "BetaB", 12}, {2, 3, "Beta", "GammaD", 40}, {3, 3, "Gamma", "BetaA", 41}});
  testing::WriteEmpireFile(
      testing::FixtureFormat::Sqlite, b,
      {{1, 7, "Beta", "GammaD", 40}, {2, 7, "Beta", "AlphaC", 13}, {3, 7, "Delta", "?EA", 50}});
  const std::string bar(58, '='), notFound = "Search terminated. Did not find goal state!\r\n\r\n";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::optional<std::string> out = {};  // not checked when missing
    std::vector<std::string> files = {};  // both files when empty
  };
  const std::string there =
      "Alpha -> Beta WP: 12 (B) (3)   2\nBeta -> Gamma WP: 40 (D) (3, 7)   11\n" + bar +
      "\nCosts for trip: Length: 2 WPs: 6 Fuel Modifer: 11\n\n";
  const std::vector<Case> cases = {
      {{"--from", "Alpha", "--to", "Gamma"},
       0,
       "Alpha -> Gamma\n\n" + there + "Gamma -> Alpha\n\nGamma -> Beta WP: 41 (A) (3)   1\n" +
           "Beta -> Alpha WP: 13 (C) (7)   5\n" + bar +
           "\nCosts for trip: Length: 2 WPs: 4 Fuel Modifer: 5\n\n"},
      {{"--by", "fuel", "--from", "Alpha", "--to", "Gamma", "--via", "Beta", "--one-way"},
       0,
       "Alpha -> Gamma via Beta\n\n" + there},
      {{"--crlf", "--by", "class", "--from", "Alpha", "--to", "Gamma", "--via", "[none]", "--avoid",
        "Beta", "--avoid", "Delta"},
       1,
       "Alpha -> Gamma\r\n\r\n" + notFound + "Gamma -> Alpha\r\n\r\n" + notFound},
      {{"--from", "Delta", "--to", "XX", "--one-way"}, 0},
      {{"--from", "Delta", "--to", "XX"}, 1},  // nothing leaves "XX"
      {{"--from", "Alpha", "--to", "XE"}, 1},
      {{"--from", "Alpha", "--to", "XX", "--one-way"}, 1},
      {{"--from", "alpha", "--to", "Gamma"}, 2, ""},
      {{"--from", "Alpha", "--to", "Nowhere"}, 2, ""},
      {{"--from", "XX", "--to", "Alpha"}, 2, ""},
      {{"--from", "Alpha", "--to", "Gamma", "--via", "Omega"}, 2, ""},
      {{"--from", "Alpha", "--to", "[none]"}, 2, ""},
      {{"--from", "Alpha", "--to", "Beta"},
       2,
       "one file selected: " + missing + "\nopening dbfile " + missing +
           "\nfailed with hr=-2147467259",
       {missing}},
      {{"--from", "Alpha"}, 64, ""},
      {{"--to", "Alpha", "--by", "speed"}, 64, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"route"};
    if (std::find(c.args.begin(), c.args.end(), "--by") == c.args.end())
      args.insert(args.end(), {"--by", "jumps"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto& files = c.files.empty() ? std::vector<std::string>{b, a} : c.files;
    args.insert(args.end(), files.begin(), files.end());
    SCOPED_TRACE(::testing::PrintToString(args));
    const auto r = testing::RunLanewright(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.out, c.out.value_or(r.out));
    if (c.exitCode == 2) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else {
      EXPECT_EQ(r.err.empty(), c.exitCode != 64) << r.err;
    }
  }
}

}  // namespace
}  // namespace lanewright
