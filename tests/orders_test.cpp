#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <tuple>

#include "orders/ConvoySink.h"
#include "orders/StoreRoute.h"
#include "orders/TurnEntryDatabase.h"
#include "starmap/LoadEmpireDatabase.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using store::Cell;
using store::Row;
using store::StoreError;
using testing::FixtureFormat;
using testing::TempDir;
using Ints = std::vector<std::int32_t>;

// An "Orders" row: empire, code, number, fleet "12" and blanks.
Row Order(Cell empire, Cell code, Cell number, std::size_t columns = kOrderColumns) {
  Row row(columns, Cell{std::string(" ")});
  row[0] = std::move(empire), row[1] = std::move(code), row[2] = std::move(number);
  row[3] = std::string("12");
  return row;
}

Row Fleet(Cell empire, Cell number, Cell name = std::string("x")) { return {empire, number, name}; }

// Writes "Fleets" and, unless columns is 0, a table "Orders" that many columns wide whose
// third column has numberType.
std::string WriteTurnDb(const std::string& path, const std::vector<Row>& orders,
                        const std::vector<Row>& fleets = {},
                        FixtureFormat format = FixtureFormat::Sqlite,
                        std::size_t columns = kOrderColumns, const char* numberType = "INTEGER") {
  std::vector<testing::FixtureColumn> c = {
      {"Empire", "INTEGER"}, {"Code", "TEXT"}, {"Number", numberType}};
  while (c.size() < columns) c.push_back({"Arg" + std::to_string(c.size() - 2), "TEXT"});
  if (columns > 0) testing::WriteTable(format, path, "orders", c, orders);
  testing::WriteTable(format, path, "Fleets",
                      {{"Empire", "INTEGER"}, {"Fleet", "INTEGER"}, {"Name", "TEXT"}}, fleets);
  return path;
}

std::vector<Row> OrderRows(const std::string& path) {
  StoreError err;
  auto rows = testing::ReadAllRows(path, "Orders", err);
  EXPECT_FALSE(err.Failed()) << err.reason;
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

const std::vector<OrderRow> kFiveOrders(5, {7, "MOVE", 500, "12", "Alpha", "17"});

// Stores rows as they are, whatever numbers are taken.
bool Store(TurnEntryStore& db, const std::vector<OrderRow>& rows, StoreError& err) {
  return db.InsertOrders(
      rows.front().empire, [&rows](const Ints&, StoreError&) { return rows; }, err);
}

std::string Codes(const std::vector<OrderRow>& rows) {
  std::string s;
  for (const auto& r : rows) s += fmt::format(" {}{}", r.orderCode, r.orderNumber);
  return s.substr(s.empty() ? 0 : 1);
}

class TurnEntryFormatTest : public ::testing::TestWithParam<FixtureFormat> {};

// Only the empire's positive numbers count; unreadable rows are skipped and counted, and
// later rows still count. Orders are written by position into a table with one column
// more than bound and a name in another case, texts cut to 50 characters.
TEST_P(TurnEntryFormatTest, ReadsAndWritesEveryFormat) {
  TempDir dir;
  // clang-format off
  std::vector<Row> orders = {
      Order(3, "MOVE", 100, 55), Order(3, std::monostate{}, 900, 55),
      Order(3, std::string(51, 'x'), 800, 55), Order(3, "MOVE", 0, 55), Order(3, "WARP", -20, 55),
      Order(4, "MOVE", 900, 55), Order(6, "A", 2147483647, 55), Order(3, "WARP", 150, 55)};
  // clang-format on
  // Only SQLite keeps a text, a fraction or a 64-bit number in a number column.
  const bool sqlite = GetParam() == FixtureFormat::Sqlite;
  if (sqlite)
    for (Cell n : {Cell{"n/a"}, Cell{7.5}, Cell{std::int64_t{5000000000}}})
      orders.insert(orders.begin() + 1, Order(3, "MOVE", n, 55));
  // Unused arguments and fleet names left NULL by other programs do not hide a row.
  Row nullArguments = Order(8, "MOVE", 300, 55);
  nullArguments[3] = nullArguments[40] = std::monostate{};
  orders.push_back(nullArguments);
  const std::vector<Row> fleets = {Fleet(3, 12), Fleet(4, 7),  Fleet(3, {}),
                                   Fleet(3, 5),  Fleet(3, 12), Fleet(4, 9, {})};
  const std::string path = WriteTurnDb(dir.File("turn.db"), orders, fleets, GetParam(), 55);
  TurnEntryDatabase db(path);
  StoreError err;
  EXPECT_TRUE(db.Check(err)) << err.reason;
  EXPECT_EQ(db.HighestOrderNumber(3, err), 150);
  EXPECT_EQ(db.LastSkippedRows(), sqlite ? 5 : 2);
  for (auto [empire, highest] : {std::pair{4, 900}, {5, 0}, {6, 2147483647}, {8, 300}})
    EXPECT_EQ(db.HighestOrderNumber(empire, err), highest) << empire;
  EXPECT_EQ(db.ListFleets(3, err), (Ints{12, 5, 12}));  // table order, repeats kept
  EXPECT_EQ(db.LastSkippedRows(), 1);
  EXPECT_EQ(db.ListFleets(4, err), (Ints{7, 9}));
  EXPECT_FALSE(err.Failed()) << err.reason;

  const std::string umlauts = std::string(49, 'u') + "\xC3\xA4\xC3\xB6";  // 51 characters
  // Inside the section the decision sees every readable number of the empire, once each
  // and in order; what it refuses or leaves empty stores nothing, and rows of another
  // empire than the one read are refused. A duplicate (empire, number) is the table's
  // business.
  Ints taken;
  const std::vector<OrderRow> batch = {{3, "MOVE", 150, "12", "Alpha", "17"},
                                       {3, "SURV", 160, std::string(60, 'n'), "", umlauts}};
  const auto decide = [&](StoreError why, std::vector<OrderRow> rows) {
    return [=, &taken](const Ints& numbers, StoreError& e) {
      taken = numbers;
      e = why;
      return rows;
    };
  };
  const std::string before = testing::ReadFile(path);
  EXPECT_FALSE(db.InsertOrders(3, decide({store::E_FAIL, "number 150 is taken"}, batch), err));
  EXPECT_EQ(err.reason, "number 150 is taken");
  EXPECT_EQ(taken, (Ints{-20, 0, 100, 150}));
  err = {};
  EXPECT_TRUE(db.InsertOrders(3, decide({}, {}), err)) << err.reason;
  EXPECT_FALSE(db.InsertOrders(4, decide({}, batch), err));
  EXPECT_NE(err.reason.find("an order of empire 3"), std::string::npos) << err.reason;
  EXPECT_EQ(taken, (Ints{900}));
  EXPECT_TRUE(testing::ReadFile(path) == before) << "a refused batch changed the file";
  err = {};
  ASSERT_TRUE(db.InsertOrders(3, decide({}, batch), err)) << err.reason;
  EXPECT_EQ(db.HighestOrderNumber(3, err), 160);
  const auto rows = OrderRows(path);
  ASSERT_EQ(rows.size(), orders.size() + 2);
  Row moved = Order(3, "MOVE", 150, 55), surveyed = Order(3, "SURV", 160, 55);
  moved[4] = std::string("Alpha"), moved[5] = std::string("17"), moved[54] = {};
  surveyed[3] = std::string(50, 'n'), surveyed[4] = std::string(), surveyed[54] = {};
  surveyed[5] = umlauts.substr(0, 51);
  EXPECT_EQ(std::vector<Row>(rows.end() - 2, rows.end()), (std::vector<Row>{moved, surveyed}));
}

INSTANTIATE_TEST_SUITE_P(Formats, TurnEntryFormatTest,
                         ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const auto& info) { return testing::FormatName(info.param); });

TEST(TurnEntryDatabaseTest, BadFilesFailCleanlyAndAreNeverWritten) {
  // The columns of "Orders": 0 for no such table, -1 for no file.
  const std::tuple<const char*, int, const char*, store::HResult, const char*> cases[] = {
      // Files that are no database at all are the store's (OpenTableTest).
      {"missing", -1, "", store::E_FAIL, "no such file"},
      {"no Orders", 0, "INTEGER", store::DB_E_NOTABLE, "Orders"},
      {"53 columns", 53, "INTEGER", store::DB_E_BADORDINAL, "53 columns"},
      {"binary column", 54, "BLOB", store::DB_E_UNSUPPORTEDCONVERSION, "binary"},
  };
  for (const auto& [what, columns, numberType, code, reasonPart] : cases) {
    SCOPED_TRACE(what);
    TempDir dir;
    const std::string path = dir.File("turn.db");
    if (columns >= 0) WriteTurnDb(path, {}, {}, FixtureFormat::Sqlite, columns, numberType);
    const bool existed = std::filesystem::exists(path);
    const std::string before = existed ? testing::ReadFile(path) : "";
    TurnEntryDatabase db(path);
    StoreError read, check, insert;
    EXPECT_EQ(db.HighestOrderNumber(3, read), 0);
    EXPECT_EQ(read.code, code) << read.reason;
    EXPECT_FALSE(db.Check(check));
    EXPECT_FALSE(Store(db, kFiveOrders, insert));
    EXPECT_EQ(insert.code, code) << insert.reason;
    EXPECT_NE(insert.reason.find(reasonPart), std::string::npos) << insert.reason;
    EXPECT_EQ(std::filesystem::exists(path), existed);
    EXPECT_EQ(existed ? testing::ReadFile(path) : "", before);
  }
}

// A table damaged after its first page fails whole: no highest number, no fleet list and
// nothing stored from part of a table.
TEST(TurnEntryDatabaseTest, DamagePartWayFailsWhole) {
  TempDir dir;
  std::vector<Row> orders, fleets;
  for (int i = 1; i <= 300; ++i) {
    orders.push_back(Order(7, "MOVE", 10 * i));
    fleets.push_back(Fleet(7, i));
  }
  const std::string path = WriteTurnDb(dir.File("turn.db"), orders, fleets);
  std::vector<std::int64_t> pages;  // each table's last page of rows, when past its first
  const auto keep = [](void* pages, int, char** value, char**) {
    static_cast<std::vector<std::int64_t>*>(pages)->push_back(std::atoll(value[0]));
    return 0;
  };
  sqlite3_exec(Connect(path, "").get(),
               "SELECT max(pageno) FROM dbstat WHERE name IN ('orders', 'Fleets') GROUP BY name "
               "HAVING max(pageno) > 2",
               keep, &pages, nullptr);
  ASSERT_EQ(pages.size(), 2u);
  std::string bytes = testing::ReadFile(path);
  for (std::int64_t page : pages) std::fill_n(bytes.begin() + (page - 1) * 4096, 4096, '\xFF');
  testing::WriteFile(path, bytes);

  TurnEntryDatabase db(path);
  StoreError read, insert, list;
  EXPECT_EQ(db.HighestOrderNumber(7, read), 0);
  EXPECT_FALSE(Store(db, kFiveOrders, insert));
  EXPECT_TRUE(db.ListFleets(7, list).empty());
  for (const StoreError& err : {read, insert, list}) {
    EXPECT_EQ(err.code, store::E_FAIL);
    EXPECT_NE(err.reason.find("malformed"), std::string::npos) << err.reason;
  }
  EXPECT_TRUE(testing::ReadFile(path) == bytes);
}

// A store that fails half-way (the table refuses a row) or that waits in vain for another
// program's lock writes nothing and says why; while the file is held exclusively, reading
// fails too.
TEST(TurnEntryDatabaseTest, AFailedStoreLeavesTheTableAsItWas) {
  TempDir dir;
  const std::string path =
      WriteTurnDb(dir.File("turn.db"), {Order(7, "MOVE", 10), Order(7, "WARP", 20)});
  const auto before = OrderRows(path);
  TurnEntryDatabase db(path);
  for (int failAt : {1, 3, 5}) {
    Connect(path, fmt::format("DROP TRIGGER IF EXISTS full; CREATE TRIGGER full BEFORE INSERT ON "
                              "Orders WHEN (SELECT count(*) FROM Orders) >= {} BEGIN SELECT "
                              "RAISE(ABORT, 'the table is full'); END",
                              1 + failAt));
    StoreError err;
    EXPECT_FALSE(Store(db, kFiveOrders, err));
    EXPECT_NE(err.reason.find("the table is full"), std::string::npos) << err.reason;
    EXPECT_EQ(OrderRows(path), before) << failAt;
  }

  const auto wait = store::LockWait();
  store::SetLockWait(std::chrono::milliseconds(200));
  StoreError err;
  auto other = Connect(path,
                       "DROP TRIGGER full; BEGIN IMMEDIATE; INSERT INTO Orders SELECT * FROM "
                       "Orders; UPDATE Orders SET Number = 30 WHERE rowid = 3");
  EXPECT_FALSE(Store(db, kFiveOrders, err));
  EXPECT_NE(err.reason.find("locked; another program"), std::string::npos) << err.reason;
  sqlite3_exec(other.get(), "COMMIT; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  err = {};
  EXPECT_EQ(db.HighestOrderNumber(7, err), 0);
  EXPECT_EQ(err.code, store::E_FAIL);
  other.reset();
  err = {};
  EXPECT_EQ(db.HighestOrderNumber(7, err), 30);  // only the other program's rows arrived
  EXPECT_EQ(OrderRows(path).size(), 4u);
  store::SetLockWait(wait);
}

// The SURV orders follow the empire data as loaded for the start system and the warp
// point; the destination's and other empires' pairs must not count for "SS".
TEST(ConvoySinkTest, SurveyOrders) {
  // survey, back-survey, the empire knows the start system, the empire knows the warp point
  const std::tuple<bool, bool, bool, bool, const char*> cases[] = {
      {true, false, true, true, "MOVE10 WARP20"},
      {true, true, true, true, "MOVE10 WARP20"},
      {true, false, true, false, "MOVE10 SURV20 WARP30"},
      {true, false, false, true, "SS10 MOVE20 WARP30"},
      {false, true, false, false, "MOVE10 WARP20"},  // back-SURV without survey means nothing
  };
  for (const auto& [survey, backSurvey, systemKnown, warpPointKnown, codes] : cases) {
    SystemEmpireSet known;
    known.Insert("Elsewhere", 7);
    known.Insert("Alpha", 3);
    if (systemKnown) known.Insert("Alpha", 7);
    StringOutputBox box;
    ConvoySink sink(box, 7, 10, "12", survey, backSurvey);
    sink.Clear();
    sink.WarpStep("Alpha", "Elsewhere", -4, 'C', warpPointKnown ? Ints{3, 7} : Ints{3}, 99, known);
    EXPECT_EQ(Codes(sink.Orders()), codes);
    EXPECT_NE(box.Text().find(", 12, Alpha, -4\r\n"), std::string::npos) << box.Text();
  }
}

// Records what would be stored; holds the numbers "taken" by the empire's orders, and
// fails when told to.
class FakeStore final : public TurnEntryStore {
 public:
  std::int32_t HighestOrderNumber(std::int32_t, StoreError&) override { return 0; }
  Ints ListFleets(std::int32_t, StoreError&) override { return {}; }
  bool Check(StoreError&) override { return true; }
  bool InsertOrders(std::int32_t, const DecideRows& decide, StoreError& err) override {
    ++calls;
    if (!failWith.empty())
      err = {store::E_FAIL, failWith};
    else if (auto rows = decide(taken, err); !err.Failed())
      stored = std::move(rows);
    return !err.Failed();
  }
  int calls = 0;
  std::string failWith;
  Ints taken;
  std::vector<OrderRow> stored;
};

// Alpha -> Beta is one jump, over a warp point empire 3 knows; empire 7 knows only Gamma.
class StoreRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = dir_.File("empire.db");
    testing::WriteEmpireFile(FixtureFormat::Sqlite, path,
                             {{1, 3, "Alpha", "BetaA", 17}, {2, 7, "Gamma", "DeltaB", 30}});
    starMap_.databaseFiles = {path};
    StringOutputBox loadText;
    ASSERT_TRUE(ReadEmpireFiles(starMap_, rows_, loadText).ok) << loadText.Text();
  }
  StoreRouteResult Run(bool convoy, bool survey, std::int32_t empire, std::int32_t start,
                       bool defaultStart = false) {
    ConvoyValues v;
    v.convoy = convoy, v.survey = v.backSurvey = survey, v.empire = empire, v.startOrder = start;
    v.defaultStartOrder = defaultStart, v.fleet = convoy ? "1234" : "12", v.name = "Alpha -> Beta";
    return StoreRoute(starMap_, planner_, {"Alpha", {}, "Beta", {}}, v, store_, output_);
  }
  FakeStore store_;
  TempDir dir_;
  StarMap starMap_;
  EmpireRowSource rows_;
  RoutePlanner planner_{rows_};
  StringOutputBox output_;
};

// Orders are numbered from the start given or, by default, from the numbers the store holds
// when it stores (another program may have added orders since the dialog showed its number).
TEST_F(StoreRouteTest, OrdersAreNumberedAndStoredAsShown) {
  const auto result = Run(false, true, 7, 100);
  EXPECT_TRUE(result.stored);
  EXPECT_EQ(result.ordersStored, 5);
  EXPECT_EQ(output_.Text(),
            "7, SS, 100, 12\r\n7, MOVE, 110, 12, Alpha, 17\r\n7, SURV, 120, 12\r\n"
            "7, WARP, 130, 12\r\n7, SURV, 140, 12\r\n");
  EXPECT_EQ(Codes(store_.stored), "SS100 MOVE110 SURV120 WARP130 SURV140");
  // The same jump in Move mode.
  Run(false, false, 7, 100);
  EXPECT_EQ(output_.Text(), "7, MOVE, 100, 12, Alpha, 17\r\n7, WARP, 110, 12\r\n");
  EXPECT_EQ(store_.stored, (std::vector<OrderRow>{{7, "MOVE", 100, "12", "Alpha", "17"},
                                                  {7, "WARP", 110, "12", " ", " "}}));
  store_.taken = {-5, 100, 230};
  EXPECT_TRUE(Run(false, false, 3, 110, /*defaultStart=*/true).stored);
  EXPECT_EQ(Codes(store_.stored), "MOVE240 WARP250");
  EXPECT_EQ(output_.Text(), "3, MOVE, 240, 12, Alpha, 17\r\n3, WARP, 250, 12\r\n");
  store_.taken = {-5};
  EXPECT_TRUE(Run(false, false, 3, 110, true).stored);
  EXPECT_EQ(Codes(store_.stored), "MOVE10 WARP20");
}

// Nothing is stored for empire data that cannot be opened (a failure text without a line
// break of its own), or numbers past the column's range (the last one that fits is stored);
// a store that refuses the orders is reported at the end.
TEST_F(StoreRouteTest, OrdersAreStoredAllOrNothing) {
  EXPECT_FALSE(Run(true, false, 3, 2147483630).stored);
  EXPECT_EQ(output_.Text(),
            "3, CNVR, 2147483630, Alpha -> Beta\r\n3, MOVE, 2147483640, 1234, Alpha, 17\r\n"
            "3, WARP, 2147483650, 1234\r\n3, CNVR, 2147483660, Alpha -> Beta\r\n"
            "Could not store the orders: the order numbers would run past 2147483647\r\n");
  EXPECT_TRUE(store_.stored.empty());
  EXPECT_TRUE(Run(false, false, 3, 2147483637).stored);
  EXPECT_EQ(Codes(store_.stored), "MOVE2147483637 WARP2147483647");

  store_.failWith = "turn.db: database is locked";
  EXPECT_EQ(Run(false, false, 3, 10).storeError.reason, store_.failWith);
  EXPECT_EQ(output_.Text(),
            "3, MOVE, 10, 12, Alpha, 17\r\n3, WARP, 20, 12\r\n"
            "Could not store the orders: turn.db: database is locked\r\n");

  starMap_.databaseFiles.insert(dir_.File("gone.db"));
  EXPECT_TRUE(Run(false, false, 7, 100).plan.error.Failed());
  EXPECT_EQ(output_.Text(), "failed with hr=-2147467259\r\nNo orders were stored.\r\n");
  EXPECT_EQ(store_.calls, 3);  // never without a route
}

}  // namespace
}  // namespace lanewright
