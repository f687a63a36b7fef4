#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "orders/ConvoySink.h"
#include "orders/StoreRoute.h"
#include "orders/TurnEntryDatabase.h"
#include "starmap/LoadEmpireDatabase.h"
#include "store/Table.h"
#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using store::Cell;
using store::Row;
using store::StoreError;
using testing::TempDir;

// ---- fixtures --------------------------------------------------------------------------

std::vector<testing::FixtureColumn> OrderColumns(std::size_t count = kOrderColumns) {
  std::vector<testing::FixtureColumn> c = {
      {"Empire", "INTEGER"}, {"Code", "TEXT"}, {"Number", "INTEGER"}};
  for (std::size_t i = 1; c.size() < count; ++i) c.push_back({"Arg" + std::to_string(i), "TEXT"});
  c.resize(count);
  return c;
}

Row OrderCells(Cell empire, Cell code, Cell number, std::string argument1 = "12") {
  Row row(kOrderColumns, Cell{std::string(" ")});
  row[0] = std::move(empire);
  row[1] = std::move(code);
  row[2] = std::move(number);
  row[3] = std::move(argument1);
  return row;
}

Row Order(std::int64_t empire, const std::string& code, std::int64_t number) {
  return OrderCells(empire, code, number);
}

void WriteFleets(const std::string& path, const std::vector<Row>& rows) {
  testing::WriteTable(testing::FixtureFormat::Sqlite, path, "Fleets",
                      {{"Empire", "INTEGER"}, {"Fleet", "INTEGER"}, {"Name", "TEXT"}}, rows);
}

// A turn entry database with both tables.
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
  Row row;
  while (reader && reader->Next(row) == store::S_OK) rows.push_back(row);
  return rows;
}

// Runs sql on its own connection, which stays open (holding whatever lock sql took)
// until the returned handle goes.
std::unique_ptr<sqlite3, int (*)(sqlite3*)> Connect(const std::string& path,
                                                    const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owned(db, sqlite3_close);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  return owned;
}

std::vector<OrderRow> SomeOrders(int count) {
  std::vector<OrderRow> rows;
  for (int i = 0; i < count; ++i) rows.push_back({7, "MOVE", 500 + 10 * i, "12", "Alpha", "17"});
  return rows;
}

// ---- turn entry database ---------------------------------------------------------------

TEST(TurnEntryDatabaseTest, HighestOrderNumberCountsOnlyTheEmpiresPositiveNumbers) {
  struct Case {
    const char* what;
    std::vector<Row> orders;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"no rows", {}, 0},
      {"no rows of the empire", {Order(4, "MOVE", 50)}, 0},
      {"only zero and below", {Order(3, "MOVE", 0), Order(3, "WARP", -20)}, 0},
      {"other empires higher", {Order(3, "MOVE", 230), Order(4, "MOVE", 900)}, 230},
      {"not in order", {Order(3, "A", 40), Order(3, "B", 230), Order(3, "C", 100)}, 230},
      {"largest number", {Order(3, "A", 2147483647)}, 2147483647},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TurnEntryDatabase db(TurnDb(dir, c.orders));
    StoreError err;
    EXPECT_EQ(db.HighestOrderNumber(3, err), c.expected);
    EXPECT_FALSE(err.Failed()) << err.reason;
  }
}

TEST(TurnEntryDatabaseTest, ListFleetsKeepsTableOrderAndRepeats) {
  TempDir dir;
  TurnEntryDatabase db(TurnDb(dir, {},
                              {{std::int64_t{3}, std::int64_t{12}, "a"},
                               {std::int64_t{4}, std::int64_t{7}, "b"},
                               {std::int64_t{3}, std::int64_t{5}, "c"},
                               {std::int64_t{3}, std::int64_t{12}, "d"}}));
  StoreError err;
  EXPECT_EQ(db.ListFleets(3, err), (std::vector<std::int32_t>{12, 5, 12}));
  EXPECT_EQ(db.ListFleets(4, err), (std::vector<std::int32_t>{7}));
  EXPECT_EQ(db.ListFleets(5, err), (std::vector<std::int32_t>{}));
  EXPECT_FALSE(err.Failed());
}

TEST(TurnEntryDatabaseTest, UnreadableRowsAreSkippedAndLaterRowsStillCount) {
  TempDir dir;
  const std::string path =
      TurnDb(dir,
             {Order(3, "MOVE", 100), OrderCells(3, std::monostate{}, std::int64_t{900}),
              OrderCells(3, std::string(51, 'x'), std::int64_t{800}),
              OrderCells(3, "MOVE", std::string("n/a")), OrderCells(3, "MOVE", 7.5),
              OrderCells(3, "MOVE", std::int64_t{5000000000}), Order(3, "WARP", 150)},
             {{std::int64_t{3}, std::monostate{}, "x"}, {std::int64_t{3}, std::int64_t{8}, "y"}});
  TurnEntryDatabase db(path);
  StoreError err;
  EXPECT_EQ(db.HighestOrderNumber(3, err), 150);
  EXPECT_EQ(db.LastSkippedRows(), 5);
  EXPECT_EQ(db.ListFleets(3, err), (std::vector<std::int32_t>{8}));
  EXPECT_EQ(db.LastSkippedRows(), 1);
  EXPECT_FALSE(err.Failed()) << err.reason;
}

TEST(TurnEntryDatabaseTest, BadFilesFailCleanlyAndAreNeverWritten) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;  // null: the file does not exist
    store::HResult readCode;
    store::HResult insertCode;
    const char* reasonPart;
  };
  const auto orders = [](std::size_t columns, const char* type) {
    return [columns, type](const std::string& p) {
      auto cols = OrderColumns(columns);
      cols[2].type = type;
      testing::WriteTable(testing::FixtureFormat::Sqlite, p, "Orders", cols, {});
      WriteFleets(p, {});
    };
  };
  const Case cases[] = {
      {"missing", nullptr, store::E_FAIL, store::E_FAIL, "no such file"},
      {"folder", [](const std::string& p) { std::filesystem::create_directory(p); },
       store::E_FAIL, store::E_FAIL, "folder"},
      {"text file", [](const std::string& p) { testing::WriteFile(p, "Empire;Order\n3;MOVE\n"); },
       store::E_FAIL, store::E_FAIL, "not a Jet"},
      {"empty file", [](const std::string& p) { testing::WriteFile(p, ""); }, store::E_FAIL,
       store::E_FAIL, "not a Jet"},
      {"no Orders table", [](const std::string& p) { WriteFleets(p, {}); }, store::DB_E_NOTABLE,
       store::DB_E_NOTABLE, "Orders"},
      {"53 columns", orders(53, "INTEGER"), store::DB_E_BADORDINAL, store::DB_E_BADORDINAL,
       "53 columns"},
      {"binary order number", orders(54, "BLOB"), store::DB_E_UNSUPPORTEDCONVERSION,
       store::DB_E_UNSUPPORTEDCONVERSION, "binary"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.File("turn.db");
    if (c.make) c.make(path);
    const bool existed = std::filesystem::exists(path);
    const std::string before = existed ? testing::ReadFile(path) : "";
    TurnEntryDatabase db(path);

    StoreError err;
    EXPECT_EQ(db.HighestOrderNumber(3, err), 0);
    EXPECT_EQ(err.code, c.readCode) << err.reason;
    err = {};
    EXPECT_FALSE(db.Check(err));
    EXPECT_TRUE(err.Failed());
    err = {};
    EXPECT_FALSE(db.InsertOrders(SomeOrders(2), err));
    EXPECT_EQ(err.code, c.insertCode) << err.reason;
    EXPECT_NE(err.reason.find(c.reasonPart), std::string::npos) << err.reason;
    EXPECT_EQ(std::filesystem::exists(path), existed);
    if (existed) EXPECT_EQ(testing::ReadFile(path), before);
  }
}

TEST(TurnEntryDatabaseTest, JetFilesAreRefusedForWriting) {
  TempDir dir;
  const std::string path = dir.File("turn.mdb");
  std::string bytes(4096, '\0');
  bytes.replace(0, 19, std::string("\x00\x01\x00\x00Standard Jet DB", 19));
  testing::WriteFile(path, bytes);
  TurnEntryDatabase db(path);
  StoreError err;
  EXPECT_FALSE(db.InsertOrders(SomeOrders(1), err));
  EXPECT_NE(err.reason.find("Jet"), std::string::npos) << err.reason;
  EXPECT_EQ(testing::ReadFile(path), bytes);
}

TEST(TurnEntryDatabaseTest, InsertWritesEveryColumnAndCutsLongTexts) {
  TempDir dir;
  const std::string path = dir.File("turn.db");
  // One more column than bound: the store must still address its columns by position.
  testing::WriteTable(testing::FixtureFormat::Sqlite, path, "orders", OrderColumns(55),
                      {Order(5, "MOVE", 30)});
  WriteFleets(path, {});
  const std::string sixty(60, 'n');
  const std::string umlauts = std::string(49, 'u') + "\xC3\xA4\xC3\xB6";  // 51 characters
  TurnEntryDatabase db(path);
  StoreError err;
  ASSERT_TRUE(db.InsertOrders({{5, "MOVE", 30, "12", "Alpha", "17"},
                               {-1, "SURV", -40, sixty, "", umlauts}},
                              err))
      << err.reason;

  const auto rows = ReadRows(path, "Orders");
  ASSERT_EQ(rows.size(), 3u);  // the duplicate of (5, 30) is the table's business
  Row expected(55, Cell{std::string(" ")});
  expected[54] = std::monostate{};
  auto set = [&](std::int64_t e, const char* code, std::int64_t n, std::string a1, std::string a2,
                 std::string a3) {
    expected[0] = e, expected[1] = std::string(code), expected[2] = n;
    expected[3] = std::move(a1), expected[4] = std::move(a2), expected[5] = std::move(a3);
    return expected;
  };
  EXPECT_EQ(rows[1], set(5, "MOVE", 30, "12", "Alpha", "17"));
  EXPECT_EQ(rows[2], set(-1, "SURV", -40, std::string(50, 'n'), "",
                         std::string(49, 'u') + "\xC3\xA4"));
  EXPECT_EQ(db.HighestOrderNumber(5, err), 30);
}

TEST(TurnEntryDatabaseTest, AStoreThatFailsHalfWayLeavesTheTableAsItWas) {
  for (int failAt : {1, 3, 5}) {
    SCOPED_TRACE(failAt);
    TempDir dir;
    const std::string path = TurnDb(dir, {Order(7, "MOVE", 10), Order(7, "WARP", 20)});
    Connect(path, "CREATE TRIGGER full BEFORE INSERT ON Orders WHEN (SELECT count(*) FROM "
                  "Orders) >= " + std::to_string(1 + failAt) +
                      " BEGIN SELECT RAISE(ABORT, 'the table is full'); END");
    const auto before = ReadRows(path, "Orders");
    TurnEntryDatabase db(path);
    StoreError err;
    EXPECT_FALSE(db.InsertOrders(SomeOrders(5), err));
    EXPECT_NE(err.reason.find("the table is full"), std::string::npos) << err.reason;
    EXPECT_EQ(ReadRows(path, "Orders"), before);
  }
}

TEST(TurnEntryDatabaseTest, ALockedFileMakesCallsWaitThenFailWithoutWriting) {
  TempDir dir;
  const std::string path = TurnDb(dir, {Order(7, "MOVE", 10)});
  TurnEntryDatabase db(path);
  StoreError err;
  {
    auto writer = Connect(path, "BEGIN IMMEDIATE; INSERT INTO Orders SELECT * FROM Orders; "
                                "UPDATE Orders SET Number = 20 WHERE rowid = 2");
    EXPECT_FALSE(db.InsertOrders(SomeOrders(3), err));
    EXPECT_NE(err.reason.find("locked"), std::string::npos) << err.reason;
    sqlite3_exec(writer.get(), "COMMIT", nullptr, nullptr, nullptr);
  }
  {
    auto holder = Connect(path, "BEGIN EXCLUSIVE");
    err = {};
    EXPECT_EQ(db.HighestOrderNumber(7, err), 0);
    EXPECT_EQ(err.code, store::E_FAIL);
  }
  err = {};
  EXPECT_EQ(db.HighestOrderNumber(7, err), 20);
  EXPECT_EQ(ReadRows(path, "Orders").size(), 2u);
}

TEST(TurnEntryDatabaseTest, CreateMakesBothTablesAndNeverOverwrites) {
  TempDir dir;
  const std::string path = dir.File("new.db");
  StoreError err;
  ASSERT_TRUE(CreateTurnEntryDatabase(path, err)) << err.reason;
  TurnEntryDatabase db(path);
  EXPECT_TRUE(db.Check(err)) << err.reason;
  for (auto [table, columns] : {std::pair{"Orders", kOrderColumns}, std::pair{"Fleets", kFleetColumns}}) {
    auto reader = store::OpenTable(path, table, err);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Columns().size(), columns);
  }
  ASSERT_TRUE(db.InsertOrders(SomeOrders(2), err)) << err.reason;
  EXPECT_EQ(db.HighestOrderNumber(7, err), 510);

  const std::string before = testing::ReadFile(path);
  err = {};
  EXPECT_FALSE(CreateTurnEntryDatabase(path, err));
  EXPECT_NE(err.reason.find("already exists"), std::string::npos) << err.reason;
  EXPECT_EQ(testing::ReadFile(path), before);
  EXPECT_FALSE(CreateTurnEntryDatabase(dir.File("no/such/folder.db"), err));
}

// ---- order generation ------------------------------------------------------------------

struct Jump {
  std::string system;
  std::int32_t warpPointId;
  std::set<std::int32_t> empires;
};

struct SinkRun {
  std::string text;
  std::vector<OrderRow> rows;
};

SinkRun RunSink(std::int32_t start, bool survey, bool backSurvey, const std::vector<Jump>& jumps,
                const SystemEmpireSet& systemEmpire = {}) {
  StringOutputBox box;
  box.SetText("old text");
  ConvoySink sink(box, 7, start, "12", survey, backSurvey);
  sink.Clear();
  for (const auto& j : jumps)
    sink.WarpStep(j.system, "Elsewhere", j.warpPointId, 'C', j.empires, 99, systemEmpire);
  return {box.Text(), sink.Orders()};
}

std::string Codes(const std::vector<OrderRow>& rows) {
  std::string s;
  for (const auto& r : rows) s += (s.empty() ? "" : " ") + r.orderCode + std::to_string(r.orderNumber);
  return s;
}

TEST(ConvoySinkTest, WorkedExampleBackSurveyAndMove) {
  const Jump alpha{"Alpha", 17, {3}};
  const auto back = RunSink(100, true, true, {alpha}, {{"Beta", 7}});
  EXPECT_EQ(back.text,
            "7, SS, 100, 12\r\n7, MOVE, 110, 12, Alpha, 17\r\n7, SURV, 120, 12\r\n"
            "7, WARP, 130, 12\r\n7, SURV, 140, 12\r\n");
  const std::vector<OrderRow> expected = {{7, "SS", 100, "12", " ", " "},
                                          {7, "MOVE", 110, "12", "Alpha", "17"},
                                          {7, "SURV", 120, "12", " ", " "},
                                          {7, "WARP", 130, "12", " ", " "},
                                          {7, "SURV", 140, "12", " ", " "}};
  EXPECT_EQ(back.rows, expected);

  const auto move = RunSink(100, false, false, {alpha});
  EXPECT_EQ(move.text, "7, MOVE, 100, 12, Alpha, 17\r\n7, WARP, 110, 12\r\n");
  EXPECT_EQ(move.rows, (std::vector<OrderRow>{{7, "MOVE", 100, "12", "Alpha", "17"},
                                              {7, "WARP", 110, "12", " ", " "}}));
}

TEST(ConvoySinkTest, SurveyOrdersDependOnTheLoadedData) {
  struct Case {
    bool survey, backSurvey;
    bool systemKnown, warpPointKnown;
    const char* codes;
  };
  const Case cases[] = {
      {true, false, true, true, "MOVE10 WARP20"},
      {true, true, true, true, "MOVE10 WARP20"},
      {true, false, true, false, "MOVE10 SURV20 WARP30"},
      {true, true, true, false, "MOVE10 SURV20 WARP30 SURV40"},
      {true, false, false, true, "SS10 MOVE20 WARP30"},
      {false, true, false, false, "MOVE10 WARP20"},  // back-SURV alone means nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codes);
    // The destination's pair must not count for "SS": only the start system is looked up.
    SystemEmpireSet known = {{"Elsewhere", 7}, {"Alpha", 3}};
    if (c.systemKnown) known.insert({"Alpha", 7});
    const std::set<std::int32_t> empires =
        c.warpPointKnown ? std::set<std::int32_t>{3, 7} : std::set<std::int32_t>{3};
    EXPECT_EQ(Codes(RunSink(10, c.survey, c.backSurvey, {{"Alpha", 4, empires}}, known).rows),
              c.codes);
  }
}

TEST(ConvoySinkTest, NumberingRunsOnOverJumpsAndNegativeIdsShowAsIs) {
  const auto run = RunSink(10, false, false, {{"A", 1, {7}}, {"B", -5, {7}}, {"C", 3, {7}}});
  EXPECT_EQ(Codes(run.rows), "MOVE10 WARP20 MOVE30 WARP40 MOVE50 WARP60");
  EXPECT_EQ(run.rows[2].argument3, "-5");
  EXPECT_NE(run.text.find("7, MOVE, 30, 12, B, -5\r\n"), std::string::npos);
}

TEST(ConvoySinkTest, ConvoyWithFailedSearchFramesTheFailureText) {
  StringOutputBox box;
  box.SetText("previous output");
  ConvoySink sink(box, 3, 40, "1234", false, false);
  sink.Clear();
  sink.WriteConvoyOrder("Sol -> Vega");
  sink.Clear();  // the search's own Clear must not wipe the first line
  sink.AppendText("Sol -> Vega\r\n\r\n");
  sink.ReportFailure("Search terminated. Did not find goal state!\r\n\r\n");
  sink.SystemStep("Vega");
  sink.WriteConvoyOrder("Sol -> Vega");
  EXPECT_EQ(box.Text(),
            "3, CNVR, 40, Sol -> Vega\r\nSearch terminated. Did not find goal state!\r\n\r\n"
            "Vega\r\n3, CNVR, 50, Sol -> Vega\r\n");
  EXPECT_EQ(sink.Orders().back(), (OrderRow{3, "CNVR", 50, "Sol -> Vega", " ", " "}));
  EXPECT_FALSE(sink.NumberingOverflowed());
}

TEST(ConvoySinkTest, NumbersPastTheColumnsRangeAreFlagged) {
  StringOutputBox box;
  ConvoySink sink(box, 3, 2147483640, "1234", false, false);
  sink.WriteConvoyOrder("x");
  EXPECT_FALSE(sink.NumberingOverflowed());
  sink.WriteConvoyOrder("x");
  EXPECT_TRUE(sink.NumberingOverflowed());
  EXPECT_NE(box.Text().find("3, CNVR, 2147483650, x"), std::string::npos);
}

// ---- Store Route ----------------------------------------------------------------------

// Records what would be stored; fails when told to.
class FakeStore final : public TurnEntryStore {
 public:
  std::int32_t HighestOrderNumber(std::int32_t, StoreError&) override { return 0; }
  std::vector<std::int32_t> ListFleets(std::int32_t, StoreError&) override { return {}; }
  bool InsertOrders(const std::vector<OrderRow>& rows, StoreError& err) override {
    ++calls;
    if (!failWith.empty()) {
      err = {store::E_FAIL, failWith};
      return false;
    }
    stored = rows;
    return true;
  }
  bool Check(StoreError&) override { return true; }

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
  static ConvoyValues Mode(bool convoy, bool survey, bool backSurvey, std::int32_t empire = 7,
                           std::int32_t start = 100, const char* fleet = "12") {
    ConvoyValues v;
    v.convoy = convoy, v.survey = survey, v.backSurvey = backSurvey;
    v.empire = empire, v.startOrder = start, v.fleet = convoy ? "1234" : fleet;
    v.name = "Alpha -> Beta";
    return v;
  }

  TempDir dir_;
  StarMap starMap_;
  StringOutputBox output_;
};

TEST_F(StoreRouteTest, WorkedExampleIsStoredRowForRow) {
  Load({{1, 3, "Alpha", "BetaA", 17}, {2, 7, "Gamma", "DeltaB", 30}});
  const std::string path = TurnDb(dir_, {Order(7, "MOVE", 90)});
  TurnEntryDatabase db(path);
  const auto result =
      StoreRoute(starMap_, "Alpha", "Beta", "[none]", Mode(false, true, true), db, output_);
  EXPECT_TRUE(result.stored);
  EXPECT_EQ(result.ordersStored, 5);
  EXPECT_EQ(output_.Text(),
            "7, SS, 100, 12\r\n7, MOVE, 110, 12, Alpha, 17\r\n7, SURV, 120, 12\r\n"
            "7, WARP, 130, 12\r\n7, SURV, 140, 12\r\n");
  const auto rows = ReadRows(path, "Orders");
  ASSERT_EQ(rows.size(), 6u);
  const char* codes[] = {"SS", "MOVE", "SURV", "WARP", "SURV"};
  for (int i = 0; i < 5; ++i) {
    Row expected = OrderCells(std::int64_t{7}, std::string(codes[i]), std::int64_t{100 + 10 * i});
    if (i == 1) expected[4] = std::string("Alpha"), expected[5] = std::string("17");
    EXPECT_EQ(rows[i + 1], expected) << i;
  }
}

TEST_F(StoreRouteTest, AVisitedSystemDoesNotBreakTheNumbering) {
  Load({{1, 7, "A", "BB", 1}, {2, 7, "B", "CB", 2}, {3, 7, "A", "CQ", 3}});
  FakeStore store;
  const auto result =
      StoreRoute(starMap_, "A", "C", "B", Mode(false, false, false, 7, 10, "5"), store, output_);
  EXPECT_TRUE(result.stored);
  EXPECT_EQ(output_.Text(),
            "7, MOVE, 10, 5, A, 1\r\n7, WARP, 20, 5\r\n7, MOVE, 30, 5, B, 2\r\n7, WARP, 40, 5\r\n");
  EXPECT_EQ(Codes(store.stored), "MOVE10 WARP20 MOVE30 WARP40");
}

TEST_F(StoreRouteTest, FailedRunsStoreNothing) {
  Load({{1, 3, "Alpha", "BetaA", 17}, {2, 3, "Gamma", "AlphaA", 18}});
  const std::string path = TurnDb(dir_, {Order(7, "MOVE", 90)});
  const auto before = testing::ReadFile(path);
  TurnEntryDatabase db(path);

  // A convoy whose search fails still shows both CNVR lines around the failure text.
  auto result = StoreRoute(starMap_, "Alpha", "Gamma", "[none]", Mode(true, false, false), db,
                           output_);
  EXPECT_FALSE(result.stored);
  EXPECT_EQ(output_.Text(),
            "7, CNVR, 100, Alpha -> Beta\r\nSearch terminated. Did not find goal state!\r\n\r\n"
            "7, CNVR, 110, Alpha -> Beta\r\nNo orders were stored.\r\n");

  // Empire data that cannot be opened: the failure text has no line break of its own.
  starMap_.databaseFiles.insert(dir_.File("gone.db"));
  result = StoreRoute(starMap_, "Alpha", "Beta", "[none]", Mode(false, false, false), db, output_);
  EXPECT_TRUE(result.route.error.Failed());
  EXPECT_EQ(output_.Text(), "failed with hr=-2147467259\r\nNo orders were stored.\r\n");
  EXPECT_EQ(testing::ReadFile(path), before);
}

TEST_F(StoreRouteTest, AStoreThatCannotBeWrittenIsReportedAtTheEnd) {
  Load({{1, 3, "Alpha", "BetaA", 17}});
  FakeStore store;
  store.failWith = "turn.db: database is locked";
  const auto result =
      StoreRoute(starMap_, "Alpha", "Beta", "[none]", Mode(true, false, false, 3, 10), store,
                 output_);
  EXPECT_FALSE(result.stored);
  EXPECT_EQ(result.storeError.reason, store.failWith);
  EXPECT_EQ(output_.Text(),
            "3, CNVR, 10, Alpha -> Beta\r\n3, MOVE, 20, 1234, Alpha, 17\r\n3, WARP, 30, 1234\r\n"
            "3, CNVR, 40, Alpha -> Beta\r\nCould not store the orders: turn.db: database is "
            "locked\r\n");

  store.failWith.clear();
  auto values = Mode(true, false, false, 3, 2147483640);
  EXPECT_FALSE(StoreRoute(starMap_, "Alpha", "Beta", "[none]", values, store, output_).stored);
  EXPECT_EQ(store.calls, 1);  // numbers past the column's range never reach the store
}

// ---- command line ----------------------------------------------------------------------

class CliStoreRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("LANEWRIGHT_BINARY")) GTEST_SKIP() << "LANEWRIGHT_BINARY not set";
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, empire_,
                             {{1, 3, "Sol", "VegaA", 1001}, {2, 3, "Vega", "SolA", 1002},
                              {3, 7, "Deneb", "?RB", 1003}});
    ASSERT_EQ(testing::RunLanewright({"init-turn-db", turnDb_}).exitCode, 0);
    Connect(turnDb_, "INSERT INTO Orders (Empire, \"Order Code\", \"Order Number\") VALUES "
                     "(3, 'MOVE', 230); INSERT INTO Fleets VALUES (3, 15, 'Scouts')");
  }
  testing::ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"store-route", "--turn-db", turnDb_});
    args.push_back(empire_);
    return testing::RunLanewright(args);
  }

  TempDir dir_;
  std::string empire_ = dir_.File("empire3.db");
  std::string turnDb_ = dir_.File("turn.db");
};

TEST_F(CliStoreRouteTest, StoresAConvoyWithTheDefaults) {
  const auto r = Run({"--from", "Sol", "--to", "Vega", "--empire", "3"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "3, CNVR, 240, Sol -> Vega\n3, MOVE, 250, 1234, Sol, 1001\n3, WARP, 260, 1234\n"
            "3, CNVR, 270, Sol -> Vega\n");
  EXPECT_EQ(ReadRows(turnDb_, "Orders").size(), 5u);
}

TEST_F(CliStoreRouteTest, ExitCodesAndNothingStoredOnFailure) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* outEnd;
  };
  const Case cases[] = {
      {{"--from", "Sol", "--to", "XR", "--empire", "3", "--survey", "15", "--start-order", "10",
        "--by", "fuel"},
       1, "No orders were stored.\n"},
      {{"--from", "Sol", "--to", "Vega", "--empire", "3", "--move", "16"}, 2, ""},
      {{"--from", "Sol", "--to", "Vega", "--empire", "4"}, 2, ""},
      {{"--from", "Nowhere", "--to", "Vega", "--empire", "3"}, 2, ""},
      {{"--from", "Sol", "--to", "Vega", "--empire", "3", "--move", "15", "--convoy", "x"}, 64, ""},
      {{"--from", "Sol", "--to", "Vega"}, 64, ""},
      {{"--from", "Sol", "--to", "Vega", "--empire", "3", "--by", "speed"}, 64, ""},
  };
  const auto before = testing::ReadFile(turnDb_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[3] + " " + c.args.back());
    const auto r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_TRUE(r.out.ends_with(c.outEnd)) << r.out;
  }
  EXPECT_EQ(testing::ReadFile(turnDb_), before);

  std::filesystem::remove(turnDb_);
  const auto missing = Run({"--from", "Sol", "--to", "Vega", "--empire", "3"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("no such file"), std::string::npos) << missing.err;
}

TEST_F(CliStoreRouteTest, InitTurnDbRefusesToOverwrite) {
  const auto before = testing::ReadFile(turnDb_);
  const auto r = testing::RunLanewright({"init-turn-db", turnDb_});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  EXPECT_EQ(testing::ReadFile(turnDb_), before);
}

}  // namespace
}  // namespace lanewright
