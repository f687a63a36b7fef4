#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "orders/ConvoySink.h"
#include "orders/StoreRoute.h"
#include "orders/TurnEntryDatabase.h"
#include "starmap/LoadEmpireDatabase.h"
#include "store/JetWriter.h"
#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using store::Cell;
using store::Row;
using store::StoreError;
using testing::TempDir;
using Ints = std::vector<std::int32_t>;

std::vector<testing::FixtureColumn> OrderColumns(std::size_t count = kOrderColumns) {
  std::vector<testing::FixtureColumn> c = {
      {"Empire", "INTEGER"}, {"Code", "TEXT"}, {"Number", "INTEGER"}};
  while (c.size() < count) c.push_back({"Arg" + std::to_string(c.size() - 2), "TEXT"});
  c.resize(count);
  return c;
}

// A full "Orders" row: empire, code, number, fleet "12" and blanks.
Row Order(Cell empire, Cell code, Cell number) {
  Row row(kOrderColumns, Cell{std::string(" ")});
  row[0] = std::move(empire), row[1] = std::move(code), row[2] = std::move(number);
  row[3] = std::string("12");
  return row;
}

Row Fleet(Cell empire, Cell number) { return {std::move(empire), std::move(number), "x"}; }

void WriteFleets(const std::string& path, const std::vector<Row>& rows) {
  testing::WriteTable(testing::FixtureFormat::Sqlite, path, "Fleets",
                      {{"Empire", "INTEGER"}, {"Fleet", "INTEGER"}, {"Name", "TEXT"}}, rows);
}

std::string TurnDb(const TempDir& dir, const std::vector<Row>& orders,
                   const std::vector<Row>& fleets = {}) {
  const std::string path = dir.File("turn.db");
  testing::WriteTable(testing::FixtureFormat::Sqlite, path, "Orders", OrderColumns(), orders);
  WriteFleets(path, fleets);
  return path;
}

std::vector<Row> ReadRows(const std::string& path, const std::string& table) {
  StoreError err;
  auto reader = store::OpenTable(path, table, err);
  EXPECT_TRUE(reader) << err.reason;
  std::vector<Row> rows;
  for (Row row; reader && reader->Next(row) == store::S_OK;) rows.push_back(row);
  return rows;
}

// Runs sql on a connection of its own, which keeps whatever lock sql took while it lives.
std::unique_ptr<sqlite3, int (*)(sqlite3*)> Connect(const std::string& path,
                                                    const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  return {db, sqlite3_close};
}

std::vector<OrderRow> SomeOrders(int count) {
  std::vector<OrderRow> rows;
  for (int i = 0; i < count; ++i) rows.push_back({7, "MOVE", 500 + 10 * i, "12", "Alpha", "17"});
  return rows;
}

std::string Codes(const std::vector<OrderRow>& rows) {
  std::string s;
  for (const auto& r : rows)
    s += (s.empty() ? "" : " ") + r.orderCode + std::to_string(r.orderNumber);
  return s;
}

TEST(TurnEntryDatabaseTest, HighestOrderNumberCountsOnlyTheEmpiresPositiveNumbers) {
  const std::pair<std::vector<Row>, std::int32_t> cases[] = {
      {{}, 0},
      {{Order(4, "MOVE", 50)}, 0},
      {{Order(3, "MOVE", 0), Order(3, "WARP", -20)}, 0},
      {{Order(3, "MOVE", 230), Order(4, "MOVE", 900)}, 230},
      {{Order(3, "A", 40), Order(3, "B", 230), Order(3, "C", 100)}, 230},
      {{Order(3, "A", 2147483647)}, 2147483647},
  };
  for (const auto& [orders, expected] : cases) {
    TempDir dir;
    TurnEntryDatabase db(TurnDb(dir, orders));
    StoreError err;
    EXPECT_EQ(db.HighestOrderNumber(3, err), expected) << orders.size();
    EXPECT_FALSE(err.Failed()) << err.reason;
  }
}

TEST(TurnEntryDatabaseTest, UnreadableRowsAreSkippedAndLaterRowsStillCount) {
  TempDir dir;
  TurnEntryDatabase db(
      TurnDb(dir,
             {Order(3, "MOVE", 100), Order(3, std::monostate{}, 900),
              Order(3, std::string(51, 'x'), 800), Order(3, "MOVE", "n/a"), Order(3, "MOVE", 7.5),
              Order(3, "MOVE", 5000000000), Order(3, "WARP", 150)},
             {Fleet(3, 12), Fleet(4, 7), Fleet(3, std::monostate{}), Fleet(3, 5), Fleet(3, 12)}));
  StoreError err;
  EXPECT_EQ(db.HighestOrderNumber(3, err), 150);
  EXPECT_EQ(db.LastSkippedRows(), 5);
  EXPECT_EQ(db.ListFleets(3, err), (Ints{12, 5, 12}));  // table order, repeats kept
  EXPECT_EQ(db.LastSkippedRows(), 1);
  EXPECT_EQ(db.ListFleets(4, err), (Ints{7}));
  EXPECT_EQ(db.ListFleets(5, err), (Ints{}));
  EXPECT_FALSE(err.Failed()) << err.reason;
}

TEST(TurnEntryDatabaseTest, BadFilesFailCleanlyAndAreNeverWritten) {
  const auto orders = [](std::size_t columns, const char* numberType) {
    return [=](const std::string& p) {
      auto cols = OrderColumns(columns);
      cols[2].type = numberType;
      testing::WriteTable(testing::FixtureFormat::Sqlite, p, "Orders", cols, {});
      WriteFleets(p, {});
    };
  };
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;  // null: no file
    store::HResult code;
    const char* reasonPart;
  } const cases[] = {
      {"missing", nullptr, store::E_FAIL, "no such file"},
      {"folder", [](const std::string& p) { std::filesystem::create_directory(p); }, store::E_FAIL,
       "folder"},
      {"text", [](const std::string& p) { testing::WriteFile(p, "3;MOVE;10\n"); }, store::E_FAIL,
       "not a Jet"},
      {"empty", [](const std::string& p) { testing::WriteFile(p, ""); }, store::E_FAIL,
       "not a Jet"},
      {"no Orders", [](const std::string& p) { WriteFleets(p, {}); }, store::DB_E_NOTABLE,
       "Orders"},
      {"53 columns", orders(53, "INTEGER"), store::DB_E_BADORDINAL, "53 columns"},
      {"binary column", orders(54, "BLOB"), store::DB_E_UNSUPPORTEDCONVERSION, "binary"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.File("turn.db");
    if (c.make) c.make(path);
    const bool existed = std::filesystem::exists(path);
    const std::string before = existed ? testing::ReadFile(path) : "";
    TurnEntryDatabase db(path);
    StoreError read, check, insert;
    EXPECT_EQ(db.HighestOrderNumber(3, read), 0);
    EXPECT_EQ(read.code, c.code) << read.reason;
    EXPECT_FALSE(db.Check(check));
    EXPECT_FALSE(db.InsertOrders(SomeOrders(2), insert));
    EXPECT_EQ(insert.code, c.code) << insert.reason;
    EXPECT_NE(insert.reason.find(c.reasonPart), std::string::npos) << insert.reason;
    EXPECT_EQ(std::filesystem::exists(path), existed);
    EXPECT_EQ(existed ? testing::ReadFile(path) : "", before);
  }
}

TEST(TurnEntryDatabaseTest, InsertWritesEveryColumnByPositionAndCutsLongTexts) {
  TempDir dir;
  const std::string path = dir.File("turn.db");
  // One column more than bound, and a name in another case: still found, still by position.
  testing::WriteTable(testing::FixtureFormat::Sqlite, path, "orders", OrderColumns(55),
                      {Order(5, "MOVE", 30)});
  const std::string umlauts = std::string(49, 'u') + "\xC3\xA4\xC3\xB6";  // 51 characters
  TurnEntryDatabase db(path);
  StoreError err;
  ASSERT_TRUE(db.InsertOrders(
      {{5, "MOVE", 30, "12", "Alpha", "17"}, {-1, "SURV", -40, std::string(60, 'n'), "", umlauts}},
      err))
      << err.reason;
  const auto rows = ReadRows(path, "Orders");
  ASSERT_EQ(rows.size(), 3u);  // a duplicate (empire, number) is the table's business
  Row expected = Order(5, "MOVE", 30);
  expected[4] = std::string("Alpha"), expected[5] = std::string("17");
  expected.push_back(std::monostate{});
  EXPECT_EQ(rows[1], expected);
  expected = Order(-1, "SURV", -40);
  expected[3] = std::string(50, 'n'), expected[4] = std::string(),
  expected[5] = umlauts.substr(0, 51);
  expected.push_back(std::monostate{});
  EXPECT_EQ(rows[2], expected);
}

TEST(TurnEntryDatabaseTest, AStoreThatFailsHalfWayLeavesTheTableAsItWas) {
  for (int failAt : {1, 3, 5}) {
    TempDir dir;
    const std::string path = TurnDb(dir, {Order(7, "MOVE", 10), Order(7, "WARP", 20)});
    Connect(path,
            "CREATE TRIGGER full BEFORE INSERT ON Orders WHEN (SELECT count(*) FROM Orders) >= " +
                std::to_string(1 + failAt) +
                " BEGIN SELECT RAISE(ABORT, 'the table is full'); END");
    const auto before = ReadRows(path, "Orders");
    StoreError err;
    EXPECT_FALSE(TurnEntryDatabase(path).InsertOrders(SomeOrders(5), err));
    EXPECT_NE(err.reason.find("the table is full"), std::string::npos) << err.reason;
    EXPECT_EQ(ReadRows(path, "Orders"), before) << failAt;
  }
}

TEST(TurnEntryDatabaseTest, ALockedFileMakesCallsWaitThenFailWithoutWriting) {
  TempDir dir;
  const std::string path = TurnDb(dir, {Order(7, "MOVE", 10)});
  TurnEntryDatabase db(path);
  StoreError err;
  {
    auto writer = Connect(path,
                          "BEGIN IMMEDIATE; INSERT INTO Orders SELECT * FROM Orders; "
                          "UPDATE Orders SET Number = 20 WHERE rowid = 2");
    EXPECT_FALSE(db.InsertOrders(SomeOrders(3), err));
    EXPECT_NE(err.reason.find("locked; another program"), std::string::npos) << err.reason;
    sqlite3_exec(writer.get(), "COMMIT", nullptr, nullptr, nullptr);
  }
  {
    auto holder = Connect(path, "BEGIN EXCLUSIVE");
    err = {};
    EXPECT_EQ(db.HighestOrderNumber(7, err), 0);
    EXPECT_EQ(err.code, store::E_FAIL);
  }
  err = {};
  EXPECT_EQ(db.HighestOrderNumber(7, err), 20);  // only the other program's row arrived
  EXPECT_EQ(ReadRows(path, "Orders").size(), 2u);
}

TEST(TurnEntryDatabaseTest, JetFilesAreReadAndWritten) {
  TempDir dir;
  const std::string path = dir.File("turn.mdb");
  using store::JetColumnType;
  store::JetTableSpec orders{"Orders",
                             {{"Empire"}, {"Code", JetColumnType::Text, 50}, {"Number"}},
                             {Order(3, "MOVE", 230)}};
  // One column more than bound, as in the SQLite case.
  for (int i = 1; i <= 52; ++i)
    orders.columns.push_back({"Arg" + std::to_string(i), JetColumnType::Text, 50});
  orders.rows[0].push_back(std::monostate{});
  const store::JetTableSpec fleets{
      "Fleets", {{"Empire"}, {"Fleet"}, {"Name", JetColumnType::Text, 50}}, {Fleet(3, 15)}};
  ASSERT_FALSE(store::CreateJetDatabase(path, store::JetVersion::Jet4, {orders, fleets}).Failed());
  TurnEntryDatabase db(path);
  StoreError err;
  EXPECT_TRUE(db.Check(err)) << err.reason;
  EXPECT_EQ(db.HighestOrderNumber(3, err), 230);
  EXPECT_EQ(db.ListFleets(3, err), (Ints{15}));
  ASSERT_TRUE(db.InsertOrders(
      {{3, "MOVE", 240, "15", "Sol", "1001"}, {3, "WARP", 250, "15", " ", " "}}, err))
      << err.reason;
  EXPECT_EQ(db.HighestOrderNumber(3, err), 250);
  const auto rows = ReadRows(path, "Orders");
  ASSERT_EQ(rows.size(), 3u);
  Row expected = Order(3, "MOVE", 240);
  expected[3] = std::string("15"), expected[4] = std::string("Sol"),
  expected[5] = std::string("1001");
  expected.push_back(std::monostate{});
  EXPECT_EQ(rows[1], expected);
}

// One ConvoySink run over the given jumps (start system, warp point id, empires knowing it).
struct Jump {
  std::string system;
  std::int32_t id;
  std::set<std::int32_t> empires;
};
std::pair<std::string, std::vector<OrderRow>> RunSink(std::int32_t start, bool survey,
                                                      bool backSurvey,
                                                      const std::vector<Jump>& jumps,
                                                      const SystemEmpireSet& systemEmpire = {}) {
  StringOutputBox box;
  box.SetText("old text");
  ConvoySink sink(box, 7, start, "12", survey, backSurvey);
  sink.Clear();
  for (const auto& j : jumps)
    sink.WarpStep(j.system, "Elsewhere", j.id, 'C', j.empires, 99, systemEmpire);
  return {box.Text(), sink.Orders()};
}

TEST(ConvoySinkTest, SurveyOrdersFollowTheLoadedDataOfTheStartSystem) {
  struct Case {
    bool survey, backSurvey, systemKnown, warpPointKnown;
    const char* codes;
  } const cases[] = {
      {true, false, true, true, "MOVE10 WARP20"},
      {true, true, true, true, "MOVE10 WARP20"},
      {true, false, true, false, "MOVE10 SURV20 WARP30"},
      {true, true, true, false, "MOVE10 SURV20 WARP30 SURV40"},
      {true, false, false, true, "SS10 MOVE20 WARP30"},
      {false, true, false, false, "MOVE10 WARP20"},  // back-SURV without survey means nothing
  };
  for (const auto& c : cases) {
    // The destination's and other empires' pairs must not count for "SS".
    SystemEmpireSet known = {{"Elsewhere", 7}, {"Alpha", 3}};
    if (c.systemKnown) known.insert({"Alpha", 7});
    const std::set<std::int32_t> empires =
        c.warpPointKnown ? std::set<std::int32_t>{3, 7} : std::set<std::int32_t>{3};
    EXPECT_EQ(Codes(RunSink(10, c.survey, c.backSurvey, {{"Alpha", 4, empires}}, known).second),
              c.codes);
  }
  const auto [text, rows] =
      RunSink(10, false, false, {{"A", 1, {7}}, {"B", -5, {7}}, {"C", 3, {7}}});
  EXPECT_EQ(Codes(rows), "MOVE10 WARP20 MOVE30 WARP40 MOVE50 WARP60");
  EXPECT_EQ(rows[2].argument3, "-5");
  EXPECT_NE(text.find("7, MOVE, 30, 12, B, -5\r\n"), std::string::npos);
}

TEST(ConvoySinkTest, ConvoyLinesFrameTheFailureAndNumbersPastTheColumnAreFlagged) {
  StringOutputBox box;
  box.SetText("previous output");
  ConvoySink sink(box, 3, 2147483630, "1234", false, false);
  sink.Clear();
  sink.WriteConvoyOrder("Sol -> Vega");
  sink.Clear();  // the search's own Clear must not wipe the first line
  sink.AppendText("Sol -> Vega\r\n\r\n");
  sink.ReportFailure("Search terminated. Did not find goal state!\r\n\r\n");
  sink.SystemStep("Vega");
  sink.WriteConvoyOrder("Sol -> Vega");
  EXPECT_FALSE(sink.NumberingOverflowed());
  EXPECT_EQ(
      box.Text(),
      "3, CNVR, 2147483630, Sol -> Vega\r\nSearch terminated. Did not find goal state!\r\n\r\n"
      "Vega\r\n3, CNVR, 2147483640, Sol -> Vega\r\n");
  sink.WriteConvoyOrder("x");
  EXPECT_TRUE(sink.NumberingOverflowed());
  EXPECT_TRUE(box.Text().ends_with("3, CNVR, 2147483650, x\r\n"));
}

// Records what would be stored; fails when told to.
class FakeStore final : public TurnEntryStore {
 public:
  std::int32_t HighestOrderNumber(std::int32_t, StoreError&) override { return 0; }
  Ints ListFleets(std::int32_t, StoreError&) override { return {}; }
  bool Check(StoreError&) override { return true; }
  bool InsertOrders(const std::vector<OrderRow>& rows, StoreError& err) override {
    ++calls;
    if (failWith.empty())
      stored = rows;
    else
      err = {store::E_FAIL, failWith};
    return failWith.empty();
  }
  int calls = 0;
  std::string failWith;
  std::vector<OrderRow> stored;
};

class StoreRouteTest : public ::testing::Test {
 protected:
  void Load(const std::vector<testing::EmpireRow>& rows) {
    const std::string path = dir_.File("empire.db");
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, path, rows);
    starMap_.databaseFiles = {path};
    StringOutputBox loadText;
    ASSERT_TRUE(ReadEmpireFiles(starMap_, loadText).ok) << loadText.Text();
  }
  static ConvoyValues Values(bool convoy, bool survey, bool back, std::int32_t empire,
                             std::int32_t start) {
    ConvoyValues v;
    v.convoy = convoy, v.survey = survey, v.backSurvey = back, v.empire = empire,
    v.startOrder = start;
    v.fleet = convoy ? "1234" : "12";
    v.name = "Alpha -> Beta";
    return v;
  }
  TempDir dir_;
  StarMap starMap_;
  StringOutputBox output_;
};

TEST_F(StoreRouteTest, WorkedExampleIsStoredRowForRowAndLineForLine) {
  Load({{1, 3, "Alpha", "BetaA", 17}, {2, 7, "Gamma", "DeltaB", 30}});
  const std::string path = TurnDb(dir_, {Order(7, "MOVE", 90)});
  TurnEntryDatabase db(path);
  const auto result = StoreRoute(starMap_, "Alpha", "Beta", "[none]",
                                 Values(false, true, true, 7, 100), db, output_);
  EXPECT_TRUE(result.stored);
  EXPECT_EQ(result.ordersStored, 5);
  EXPECT_EQ(output_.Text(),
            "7, SS, 100, 12\r\n7, MOVE, 110, 12, Alpha, 17\r\n7, SURV, 120, 12\r\n"
            "7, WARP, 130, 12\r\n7, SURV, 140, 12\r\n");
  const auto rows = ReadRows(path, "Orders");
  ASSERT_EQ(rows.size(), 6u);
  const char* codes[] = {"SS", "MOVE", "SURV", "WARP", "SURV"};
  for (int i = 0; i < 5; ++i) {
    Row expected = Order(7, codes[i], 100 + 10 * i);
    if (i == 1) expected[4] = std::string("Alpha"), expected[5] = std::string("17");
    EXPECT_EQ(rows[i + 1], expected) << i;
  }

  FakeStore store;
  StoreRoute(starMap_, "Alpha", "Beta", "[none]", Values(false, false, false, 7, 100), store,
             output_);
  EXPECT_EQ(output_.Text(), "7, MOVE, 100, 12, Alpha, 17\r\n7, WARP, 110, 12\r\n");
  EXPECT_EQ(store.stored, (std::vector<OrderRow>{{7, "MOVE", 100, "12", "Alpha", "17"},
                                                 {7, "WARP", 110, "12", " ", " "}}));
}

TEST_F(StoreRouteTest, AVisitedSystemDoesNotBreakTheNumbering) {
  Load({{1, 7, "A", "BB", 1}, {2, 7, "B", "CB", 2}, {3, 7, "A", "CQ", 3}});
  FakeStore store;
  EXPECT_TRUE(
      StoreRoute(starMap_, "A", "C", "B", Values(false, false, false, 7, 10), store, output_)
          .stored);
  EXPECT_EQ(
      output_.Text(),
      "7, MOVE, 10, 12, A, 1\r\n7, WARP, 20, 12\r\n7, MOVE, 30, 12, B, 2\r\n7, WARP, 40, 12\r\n");
  EXPECT_EQ(Codes(store.stored), "MOVE10 WARP20 MOVE30 WARP40");
}

TEST_F(StoreRouteTest, FailedRunsStoreNothing) {
  Load({{1, 3, "Alpha", "BetaA", 17}, {2, 3, "Gamma", "AlphaA", 18}});
  FakeStore store;
  auto result = StoreRoute(starMap_, "Alpha", "Gamma", "[none]", Values(true, false, false, 7, 100),
                           store, output_);
  EXPECT_FALSE(result.stored);
  EXPECT_EQ(output_.Text(),
            "7, CNVR, 100, Alpha -> Beta\r\nSearch terminated. Did not find goal state!\r\n\r\n"
            "7, CNVR, 110, Alpha -> Beta\r\nNo orders were stored.\r\n");
  // Empire data that cannot be opened: that failure text has no line break of its own.
  starMap_.databaseFiles.insert(dir_.File("gone.db"));
  result = StoreRoute(starMap_, "Alpha", "Beta", "[none]", Values(false, false, false, 7, 100),
                      store, output_);
  EXPECT_TRUE(result.route.error.Failed());
  EXPECT_EQ(output_.Text(), "failed with hr=-2147467259\r\nNo orders were stored.\r\n");
  EXPECT_EQ(store.calls, 0);
}

TEST_F(StoreRouteTest, AStoreThatCannotBeWrittenIsReportedAtTheEnd) {
  Load({{1, 3, "Alpha", "BetaA", 17}});
  FakeStore store;
  store.failWith = "turn.db: database is locked";
  const auto result = StoreRoute(starMap_, "Alpha", "Beta", "[none]",
                                 Values(true, false, false, 3, 10), store, output_);
  EXPECT_FALSE(result.stored);
  EXPECT_EQ(result.storeError.reason, store.failWith);
  EXPECT_EQ(
      output_.Text(),
      "3, CNVR, 10, Alpha -> Beta\r\n3, MOVE, 20, 1234, Alpha, 17\r\n3, WARP, 30, 1234\r\n"
      "3, CNVR, 40, Alpha -> Beta\r\nCould not store the orders: turn.db: database is locked\r\n");
  store.failWith.clear();
  EXPECT_FALSE(StoreRoute(starMap_, "Alpha", "Beta", "[none]",
                          Values(true, false, false, 3, 2147483640), store, output_)
                   .stored);
  EXPECT_EQ(store.calls, 1);  // numbers past the column's range never reach the store
}

class CliStoreRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("LANEWRIGHT_BINARY")) GTEST_SKIP() << "LANEWRIGHT_BINARY not set";
    testing::WriteEmpireFile(
        testing::FixtureFormat::Sqlite, empire_,
        {{1, 3, "Sol", "VegaA", 1001}, {2, 3, "Vega", "SolA", 1002}, {3, 7, "Deneb", "?RB", 1003}});
    ASSERT_EQ(testing::RunLanewright({"init-turn-db", turnDb_}).exitCode, 0);
    Connect(turnDb_,
            "INSERT INTO Orders (Empire, \"Order Code\", \"Order Number\") VALUES (3, 'MOVE', 230);"
            "INSERT INTO Fleets VALUES (3, 15, 'Scouts')");
  }
  testing::ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"store-route", "--turn-db", turnDb_});
    args.push_back(empire_);
    return testing::RunLanewright(args);
  }
  TempDir dir_;
  std::string empire_ = dir_.File("empire3.db"), turnDb_ = dir_.File("turn.db");
};

TEST_F(CliStoreRouteTest, StoresAConvoyWithTheDefaults) {
  const auto r = Run({"--from", "Sol", "--to", "Vega", "--empire", "3"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "3, CNVR, 240, Sol -> Vega\n3, MOVE, 250, 1234, Sol, 1001\n3, WARP, 260, 1234\n3, "
            "CNVR, 270, Sol -> Vega\n");
  EXPECT_EQ(ReadRows(turnDb_, "Orders").size(), 5u);
}

TEST_F(CliStoreRouteTest, ExitCodesAndNothingStoredOnFailure) {
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--to", "XR", "--survey", "15", "--start-order", "10", "--by", "fuel"}, 1},  // no route
      {{"--to", "Vega", "--move", "16"}, 2},   // not a fleet of 3
      {{"--to", "Vega", "--empire", "4"}, 2},  // not a loaded empire
      {{"--to", "Nowhere"}, 2},
      {{"--to", "Vega", "--move", "15", "--convoy", "x"}, 64},
      {{"--to", "Vega", "--by", "speed"}, 64},
  };
  const auto before = testing::ReadFile(turnDb_);
  for (auto [args, exitCode] : cases) {
    if (std::find(args.begin(), args.end(), "--empire") == args.end())
      args.insert(args.end(), {"--empire", "3"});
    args.insert(args.begin(), {"--from", "Sol"});
    const auto r = Run(args);
    EXPECT_EQ(r.exitCode, exitCode) << args[3] << r.err;
    EXPECT_EQ(r.out.ends_with("\nNo orders were stored.\n"), exitCode == 1) << r.out;
  }
  EXPECT_EQ(Run({"--from", "Sol", "--to", "Vega"}).exitCode, 64);  // no --empire
  EXPECT_EQ(testing::ReadFile(turnDb_), before);

  const auto exists = testing::RunLanewright({"init-turn-db", turnDb_});
  EXPECT_EQ(exists.exitCode, 2);
  EXPECT_NE(exists.err.find("already exists"), std::string::npos) << exists.err;
  EXPECT_EQ(testing::ReadFile(turnDb_), before);

  std::filesystem::remove(turnDb_);
  const auto missing = Run({"--from", "Sol", "--to", "Vega", "--empire", "3"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("no such file"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace lanewright
