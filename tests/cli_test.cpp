// The command line as scripts see it: exit codes, standard output and standard error.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "store/Table.h"
#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using testing::FixtureFormat;
using testing::RunLanewright;

const std::string kBar(58, '=');

std::string Costs(int length, int classPoints, int fuel) {
  return fmt::format("{}\nCosts for trip: Length: {} WPs: {} Fuel Modifer: {}\n\n", kBar, length,
                     classPoints, fuel);
}

// empire, number, code, first argument
using StoredOrder = std::tuple<std::int64_t, std::int64_t, std::string, std::string>;

std::vector<StoredOrder> Orders(const std::string& path) {
  store::StoreError err;
  auto reader = store::OpenTable(path, "Orders", err);
  EXPECT_TRUE(reader) << err.reason;
  std::vector<StoredOrder> rows;
  for (store::Row row; reader && reader->Next(row) == store::S_OK;) {
    const auto* argument = std::get_if<std::string>(&row[3]);
    rows.emplace_back(std::get<std::int64_t>(row[0]), std::get<std::int64_t>(row[2]),
                      std::get<std::string>(row[1]), argument ? *argument : "");
  }
  return rows;
}

// Two empires' files, a.db (empire 3) and b.db (empire 7); c.db with names that sort
// byte-wise; a turn entry database (SQLite) where empire 3 has order 230 and fleet 15.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteEmpireFile(
        FixtureFormat::Sqlite, a,
        {{1, 3, "Alpha", "BetaB", 12}, {2, 3, "Beta", "GammaD", 40}, {3, 3, "Gamma", "BetaA", 41}});
    testing::WriteEmpireFile(
        FixtureFormat::Sqlite, b,
        {{1, 7, "Beta", "GammaD", 40}, {2, 7, "Beta", "AlphaC", 13}, {3, 7, "Delta", "?EA", 50}});
    testing::WriteEmpireFile(FixtureFormat::Sqlite, c,
                             {{1, 3, "beta", "ZetaA", 1}, {2, 3, "\xC3\x84rger", "?QB", 2}});
    ASSERT_EQ(RunLanewright({"init-turn-db", turn}).exitCode, 0);
    sqlite3* db = nullptr;
    sqlite3_open(turn.c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO Orders (Empire, \"Order Code\", \"Order Number\") VALUES "
                           "(3, 'MOVE', 230); INSERT INTO Fleets VALUES (3, 15, 'Scouts')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }

  // Replaces the placeholders $A, $B, $C, $TURN, $MISSING and $DIR in args.
  std::vector<std::string> Expand(std::vector<std::string> args) const {
    const std::pair<std::string, std::string> values[] = {{"$A", a},
                                                          {"$B", b},
                                                          {"$C", c},
                                                          {"$TURN", turn},
                                                          {"$MISSING", missing},
                                                          {"$DIR", dir.path().string()}};
    for (auto& arg : args)
      for (const auto& [key, value] : values)
        for (auto at = arg.find(key); at != std::string::npos; at = arg.find(key, at + 1))
          arg.replace(at, key.size(), value);
    return args;
  }

  testing::TempDir dir;
  const std::string a = dir.File("a.db"), b = dir.File("b.db"), c = dir.File("c.db"),
                    turn = dir.File("turn.db"), missing = dir.File("none.db");
};

// Every command's exit code: 0 success, 1 no route, 2 a data error (one line on stderr, what
// was typed shown escaped), 64 a usage error; and what it prints. None of these runs changes
// a turn entry database (locked.mdb refuses: another program holds its lock file).
TEST_F(CliTest, ExitCodesAndOutputs) {
  struct Case {
    std::string args;  // split at spaces
    int exitCode;
    std::optional<std::string> out = {};  // not checked when missing
    std::string errHas = {};
  };
  const std::string jumps =
      "Alpha -> Beta WP: 12 (B) (3)   2\nBeta -> Gamma WP: 40 (D) (3, 7)   11\n";
  const std::string found = jumps + Costs(2, 6, 11);
  const std::string notFound = "Search terminated. Did not find goal state!\r\n\r\n";
  std::string tooMany = "route --by jumps --from Alpha --to Beta $A";
  for (int i = 0; i < 33; ++i) tooMany += i % 2 ? " --via Beta" : " --via Gamma";
  const std::string saved =
      "Data saved to file $DIR/map.dot.\nYou can generate a map with one of "
      "the following GraphViz commands:\n  dot -Tpng $DIR/map.dot -o "
      "map.png\n  neato -Tpng $DIR/map.dot -o map.png\n";
  const std::string store = "store-route --turn-db $TURN --from Alpha --to Beta ";
  // clang-format off
  const std::vector<Case> cases = {
      {"systems $C $A $A", 0, "Alpha\nBeta\nGamma\nXQ\nZeta\nbeta\n\xC3\x84rger\n"},
      {"systems $MISSING", 2, "one file selected: $MISSING\nopening dbfile $MISSING\n"
          "failed with hr=-2147467259", "no such file"},
      {"--crlf systems $A $MISSING", 2,
       "opening dbfile $A\r\nopening dbfile $MISSING\r\nfailed with hr=-2147467259"},
      {"systems", 64},
      {"systems --no-such-option $A", 64},
      {"--version", 0, std::nullopt},
      {"route --by jumps --from Alpha --to Gamma $B $A", 0,
       "Alpha -> Gamma\n\n" + found + "Gamma -> Alpha\n\nGamma -> Beta WP: 41 (A) (3)   1\n"
       "Beta -> Alpha WP: 13 (C) (7)   5\n" + Costs(2, 4, 5)},
      {"route --by fuel --from Alpha --to Gamma --via Beta --one-way --best-order $B $A", 0,
       "Alpha -> Gamma via Beta\n\n" + found},
      {"route --by jumps --from Alpha --to Alpha --via Beta --via Gamma --one-way $B $A", 0,
       "Alpha -> Alpha via Beta, Gamma\n\n" + jumps + "Gamma -> Beta WP: 41 (A) (3)   12\n"
       "Beta -> Alpha WP: 13 (C) (7)   16\n" + Costs(4, 10, 16)},
      {"--crlf route --by class --from Alpha --to Gamma --via [none] --avoid Beta --avoid Delta "
       "$B $A", 1, "Alpha -> Gamma\r\n\r\n" + notFound + "Gamma -> Alpha\r\n\r\n" + notFound},
      {"route --by jumps --from Delta --to XX $B $A", 1},
      {"route --by jumps --from alpha --to Gamma $B $A", 2, "", "\"alpha\" is not a system"},
      {"route --by jumps --from a\nb\x1b[2J --to Gamma $A", 2, "", "\"a\\nb\\x1b[2J\" is not"},
      {"route --by jumps --from XX --to Alpha $B $A", 2, ""},
      {"route --by jumps --from Alpha --to Gamma --via Omega $B $A", 2, ""},
      {"route --by jumps --from Alpha --to [none] $B $A", 2, ""},
      {"route --by jumps --from Alpha --to Beta --via [none] --via Gamma $A", 64, "", "[none]"},
      {tooMany, 64, "", "at most 32 stops"},
      {"route --from Alpha $A", 64, ""},
      {"route --to Alpha --by speed $A", 64, ""},
      {"range --from Beta --jumps 1 $B $A", 0, "Alpha (C: 13)\nGamma (D: 40)\n"},
      {"range --from Alpha --all --jumps 2 $B $A", 0, "Alpha(0)\nBeta(1)\nGamma(2)\n"},
      {"range --from Nowhere $A", 2, ""},
      {"range --from Alpha --jumps 1000 $A", 64, ""},
      {"range --from Alpha --jumps two $A", 64, ""},
      {"export-dot --from Alpha --output $DIR/map.dot $B $A", 0, saved},
      // A map to standard output has the output box's words on stderr, where they cannot spoil it.
      {"export-dot --from Alpha --output - $A", 0, "Digraph G {\r\noverlap=scale;\r\nAlpha;\r\n"
       "Alpha -> Beta;\r\nBeta -> Gamma;\r\nGamma -> Beta;\r\n}\r\n", "Data saved to file -.\n"},
      {"export-dot --from Nowhere --output $DIR/never.dot $A", 2, ""},
      {"export-dot --from Alpha --output $DIR/no/map.dot $A", 2,
       "could not open file $DIR/no/map.dot", "$DIR/no/map.dot"},
      {"export-dot --from Alpha $A", 64, ""},
      {"store-route --turn-db $TURN --from Alpha --to XE --survey 15 --start-order 10 --by fuel "
       "--empire 3 $B $A", 1, "Search terminated. Did not find goal state!\n\nNo orders were stored.\n"},
      // A start the user gives must not meet an order the empire has (230).
      {store + "--empire 3 --start-order 220 $A", 2, std::nullopt, "numbered 230"},
      {"store-route --turn-db $DIR/locked.mdb --from Alpha --to Beta --empire 3 $A", 2,
       std::nullopt, "could not store the orders"},
      {store + "--move 16 --empire 3 $A", 2, "", "not a fleet of empire 3"},
      {store + "--empire 4 $A", 2, "", "not an empire of the loaded files"},
      {"store-route --turn-db $MISSING --from Alpha --to Beta --empire 3 $A", 2, "", "no such file"},
      {store + "--move 15 --convoy x --empire 3 $A", 64, ""},
      {store + "$A", 64, ""},
      {"init-turn-db $TURN", 2, "", "already exists"},
  };
  // clang-format on
  const std::string locked = dir.File("locked.mdb");
  ASSERT_EQ(RunLanewright({"init-turn-db", locked}).exitCode, 0);
  testing::WriteFile(dir.File("locked.ldb"), "");
  const std::string before = testing::ReadFile(turn) + testing::ReadFile(locked);
  for (const auto& c : cases) {
    std::vector<std::string> args;
    std::istringstream words(c.args);
    for (std::string word; std::getline(words, word, ' ');) args.push_back(Expand({word}).front());
    SCOPED_TRACE(c.args.substr(0, 100));
    const auto r = RunLanewright(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (c.out) {
      EXPECT_EQ(r.out, Expand({*c.out}).front());
    }
    EXPECT_NE(r.err.find(Expand({c.errHas}).front()), std::string::npos) << r.err;
    if (c.exitCode == 2) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else if (c.exitCode != 64 && c.errHas.empty()) {
      EXPECT_EQ(r.err, "");
    }
  }
  EXPECT_EQ(testing::ReadFile(turn) + testing::ReadFile(locked), before);
  EXPECT_FALSE(std::filesystem::exists(dir.File("never.dot")));
}

// The orders of every leg of a trip through several stops are numbered on and stored in one
// go, into SQLite and both Jet generations.
TEST_F(CliTest, StoreRouteThroughStopsIntoEveryKindOfTurnEntryDatabase) {
  const std::string want =
      "3, CNVR, 10, Run\n3, MOVE, 20, 1234, Alpha, 12\n3, WARP, 30, 1234\n"
      "3, MOVE, 40, 1234, Beta, 40\n3, WARP, 50, 1234\n3, MOVE, 60, 1234, Gamma, 41\n"
      "3, WARP, 70, 1234\n3, MOVE, 80, 1234, Beta, 13\n3, WARP, 90, 1234\n3, CNVR, 100, Run\n";
  for (const std::string format : {"sqlite", "jet3", "jet4"}) {
    SCOPED_TRACE(format);
    const auto turnDb = dir.File(format + (format == "sqlite" ? ".db" : ".mdb"));
    ASSERT_EQ(RunLanewright({"init-turn-db", turnDb, "--format", format}).exitCode, 0);
    const auto r = RunLanewright({"store-route", "--from", "Alpha", "--to", "Alpha", "--via",
                                  "Beta", "--via", "Gamma", "--via", "Beta", "--empire", "3",
                                  "--convoy", "Run", "--turn-db", turnDb, a, b});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, want);
    const auto stored = Orders(turnDb);
    ASSERT_EQ(stored.size(), 10u);
    EXPECT_EQ(stored.back(), (StoredOrder{3, 100, "CNVR", "Run"}));
  }
}

// Runs at the same moment into one file: each either stores all its orders or is refused
// with a clear message, and no number is handed out twice.
TEST_F(CliTest, SimultaneousStoreRoutesNeverShareANumber) {
  const std::string jet = dir.File("turn.mdb");
  ASSERT_EQ(RunLanewright({"init-turn-db", jet}).exitCode, 0);
  for (const std::string& turnDb : {turn, jet}) {
    SCOPED_TRACE(turnDb);
    std::vector<std::vector<std::string>> runs(
        8, {"store-route", "--from", "Alpha", "--to", "Gamma", "--empire", "3", "--turn-db", turnDb,
            a, b});
    int stored = 0;
    for (const auto& r : testing::RunLanewrightAtOnce(runs)) {
      stored += r.exitCode == 0;
      const bool refused =
          r.exitCode == 2 && r.err.find("could not store the orders") != std::string::npos;
      EXPECT_TRUE(r.exitCode == 0 || refused) << r.exitCode << r.err;
    }
    EXPECT_GE(stored, 1);
    // Every order is empire 3's: the SQLite file starts with one.
    std::set<std::int64_t> numbers;
    for (const auto& order : Orders(turnDb)) numbers.insert(std::get<1>(order));
    EXPECT_EQ(numbers.size(), (turnDb == turn ? 1 : 0) + 6 * static_cast<std::size_t>(stored));
  }
}

// A convoy name is shown whole; the run says on stderr that the database keeps only 50
// characters of it (for a long default "A -> B" name too).
TEST_F(CliTest, LongConvoyNamesAreShownWholeAndTheUserIsTold) {
  const std::string name(60, 'n');
  const auto r = RunLanewright({"store-route", "--from", "Alpha", "--to", "Beta", "--empire", "3",
                                "--convoy", name, "--turn-db", turn, a});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("3, CNVR, 240, " + name + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("keeps only the first 50"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lanewright
