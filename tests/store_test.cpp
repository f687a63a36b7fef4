#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>

#include "store/BoundReader.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright::store {
namespace {

using testing::FixtureFormat;
using testing::TempDir;

const std::vector<Binding> kEmpireBindings = {{Binding::Kind::Int32},
                                              {Binding::Kind::Int32},
                                              {Binding::Kind::Text, 50},
                                              {Binding::Kind::Text, 50},
                                              {Binding::Kind::Int32}};

// ---------------------------------------------------------------------------------------
// Conversions of bound values: to a 32-bit number, or to a text of at most 50 characters.

TEST(ConvertTest, BoundValues) {
  std::string e50, euro50;
  for (int i = 0; i < 50; ++i) e50 += "é", euro50 += "€";
  const double inf = std::numeric_limits<double>::infinity();
  enum To { Int, Text };
  struct Case {
    const char* what;
    To to;
    Cell cell;
    bool ok;
    std::string value;  // for numbers, in decimal
  };
  const Case cases[] = {
      {"largest", Int, std::int64_t{2147483647}, true, "2147483647"},
      {"smallest", Int, std::int64_t{-2147483648LL}, true, "-2147483648"},
      {"one above", Int, std::int64_t{2147483648LL}, false, ""},
      {"one below", Int, std::int64_t{-2147483649LL}, false, ""},
      {"decimal text", Int, std::string("42"), true, "42"},
      {"negative text", Int, std::string("-17"), true, "-17"},
      {"plus sign", Int, std::string("+5"), true, "5"},
      {"text at the limit", Int, std::string("2147483647"), true, "2147483647"},
      {"text above the limit", Int, std::string("2147483648"), false, ""},
      {"text below the limit", Int, std::string("-2147483649"), false, ""},
      {"leading blank", Int, std::string(" 5"), false, ""},
      {"trailing letters", Int, std::string("5x"), false, ""},
      {"sign only", Int, std::string("+"), false, ""},
      {"two signs", Int, std::string("+-5"), false, ""},
      {"empty text", Int, std::string(""), false, ""},
      {"decimal point in text", Int, std::string("5.0"), false, ""},
      {"whole real", Int, 7.0, true, "7"},
      {"negative zero", Int, -0.0, true, "0"},
      {"fraction", Int, 7.5, false, ""},
      {"real at the limit", Int, 2147483647.0, true, "2147483647"},
      {"real above the limit", Int, 2147483648.0, false, ""},
      {"not a number", Int, std::numeric_limits<double>::quiet_NaN(), false, ""},
      {"infinity", Int, inf, false, ""},
      {"NULL as number", Int, std::monostate{}, false, ""},
      {"bytes as number", Int, Blob{{'4', '2'}}, false, ""},
      {"50 ASCII", Text, std::string(50, 'a'), true, std::string(50, 'a')},
      {"51 ASCII", Text, std::string(51, 'a'), false, ""},
      {"50 two-byte characters", Text, e50, true, e50},
      {"51 two-byte characters", Text, e50 + "é", false, ""},
      {"50 three-byte characters", Text, euro50, true, euro50},
      {"empty", Text, std::string(), true, ""},
      {"number as text", Text, std::int64_t{-123}, true, "-123"},
      {"real as text", Text, 2.5, true, "2.5"},
      {"NULL as text", Text, std::monostate{}, false, ""},
      {"bytes as text", Text, Blob{{'a'}}, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::int32_t number = -99;
    std::string text = "unchanged";
    const bool ok = c.to == Int ? ConvertToInt32(c.cell, number) : ConvertToText(c.cell, 50, text);
    EXPECT_EQ(ok, c.ok);
    if (c.ok) EXPECT_EQ(c.to == Int ? std::to_string(number) : text, c.value);
  }
  // Cutting a text never splits a character.
  EXPECT_EQ(Utf8Prefix("aé€b", 3), "aé€");
  EXPECT_EQ(Utf8Prefix("aé€b", 2), "aé");
  EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
  EXPECT_EQ(Utf8Length("aé€"), 3u);
}

// ---------------------------------------------------------------------------------------
// Reading, the same for every file format the fixtures can write.

class StoreFormatTest : public ::testing::TestWithParam<FixtureFormat> {
 protected:
  std::string NewFile(const std::string& stem) {
    return dir_.File(stem + (GetParam() == FixtureFormat::Sqlite ? ".db" : ".mdb"));
  }
  TempDir dir_;
};

// One file holds every case; a reader kept open throughout shows that nothing locks the
// others out, and at the end the folder and the file are as they were.
TEST_P(StoreFormatTest, ReadsConvertibleRowsAndReportsTheProviderCodes) {
  const auto path = NewFile("e");
  const std::vector<testing::FixtureColumn> five = {{"Index", "INTEGER"},
                                                    {"Empire", "INTEGER"},
                                                    {"System", "TEXT"},
                                                    {"Dest", "TEXT"},
                                                    {"WP", "INTEGER"}};
  auto row = [](std::int64_t index, Cell empire, Cell system, Cell destination) {
    return Row{index, std::move(empire), std::move(system), std::move(destination), index};
  };
  const std::int64_t three = 3;
  testing::WriteTable(GetParam(), path, "Warp Points", five,
                      {row(1, three, std::string("A"), std::string("BA")),
                       row(2, std::monostate{}, std::string("B"), std::string("CA")),
                       row(3, three, std::string(51, 'L'), std::string("CA")),
                       row(4, three, std::string("D"), std::monostate{}),
                       row(5, three, std::string(50, 'E'), std::string(""))});
  testing::WriteTable(GetParam(), path, "Empty", five, {});
  testing::WriteTable(GetParam(), path, "Four", {five.begin(), five.begin() + 4}, {});
  testing::WriteTable(
      GetParam(), path, "Blobs",
      {{"a", "INTEGER"}, {"b", "INTEGER"}, {"c", "TEXT"}, {"d", "BLOB"}, {"e", "INTEGER"}}, {});
  const std::string before = testing::ReadFile(path);
  struct stat st0 = {}, st1 = {};
  ::stat(path.c_str(), &st0);
  std::optional<BoundReader> held(std::in_place);
  std::vector<BoundValue> v;
  ASSERT_EQ(held->Open(path, "Warp Points", kEmpireBindings), S_OK) << held->error().reason;
  ASSERT_EQ(held->MoveNext(v), S_OK);

  // Rows with NULL or over-long values are skipped and counted; an empty text is a value.
  const std::vector<std::string> read{"1/A/BA", "5/" + std::string(50, 'E') + "/"};
  struct Case {
    const char* table;
    HResult code;
    std::vector<std::string> rows;  // number, system and destination of each row read
    int skipped;
  };
  const Case cases[] = {
      {"Warp Points", S_OK, read, 3},
      {"WARP points", S_OK, read, 3},
      {"Empty", S_OK, {}, 0},
      {"Warp Point", DB_E_NOTABLE, {}, 0},
      {"", DB_E_NOTABLE, {}, 0},
      {"Four", DB_E_BADORDINAL, {}, 0},
      {"Blobs", DB_E_UNSUPPORTEDCONVERSION, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    BoundReader reader;
    EXPECT_EQ(reader.Open(path, c.table, kEmpireBindings), c.code) << reader.error().reason;
    if (c.code != S_OK) {
      EXPECT_EQ(reader.error().code, c.code);
      EXPECT_NE(reader.error().reason.find(path), std::string::npos) << reader.error().reason;
      continue;
    }
    std::vector<std::string> rows;
    HResult hr;
    while ((hr = reader.MoveNext(v)) == S_OK)
      rows.push_back(std::to_string(v[0].number) + "/" + v[2].text + "/" + v[3].text);
    EXPECT_EQ(hr, DB_S_ENDOFROWSET);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(reader.SkippedRows(), c.skipped);
    EXPECT_EQ(reader.MoveNext(v), DB_S_ENDOFROWSET) << "the end is final";
  }
  // A missing file is reported, not created.
  BoundReader missing;
  EXPECT_EQ(missing.Open(NewFile("missing"), "Warp Points", kEmpireBindings), E_FAIL);
  held.reset();

  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{std::filesystem::path(path).filename().string()})
      << "no journal, lock or new file may be left behind";
  EXPECT_EQ(testing::ReadFile(path), before);
  ::stat(path.c_str(), &st1);
  EXPECT_EQ(st0.st_mtim.tv_sec, st1.st_mtim.tv_sec);
  EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, StoreFormatTest,
                         ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const ::testing::TestParamInfo<FixtureFormat>& info) {
                           return std::string(testing::FormatName(info.param));
                         });

// ---------------------------------------------------------------------------------------
// SQLite specifics: files written with SQL the fixture writer does not produce.

void RunSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  EXPECT_EQ(rc, SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// The first column of every row, then how the reading ended.
std::string Read(const std::string& path, const std::string& table) {
  StoreError err;
  auto reader = OpenTable(path, table, err);
  if (!reader) return err.code == DB_E_NOTABLE ? "no table" : err.reason;
  std::string out;
  Row row;
  HResult hr;
  while ((hr = reader->Next(row)) == S_OK)
    out += std::to_string(std::get<std::int64_t>(row[0])) + " ";
  return out + (hr == DB_S_ENDOFROWSET ? "end" : reader->error().reason);
}

TEST(SqliteTableTest, TablesAreReadInRowidOrderWhateverTheirShape) {
  const char* cases[][3] = {
      // A column that takes the name of the usual rowid alias must not reorder rows.
      {"CREATE TABLE u(_rowid_ INTEGER, v INTEGER); INSERT INTO u(rowid, _rowid_, v)"
       " VALUES (2, 1, 0), (1, 2, 0), (3, 0, 0), (-1, 5, 0);",
       "U", "5 2 1 0 end"},
      {"CREATE TABLE k(id INTEGER PRIMARY KEY, v TEXT) WITHOUT\n ROWID;"
       "INSERT INTO k VALUES (3, 'c'), (1, 'a'), (2, 'b');",
       "K", "1 2 3 end"},
      {"CREATE TABLE \"Warp \"\"Points\"\"\"(a INTEGER);"
       "INSERT INTO \"Warp \"\"Points\"\"\" VALUES (4);",
       "warp \"points\"", "4 end"},
      {"CREATE TABLE t(a INTEGER); CREATE VIEW \"Warp Points\" AS SELECT * FROM t;", "Warp Points",
       "no table"},
      {"PRAGMA journal_mode=WAL; CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (1);", "t",
       "1 end"},
  };
  for (const auto& [sql, table, expected] : cases) {
    SCOPED_TRACE(sql);
    TempDir dir;
    const auto path = dir.File("e.db");
    RunSql(path, sql);
    const std::string before = testing::ReadFile(path);
    EXPECT_EQ(Read(path, table), expected);
    EXPECT_EQ(testing::ReadFile(path), before);
  }
}

TEST(SqliteTableTest, FileNamesThatLookLikeUrisAreFileNames) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "file:x");
  RunSql(dir.File("file:x/e.db"), "CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (7);");
  std::filesystem::create_directory(dir.path() / "x");
  RunSql(dir.File("x/e.db"), "CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (1);");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  // As a URI, "file:x/e.db" would name x/e.db; as a path it is the file inside "file:x".
  const auto values = Read("file:x/e.db", "t");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(values, "7 end");
}

// ---------------------------------------------------------------------------------------
// Jet files whose header already tells they cannot be read.

TEST(JetTableTest, HeaderProblemsAreExplained) {
  TempDir dir;
  std::string page(4096 * 4, '\0');
  std::memcpy(page.data() + 4, "Standard Jet DB", 15);
  auto with = [&](std::size_t at, char value, std::size_t size) {
    std::string b = page.substr(0, size);
    b[at] = value;
    return b;
  };
  const std::pair<std::string, const char*> cases[] = {
      {page.substr(0, 19), "not a Jet database"},             // signature only
      {with(0, 1, page.size()), "not a Jet database"},        // first byte set
      {with(0x14, 0x20, page.size()), "not a Jet database"},  // unknown version
      {with(0x14, 1, 5000), "truncated"},                     // shorter than the first pages
      {with(0x14, 0, 2048), "truncated"},                     // Jet3 pages, too short
      {page, "damaged"},                                      // header of zeros
  };
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason);
    const auto path = dir.File("x.mdb");
    testing::WriteFile(path, bytes);
    StoreError err;
    EXPECT_FALSE(OpenTable(path, "Warp Points", err));
    EXPECT_EQ(err.code, E_FAIL);
    EXPECT_NE(err.reason.find(reason), std::string::npos) << err.reason;
    EXPECT_EQ(err.reason.rfind(path, 0), 0u) << err.reason;
  }
}

}  // namespace
}  // namespace lanewright::store
