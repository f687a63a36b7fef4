#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>

#include "store/BoundReader.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright::store {
namespace {

using testing::FixtureFormat;
using testing::TempDir;

// ---------------------------------------------------------------------------------------
// Conversions of bound values.

TEST(ConvertTest, ToInt32) {
  struct Case {
    const char* what;
    Cell cell;
    bool ok;
    std::int32_t value;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"largest", std::int64_t{2147483647}, true, 2147483647},
      {"smallest", std::int64_t{-2147483648LL}, true, -2147483647 - 1},
      {"one above", std::int64_t{2147483648LL}, false, 0},
      {"one below", std::int64_t{-2147483649LL}, false, 0},
      {"decimal text", std::string("42"), true, 42},
      {"negative text", std::string("-17"), true, -17},
      {"plus sign", std::string("+5"), true, 5},
      {"text at the limit", std::string("2147483647"), true, 2147483647},
      {"text above the limit", std::string("2147483648"), false, 0},
      {"text below the limit", std::string("-2147483649"), false, 0},
      {"leading blank", std::string(" 5"), false, 0},
      {"trailing letters", std::string("5x"), false, 0},
      {"sign only", std::string("+"), false, 0},
      {"two signs", std::string("+-5"), false, 0},
      {"empty text", std::string(""), false, 0},
      {"decimal point in text", std::string("5.0"), false, 0},
      {"whole real", 7.0, true, 7},
      {"negative zero", -0.0, true, 0},
      {"fraction", 7.5, false, 0},
      {"real at the limit", 2147483647.0, true, 2147483647},
      {"real above the limit", 2147483648.0, false, 0},
      {"not a number", nan, false, 0},
      {"infinity", std::numeric_limits<double>::infinity(), false, 0},
      {"NULL", std::monostate{}, false, 0},
      {"bytes", Blob{{'4', '2'}}, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::int32_t out = -99;
    EXPECT_EQ(ConvertToInt32(c.cell, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.value);
    }
  }
}

TEST(ConvertTest, ToTextCountsCharactersNotBytes) {
  std::string e50, e51;
  for (int i = 0; i < 50; ++i) e50 += "é";
  e51 = e50 + "é";
  std::string euro50;
  for (int i = 0; i < 50; ++i) euro50 += "€";
  struct Case {
    const char* what;
    Cell cell;
    bool ok;
    std::string text;
  };
  const Case cases[] = {
      {"50 ASCII", std::string(50, 'a'), true, std::string(50, 'a')},
      {"51 ASCII", std::string(51, 'a'), false, ""},
      {"50 two-byte characters", e50, true, e50},
      {"51 two-byte characters", e51, false, ""},
      {"50 three-byte characters", euro50, true, euro50},
      {"empty", std::string(), true, ""},
      {"number", std::int64_t{-123}, true, "-123"},
      {"real", 2.5, true, "2.5"},
      {"NULL", std::monostate{}, false, ""},
      {"bytes", Blob{{'a'}}, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out = "unchanged";
    EXPECT_EQ(ConvertToText(c.cell, 50, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.text);
    }
  }
}

TEST(ConvertTest, Utf8PrefixNeverSplitsACharacter) {
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
  static std::vector<Binding> EmpireBindings() {
    return {{Binding::Kind::Int32},
            {Binding::Kind::Int32},
            {Binding::Kind::Text, 50},
            {Binding::Kind::Text, 50},
            {Binding::Kind::Int32}};
  }
  TempDir dir_;
};

TEST_P(StoreFormatTest, OpenReportsTheProviderCodes) {
  const auto path = NewFile("e");
  testing::WriteEmpireFile(GetParam(), path, {{1, 3, "A", "BA", 1}});
  testing::WriteTable(GetParam(), path, "Four",
                      {{"a", "INTEGER"}, {"b", "INTEGER"}, {"c", "TEXT"}, {"d", "TEXT"}}, {});
  testing::WriteTable(
      GetParam(), path, "Blobs",
      {{"a", "INTEGER"}, {"b", "INTEGER"}, {"c", "TEXT"}, {"d", "BLOB"}, {"e", "INTEGER"}}, {});
  struct Case {
    const char* table;
    HResult code;
  };
  const Case cases[] = {
      {"Warp Points", S_OK},
      {"warp points", S_OK},
      {"WARP POINTS", S_OK},
      {"Warp Point", DB_E_NOTABLE},
      {"", DB_E_NOTABLE},
      {"Four", DB_E_BADORDINAL},
      {"Blobs", DB_E_UNSUPPORTEDCONVERSION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    BoundReader reader;
    EXPECT_EQ(reader.Open(path, c.table, EmpireBindings()), c.code) << reader.error().reason;
    if (c.code != S_OK) {
      EXPECT_EQ(reader.error().code, c.code);
      EXPECT_NE(reader.error().reason.find(path), std::string::npos) << reader.error().reason;
    }
  }
}

TEST_P(StoreFormatTest, UnreadableRowsAreSkippedAndCounted) {
  const auto path = NewFile("e");
  const std::string long51(51, 'L');
  testing::WriteTable(
      GetParam(), path, "Warp Points",
      {{"Index", "INTEGER"},
       {"Empire", "INTEGER"},
       {"System", "TEXT"},
       {"Destination", "TEXT"},
       {"WP", "INTEGER"}},
      {
          {std::int64_t{1}, std::int64_t{3}, std::string("A"), std::string("BA"), std::int64_t{1}},
          {std::int64_t{2}, std::monostate{}, std::string("B"), std::string("CA"), std::int64_t{2}},
          {std::int64_t{3}, std::int64_t{3}, long51, std::string("CA"), std::int64_t{3}},
          {std::int64_t{4}, std::int64_t{3}, std::string("D"), std::monostate{}, std::int64_t{4}},
          {std::int64_t{5}, std::int64_t{3}, std::string(50, 'E'), std::string(""),
           std::int64_t{5}},
      });
  BoundReader reader;
  ASSERT_EQ(reader.Open(path, "Warp Points", EmpireBindings()), S_OK) << reader.error().reason;
  std::vector<BoundValue> v;
  std::vector<std::int32_t> read;
  HResult hr;
  while ((hr = reader.MoveNext(v)) == S_OK) {
    read.push_back(v[0].number);
    if (v[0].number == 5) {
      EXPECT_EQ(v[2].text, std::string(50, 'E'));
      EXPECT_EQ(v[3].text, "") << "an empty text is a value, not a missing one";
    }
  }
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(read, (std::vector<std::int32_t>{1, 5}));
  EXPECT_EQ(reader.SkippedRows(), 3);
  EXPECT_EQ(reader.MoveNext(v), DB_S_ENDOFROWSET) << "the end is final";
}

TEST_P(StoreFormatTest, EmptyTableEndsAtOnce) {
  const auto path = NewFile("e");
  testing::WriteEmpireFile(GetParam(), path, {});
  BoundReader reader;
  ASSERT_EQ(reader.Open(path, "Warp Points", EmpireBindings()), S_OK);
  std::vector<BoundValue> v;
  EXPECT_EQ(reader.MoveNext(v), DB_S_ENDOFROWSET);
  EXPECT_EQ(reader.SkippedRows(), 0);
}

TEST_P(StoreFormatTest, ReadingChangesNothingOnDisk) {
  const auto path = NewFile("e");
  testing::WriteEmpireFile(GetParam(), path, {{1, 3, "A", "BA", 1}, {2, 3, "B", "AB", 2}});
  const std::string before = testing::ReadFile(path);
  struct stat st0 {};
  ::stat(path.c_str(), &st0);
  {
    BoundReader reader;
    ASSERT_EQ(reader.Open(path, "Warp Points", EmpireBindings()), S_OK);
    std::vector<BoundValue> v;
    ASSERT_EQ(reader.MoveNext(v), S_OK);
    // A second reader at the same time: nothing locks the others out.
    BoundReader second;
    ASSERT_EQ(second.Open(path, "Warp Points", EmpireBindings()), S_OK) << second.error().reason;
    ASSERT_EQ(second.MoveNext(v), S_OK);
  }
  // A missing file is reported, not created.
  BoundReader missing;
  EXPECT_EQ(missing.Open(NewFile("missing"), "Warp Points", EmpireBindings()), E_FAIL);

  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{std::filesystem::path(path).filename().string()})
      << "no journal, lock or new file may be left behind";
  EXPECT_EQ(testing::ReadFile(path), before);
  struct stat st1 {};
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
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  const std::string text = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << text;
}

std::vector<std::int64_t> FirstColumn(const std::string& path, const std::string& table) {
  StoreError err;
  auto reader = OpenTable(path, table, err);
  EXPECT_TRUE(reader) << err.reason;
  std::vector<std::int64_t> out;
  if (!reader) return out;
  Row row;
  HResult hr;
  while ((hr = reader->Next(row)) == S_OK) out.push_back(std::get<std::int64_t>(row[0]));
  EXPECT_EQ(hr, DB_S_ENDOFROWSET) << reader->error().reason;
  return out;
}

TEST(SqliteTableTest, RowsComeInRowidOrder) {
  TempDir dir;
  const auto path = dir.File("e.db");
  RunSql(path,
         "CREATE TABLE t(a INTEGER, b TEXT);"
         "INSERT INTO t(rowid, a, b) VALUES (50, 5, 'x'), (20, 2, 'y'), (90, 9, 'z'), (-1, 0, 'w');"
         // A column that takes the name of the usual rowid alias must not reorder rows.
         "CREATE TABLE u(_rowid_ INTEGER, v INTEGER);"
         "INSERT INTO u(rowid, _rowid_, v) VALUES (2, 1, 0), (1, 2, 0), (3, 0, 0);");
  EXPECT_EQ(FirstColumn(path, "t"), (std::vector<std::int64_t>{0, 2, 5, 9}));
  EXPECT_EQ(FirstColumn(path, "U"), (std::vector<std::int64_t>{2, 1, 0}));
}

TEST(SqliteTableTest, TablesWithoutRowidAndOddNamesAreRead) {
  TempDir dir;
  const auto path = dir.File("e.db");
  RunSql(path,
         "CREATE TABLE k(id INTEGER PRIMARY KEY, v TEXT) WITHOUT ROWID;"
         "INSERT INTO k VALUES (3, 'c'), (1, 'a'), (2, 'b');"
         // The clause may be spelt over several lines.
         "CREATE TABLE k2(id INTEGER PRIMARY KEY, v TEXT) WITHOUT\n  ROWID;"
         "INSERT INTO k2 VALUES (8, 'c'), (7, 'a');"
         "CREATE TABLE \"Warp \"\"Points\"\"\"(a INTEGER);"
         "INSERT INTO \"Warp \"\"Points\"\"\" VALUES (4);");
  EXPECT_EQ(FirstColumn(path, "K"), (std::vector<std::int64_t>{1, 2, 3}));
  EXPECT_EQ(FirstColumn(path, "k2"), (std::vector<std::int64_t>{7, 8}));
  EXPECT_EQ(FirstColumn(path, "warp \"points\""), (std::vector<std::int64_t>{4}));
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
  const auto values = FirstColumn("file:x/e.db", "t");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(values, (std::vector<std::int64_t>{7}));
}

TEST(SqliteTableTest, ViewsAreNotTables) {
  TempDir dir;
  const auto path = dir.File("e.db");
  RunSql(path, "CREATE TABLE t(a INTEGER); CREATE VIEW \"Warp Points\" AS SELECT * FROM t;");
  StoreError err;
  EXPECT_FALSE(OpenTable(path, "Warp Points", err));
  EXPECT_EQ(err.code, DB_E_NOTABLE);
}

TEST(SqliteTableTest, WalFileIsReadUnchanged) {
  TempDir dir;
  const auto path = dir.File("e.db");
  RunSql(path,
         "PRAGMA journal_mode=WAL; CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (1), (2);");
  const std::string before = testing::ReadFile(path);
  EXPECT_EQ(FirstColumn(path, "t"), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(testing::ReadFile(path), before);
}

// ---------------------------------------------------------------------------------------
// Jet files whose header already tells they cannot be read.

TEST(JetTableTest, HeaderProblemsAreExplained) {
  TempDir dir;
  std::string page(4096 * 4, '\0');
  std::memcpy(page.data() + 4, "Standard Jet DB", 15);
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  auto with = [&](std::size_t at, char value, std::size_t size) {
    std::string b = page.substr(0, size);
    b[at] = value;
    return b;
  };
  const Case cases[] = {
      {"signature only", page.substr(0, 19), "not a Jet database"},
      {"first byte set", with(0, 1, page.size()), "not a Jet database"},
      {"unknown version", with(0x14, 0x20, page.size()), "not a Jet database"},
      {"shorter than the first pages", with(0x14, 1, 5000), "truncated"},
      {"Jet3 pages, too short", with(0x14, 0, 2048), "truncated"},
      {"header of zeros", page, "damaged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = dir.File("x.mdb");
    testing::WriteFile(path, c.bytes);
    StoreError err;
    EXPECT_FALSE(OpenTable(path, "Warp Points", err));
    EXPECT_EQ(err.code, E_FAIL);
    EXPECT_NE(err.reason.find(c.reason), std::string::npos) << err.reason;
    EXPECT_EQ(err.reason.rfind(path, 0), 0u) << err.reason;
  }
}

}  // namespace
}  // namespace lanewright::store
