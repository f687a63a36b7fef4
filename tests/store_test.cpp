#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>
#include <tuple>

#include "store/BoundReader.h"
#include "store/ReplaceFile.h"
#include "store/TableWriter.h"
#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright::store {
namespace {

namespace fs = std::filesystem;
using testing::FixtureFormat;
using testing::Listing;
using testing::TempDir;

const Binding kNumber{Binding::Kind::Int32}, kText{Binding::Kind::Text, 50};
const std::vector<Binding> kEmpireBindings = {kNumber, kNumber, kText, kText, kNumber};

// Conversions of bound values: to a 32-bit number, or to a text of at most 50 characters.
// The text fuzzer checks numbers and texts against references, starting from its seeds
// (the limits, signs, reals, texts of 50 and 51 characters); here are the cells it does not
// make, and the text of a real, which must be its shortest.

TEST(ConvertTest, BoundValuesTheFuzzerDoesNotMake) {
  for (const Cell& cell : {Cell{std::monostate{}}, Cell{Blob{{'4', '2'}}}}) {
    std::int32_t number = 0;
    std::string text;
    EXPECT_FALSE(ConvertToInt32(cell, number));
    EXPECT_FALSE(ConvertToText(cell, 50, text));
  }
  std::string text;
  EXPECT_TRUE(ConvertToText(Cell{2.5}, 50, text));
  EXPECT_EQ(text, "2.5");
}

// Reading, the same for every file format the fixtures can write.

class StoreFormatTest : public ::testing::TestWithParam<FixtureFormat> {};

// One file holds every case; a reader kept open throughout shows that nothing locks the
// others out, and at the end the folder and the file are as they were.
TEST_P(StoreFormatTest, ReadsConvertibleRowsAndReportsTheProviderCodes) {
  TempDir dir;
  const auto path = dir.File(GetParam() == FixtureFormat::Sqlite ? "e.db" : "e.mdb");
  std::vector<testing::FixtureColumn> columns = {
      {"Index", "INTEGER"}, {"Empire", "INTEGER"}, {"System", "TEXT"}, {"Dest", "TEXT"}};
  testing::WriteTable(GetParam(), path, "Four", columns, {});
  columns.push_back({"WP", "INTEGER"});
  testing::WriteTable(GetParam(), path, "Empty", columns, {});
  auto row = [](std::int64_t index, Cell empire, Cell system, Cell destination) {
    return Row{index, std::move(empire), std::move(system), std::move(destination), index};
  };
  const std::int64_t three = 3;
  // Rows 2 to 4 do not convert; row 4 twice over, and it still counts once.
  testing::WriteTable(GetParam(), path, "Warp Points", columns,
                      {row(1, three, std::string("A"), std::string("BA")),
                       row(2, std::monostate{}, std::string("B"), std::string("CA")),
                       row(3, three, std::string(51, 'L'), std::string("CA")),
                       row(4, std::monostate{}, std::string("D"), std::monostate{}),
                       row(5, three, std::string(50, 'E'), std::string(""))});
  columns[3].type = "BLOB";
  testing::WriteTable(GetParam(), path, "Blobs", columns, {});
  const std::string before = testing::ReadFile(path);
  std::optional<BoundReader> held(std::in_place);
  std::vector<BoundField> v;
  ASSERT_EQ(held->Open(path, "Warp Points", kEmpireBindings), S_OK) << held->error().reason;
  ASSERT_EQ(held->MoveNext(v), S_OK);

  // Rows with NULL or over-long values are skipped and counted; an empty text is a value.
  const std::vector<std::string> read{"1/A/BA", "5/" + std::string(50, 'E') + "/"};
  // Table, result, number/system/destination of each row read, rows skipped.
  const std::tuple<const char*, HResult, std::vector<std::string>, int> cases[] = {
      {"Warp Points", S_OK, read, 3},
      {"WARP points", S_OK, read, 3},
      {"Empty", S_OK, {}, 0},
      {"Warp Point", DB_E_NOTABLE, {}, 0},
      {"", DB_E_NOTABLE, {}, 0},
      {"Four", DB_E_BADORDINAL, {}, 0},
      {"Blobs", DB_E_UNSUPPORTEDCONVERSION, {}, 0},
  };
  for (const auto& [table, code, expected, skipped] : cases) {
    SCOPED_TRACE(table);
    BoundReader reader;
    EXPECT_EQ(reader.Open(path, table, kEmpireBindings), code) << reader.error().reason;
    if (code != S_OK) {
      EXPECT_EQ(reader.error().code, code);
      EXPECT_NE(reader.error().reason.find(path), std::string::npos) << reader.error().reason;
      continue;
    }
    std::vector<std::string> rows;
    HResult hr;
    while ((hr = reader.MoveNext(v)) == S_OK)
      rows.push_back(fmt::format("{}/{}/{}", v[0].number, v[2].text, v[3].text));
    EXPECT_EQ(hr, DB_S_ENDOFROWSET);
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(reader.SkippedRows(), skipped);
    EXPECT_EQ(reader.MoveNext(v), DB_S_ENDOFROWSET) << "the end is final";
  }
  held.reset();
  EXPECT_EQ(Listing(dir.path()), std::set<std::string>{fs::path(path).filename()})
      << "no journal, lock or new file may be left behind";
  EXPECT_EQ(testing::ReadFile(path), before);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, StoreFormatTest,
                         ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const ::testing::TestParamInfo<FixtureFormat>& info) {
                           return std::string(testing::FormatName(info.param));
                         });

// Paths that are no database file are reported as what they are, at once: a FIFO is
// never opened for reading, where it would wait for a writer.
TEST(OpenTableTest, WhatIsNotADatabaseFileIsNamed) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  testing::WriteFile(dir.File("text"), "Warp Points\n");
  testing::WriteFile(dir.File("locked"), "SQLite format 3");
  ::chmod(dir.File("locked").c_str(), 0);
  std::vector<std::pair<std::string, const char*>> cases = {
      {dir.File("missing.db"), "no such file"},
      {dir.File("missing/deeper.db"), "no such file"},
      {"", "no such file"},
      {dir.path().string(), "is a folder, not a database file"},
      {dir.File("fifo"), "not a regular file"},
      {"/dev/null", "not a regular file"},
      {dir.File("text"), "not a Jet (.mdb) or SQLite database"},
  };
  if (::geteuid() != 0) cases.push_back({dir.File("locked"), "Permission denied"});
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    StoreError err;
    EXPECT_FALSE(OpenTable(path, "Warp Points", err));
    EXPECT_EQ(err.code, E_FAIL);
    EXPECT_EQ(err.reason, path + ": " + reason) << err.reason;
    EXPECT_EQ(AppendRows(path, "Warp Points", {{Cell{}}}).reason, err.reason);
  }
}

// SQLite specifics: files written with SQL the fixture writer does not produce.

void RunSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  EXPECT_EQ(rc, SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// Every row as its cells joined by '/', then how the reading ended.
std::string Read(const std::string& path, const std::string& table) {
  StoreError err;
  std::string out;
  for (const Row& row : testing::ReadAllRows(path, table, err)) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      out += i ? "/" : "";
      if (const auto* n = std::get_if<std::int64_t>(&row[i])) out += std::to_string(*n);
      if (const auto* s = std::get_if<std::string>(&row[i])) out += *s;
    }
    out += " ";
  }
  return out + (err.code == DB_E_NOTABLE ? "no table" : err.Failed() ? err.reason : "end");
}

TEST(SqliteTableTest, TablesAreReadInRowidOrderWhateverTheirShape) {
  const char* cases[][3] = {
      // A column that takes the name of the usual rowid alias must not reorder rows.
      {"CREATE TABLE u(_rowid_ INTEGER); INSERT INTO u(rowid, _rowid_)"
       " VALUES (2, 1), (1, 2), (3, 0), (-1, 5);",
       "U", "5 2 1 0 end"},
      {"CREATE TABLE k(id INTEGER PRIMARY KEY, v TEXT) WITHOUT\n ROWID;"
       "INSERT INTO k VALUES (3, 'c'), (1, 'a'), (2, 'b');",
       "K", "1/a 2/b 3/c end"},
      {"CREATE TABLE \"Warp \"\"Points\"\"\"(a INTEGER);"
       "INSERT INTO \"Warp \"\"Points\"\"\" VALUES (4);",
       "warp \"points\"", "4 end"},
      {"CREATE TABLE t(a INTEGER); CREATE VIEW \"Warp Points\" AS SELECT * FROM t;", "Warp Points",
       "no table"},
      {"PRAGMA journal_mode=WAL; CREATE TABLE t(a INTEGER); INSERT INTO t VALUES (1);", "t",
       "1 end"},
      // A text ends at its first NUL, as a zero-terminated field holds it.
      {"CREATE TABLE t(a TEXT, b TEXT); INSERT INTO t VALUES (CAST(x'6162006364' AS TEXT), "
       "CAST(x'00' AS TEXT))",
       "t", "ab/ end"},
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
  for (const auto& [folder, value] : {std::pair{"file:x", 7}, std::pair{"x", 1}}) {
    fs::create_directory(dir.path() / folder);
    RunSql(dir.File(folder + std::string("/e.db")),
           fmt::format("CREATE TABLE t(a INTEGER); INSERT INTO t VALUES ({});", value));
  }
  const auto cwd = fs::current_path();
  fs::current_path(dir.path());
  // As a URI, "file:x/e.db" would name x/e.db; as a path it is the file inside "file:x".
  const auto values = Read("file:x/e.db", "t");
  fs::current_path(cwd);
  EXPECT_EQ(values, "7 end");
}

// Files built to make the reader (or a writer) work or allocate without bound are refused
// quickly and cleanly, whatever the trick: a value far over the size limit, many values
// under it per row, a trigger that loops. The empire loader runs in its own process for
// the cases that would allocate, so that its memory can be measured.
TEST(SqliteTableTest, HostileFilesAreRefusedQuickly) {
  // "Warp Points" whose third column is computed by expression (quotes doubled: it goes into
  // an SQL string) for every row read. SQLite would compute it for every row stored, too:
  // the rows go in first, and the column is written into the schema afterwards.
  const auto computed = [](const std::string& expression, int rows) {
    return fmt::format(
        "CREATE TABLE \"Warp Points\"(a INTEGER, b INTEGER, d TEXT, e INTEGER);"
        "INSERT INTO \"Warp Points\" WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
        "FROM n WHERE x < {}) SELECT x, 1, 'DA', x FROM n; PRAGMA writable_schema = ON;"
        "UPDATE sqlite_schema SET sql = 'CREATE TABLE \"Warp Points\"(a INTEGER, b INTEGER, "
        "c TEXT GENERATED ALWAYS AS ({}), d TEXT, e INTEGER)' WHERE name = 'Warp Points';",
        rows, expression);
  };
  std::string manyTerms;
  for (int i = 0; i < 40; ++i)
    manyTerms += fmt::format("{}length(hex(zeroblob(15000 + b + {})))", i ? " + " : "", i);
  const std::string orders = "CREATE TABLE Orders(a INTEGER);";
  // What, the SQL, whether it appends a row to Orders instead of reading "Warp Points",
  // whether the program also loads it (measuring time and memory), the reason after "PATH: ".
  const std::tuple<const char*, std::string, bool, bool, const char*> cases[] = {
      {"a generated 300 MB blob", computed("zeroblob(300000000)", 4), false, true,
       "refused: it holds or builds a value over 32768 bytes"},
      {"a generated 300 MB text", computed("printf(''%.*c'', 300000000, ''x'')", 4), false, true,
       "refused: it calls printf(), which can take unbounded time"},
      {"much work in every row", computed(manyTerms, 2000), false, false,
       "refused: it makes SQLite work far more"},
      {"a virtual table", "CREATE VIRTUAL TABLE \"Warp Points\" USING fts5(a, b, c, d, e);", false,
       false, "refused: \"Warp Points\" is a virtual table"},
      {"a trigger that never ends",
       orders + "CREATE TRIGGER t AFTER INSERT ON Orders BEGIN WITH RECURSIVE n(x) AS (SELECT 1 "
                "UNION ALL SELECT x + 1 FROM n) SELECT count(*) FROM n; END;",
       true, false, "refused: it makes SQLite work far more"},
      {"a trigger that asks for a 300 MB blob",
       orders + "CREATE TRIGGER t AFTER INSERT ON Orders BEGIN SELECT randomblob(300000000); END;",
       true, false, "refused: it holds or builds a value over 32768 bytes"},
  };
  for (const auto& [what, sql, append, measure, reason] : cases) {
    SCOPED_TRACE(what);
    TempDir dir;
    const auto path = dir.File("hostile.db");
    RunSql(path, sql);
    const auto started = std::chrono::steady_clock::now();
    const StoreError err = append ? AppendRows(path, "orders", {{std::int64_t{1}}})
                                  : testing::ReadEmpireTable(path).error;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(err.code, E_FAIL);
    EXPECT_EQ(err.reason.rfind(path + ": " + reason, 0), 0u) << err.reason;
    if (measure) {
      const auto run = testing::RunLanewright({"systems", path});
      EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;
      EXPECT_LT(run.seconds, 2.0);
      EXPECT_LT(run.maxRssKb, 100 * 1024);
    }
  }
}

// Replacing a file whole, or writing into what cannot be replaced.

TEST(ReplaceFileTest, EveryKindOfTarget) {
  const mode_t umask = ::umask(022);
  ::umask(umask);
  // What is at the path, the file's mode afterwards, the reason ("": written).
  const std::tuple<std::string, mode_t, std::string> cases[] = {
      {"nothing", 0666 & ~umask, ""},
      {"file", 0640, ""},  // keeps its permissions
      {"link", 0640, ""},  // the file behind it is replaced, the link stays
      {"/dev/null", 0, ""},
      {"folder", 0, "it is a folder"},
      {"socket", 0, "it is a socket; it is not written"},
      {"missing/folder", 0, "No such file or directory"},
      {"read-only", 0444, "Permission denied"},
  };
  for (const auto& [target, mode, reason] : cases) {
    SCOPED_TRACE(target);
    if (target == "read-only" && ::geteuid() == 0) continue;  // root writes all
    TempDir dir;
    const std::string file = dir.File("map.dot");
    std::string path = target == "missing/folder" ? dir.File(target) : file;
    if (target == "file" || target == "link" || target == "read-only") {
      testing::WriteFile(file, "old");
      ::chmod(file.c_str(), mode);
    }
    if (target == "link") fs::create_symlink("map.dot", path = dir.File("link.dot"));
    if (target == "/dev/null") path = target;
    if (target == "folder") path = dir.path();
    if (target == "socket") {
      sockaddr_un address{AF_UNIX, {}};
      std::strncpy(address.sun_path, file.c_str(), sizeof address.sun_path - 1);
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      ::close(fd);
    }
    auto before = Listing(dir.path());
    const ReplaceFileResult result = ReplaceFile(path, "new");
    EXPECT_EQ(result.reason, reason);
    EXPECT_EQ(result.status == ReplaceFileResult::Status::Written, reason.empty());
    if (fs::is_regular_file(file)) {
      EXPECT_EQ(testing::ReadFile(file), reason.empty() ? "new" : "old");
      EXPECT_EQ(static_cast<mode_t>(fs::status(file).permissions()), mode);
    }
    EXPECT_TRUE(target != "link" || fs::is_symlink(path));
    EXPECT_TRUE(target != "/dev/null" || fs::is_character_file(path));
    auto after = Listing(dir.path());
    before.erase("map.dot"), after.erase("map.dot");
    EXPECT_EQ(after, before) << "a copy was left behind";
  }
}

TEST(ReplaceFileTest, WritesIntoAFifoAsItIsRead) {
  TempDir dir;
  const std::string fifo = dir.File("out");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The reading end is open before the write, so that a write that goes elsewhere ends
  // the test instead of hanging it.
  FileDescriptor in(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  std::string got;
  std::thread reader([&] {
    char buffer[65536];
    for (pollfd p{in.get(), POLLIN, 0}; ::poll(&p, 1, 2000) > 0;) {
      const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
      if (n == 0) break;
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
  });
  const std::string text(200000, 'x');  // more than a pipe holds at once
  EXPECT_EQ(ReplaceFile(fifo, text).reason, "");
  reader.join();
  EXPECT_EQ(got, text);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// Copies left by a killed write go on the next write to the same file; a copy whose
// writer still runs, another file's copy and names of another shape stay.
TEST(ReplaceFileTest, RemovesCopiesOfKilledWrites) {
  TempDir dir;
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string stale = fmt::format(".map.dot.lanewright-{}-3.tmp", gone);
  std::set<std::string> kept = {fmt::format(".map.dot.lanewright-{}-4.tmp", ::getpid()),
                                fmt::format(".other.dot.lanewright-{}-3.tmp", gone),
                                fmt::format(".map.dot.lanewright-{}-3.tmp.bak", gone),
                                ".map.dot.lanewright-x-3.tmp"};
  for (const auto& name : kept) testing::WriteFile(dir.File(name), "");
  testing::WriteFile(dir.File(stale), "");
  ASSERT_EQ(ReplaceFile(dir.File("map.dot"), "new").reason, "");
  kept.insert("map.dot");
  EXPECT_EQ(Listing(dir.path()), kept);
}

}  // namespace
}  // namespace lanewright::store
