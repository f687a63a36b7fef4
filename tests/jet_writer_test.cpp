// Every file the Jet writer makes is read back by two readers that share no code with it
// or with each other: mdbtools' command-line tools and the npm package mdb-reader.

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "store/JetFormat.h"
#include "store/JetWriter.h"
#include "store/JetWriterImage.h"
#include "support/TempDir.h"

extern char** environ;

namespace lanewright::store {
namespace {

using testing::TempDir;

struct ToolResult {
  int exitCode = -1;
  std::string out, err;
};

ToolResult RunTool(const std::vector<std::string>& argv) {
  TempDir scratch;
  const std::string outPath = scratch.File("out"), errPath = scratch.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  ToolResult r;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    r.err = "cannot start " + argv[0];
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = testing::ReadFile(outPath);
  r.err += testing::ReadFile(errPath);
  return r;
}

const std::string kDumpScript = std::string(LANEWRIGHT_SOURCE_DIR) + "/tools/mdb-reader/dump.mjs";

// The second reader is a test dependency like mdbtools: a machine without it must fail
// loudly, never pass by skipping.
void RequireNodeReader() {
  const ToolResult node = RunTool({"node", "--version"});
  ASSERT_EQ(node.exitCode, 0) << "Node.js is not installed; run scripts/bootstrap";
  ASSERT_TRUE(std::filesystem::exists(std::string(LANEWRIGHT_SOURCE_DIR) +
                                      "/tools/mdb-reader/node_modules/mdb-reader/package.json"))
      << "the npm package mdb-reader is not installed in tools/mdb-reader; run scripts/bootstrap";
}

std::string CsvText(const std::string& s) {
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// What mdb-export prints: NULL and "" alike as an empty field.
std::string ExpectedExport(const JetTableSpec& t) {
  std::string out;
  for (std::size_t i = 0; i < t.columns.size(); ++i) out += (i ? "," : "") + t.columns[i].name;
  out += "\n";
  for (const Row& row : t.rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) out += ",";
      if (const auto* n = std::get_if<std::int64_t>(&row[i])) out += std::to_string(*n);
      if (const auto* s = std::get_if<std::string>(&row[i]); s && !s->empty()) out += CsvText(*s);
    }
    out += "\n";
  }
  return out;
}

// What tools/mdb-reader/dump.mjs prints: it keeps NULL and "" apart.
std::string ExpectedNodeDump(const JetTableSpec& t, JetVersion v) {
  std::string out = "#columns\n";
  for (const auto& c : t.columns) {
    switch (c.type) {
      case JetColumnType::Byte: out += c.name + "\tbyte\t1\n"; break;
      case JetColumnType::Integer: out += c.name + "\tinteger\t2\n"; break;
      case JetColumnType::LongInteger: out += c.name + "\tlong\t4\n"; break;
      case JetColumnType::Text:
        out += fmt::format("{}\ttext\t{}\n", c.name, c.length * (v == JetVersion::Jet4 ? 2 : 1));
        break;
      case JetColumnType::Binary: out += fmt::format("{}\tbinary\t{}\n", c.name, c.length); break;
    }
  }
  out += fmt::format("#rowcount\t{}\n#rows\n", t.rows.size());
  for (const Row& row : t.rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) out += ",";
      if (const auto* n = std::get_if<std::int64_t>(&row[i])) out += std::to_string(*n);
      if (const auto* s = std::get_if<std::string>(&row[i])) out += CsvText(*s);
    }
    out += "\n";
  }
  return out;
}

std::string SchemaType(const JetColumn& c) {
  switch (c.type) {
    case JetColumnType::Byte: return "Byte";
    case JetColumnType::Integer: return "Integer";
    case JetColumnType::LongInteger: return "Long Integer";
    case JetColumnType::Text: return fmt::format("Text ({})", c.length);
    case JetColumnType::Binary: return fmt::format("Binary ({})", c.length);
  }
  return "?";
}

// Checks the file with mdbtools, mdb-reader and the program's own reader. tables hold
// every row the file should have, in order.
void ExpectReadersSee(const std::string& path, JetVersion v, const std::vector<JetTableSpec>& tables) {
  RequireNodeReader();
  if (::testing::Test::HasFatalFailure()) return;
  const ToolResult ver = RunTool({"mdb-ver", path});
  EXPECT_EQ(ver.out, v == JetVersion::Jet3 ? "JET3\n" : "JET4\n") << ver.err;

  std::string names;
  for (const auto& t : tables) names += t.name + "\n";
  const ToolResult list = RunTool({"mdb-tables", "-1", path});
  EXPECT_EQ(list.out, names) << list.err;
  const ToolResult nodeList = RunTool({"node", kDumpScript, path});
  EXPECT_EQ(nodeList.out, names) << nodeList.err;

  const ToolResult schema = RunTool({"mdb-schema", path});
  EXPECT_EQ(schema.exitCode, 0) << schema.err;
  for (const auto& t : tables) {
    const auto section = schema.out.find("CREATE TABLE [" + t.name + "]");
    ASSERT_NE(section, std::string::npos) << t.name << " missing from\n" << schema.out;
    for (const auto& c : t.columns) {
      const auto at = schema.out.find("[" + c.name + "]", section);
      ASSERT_NE(at, std::string::npos) << c.name << " missing from\n" << schema.out;
      const auto type = schema.out.find_first_not_of('\t', at + c.name.size() + 2);
      EXPECT_EQ(schema.out.compare(type, SchemaType(c).size() + 1, SchemaType(c) + (&c == &t.columns.back() ? "\n" : ",")), 0)
          << c.name << " in\n" << schema.out;
    }
  }

  for (const auto& t : tables) {
    SCOPED_TRACE("table " + t.name);
    const ToolResult exported = RunTool({"mdb-export", path, t.name});
    EXPECT_EQ(exported.exitCode, 0);
    EXPECT_EQ(exported.err, "");
    EXPECT_EQ(exported.out, ExpectedExport(t));
    EXPECT_EQ(RunTool({"mdb-count", path, t.name}).out, fmt::format("{}\n", t.rows.size()));
    const ToolResult dumped = RunTool({"node", kDumpScript, path, t.name});
    EXPECT_EQ(dumped.err, "");
    EXPECT_EQ(dumped.out, ExpectedNodeDump(t, v));

    StoreError err;
    auto reader = OpenTable(path, t.name, err);
    ASSERT_TRUE(reader) << err.reason;
    std::vector<Row> rows;
    Row row;
    while (reader->Next(row) == S_OK) rows.push_back(row);
    EXPECT_TRUE(rows == t.rows) << "the program's reader reads other rows back";
  }
}

// ---- data -------------------------------------------------------------------------------

const char* VersionName(JetVersion v) { return v == JetVersion::Jet3 ? "Jet3" : "Jet4"; }

// Letters both versions can hold (code page 1252 has them all), and more for Jet4, among
// them U+0100 whose low byte 0 rules out the compressed form.
std::string Letters(std::size_t count, std::size_t seed, JetVersion v) {
  static const std::vector<std::string> common = {"a", "Z", "é", "ß", "Œ", "€", "š", " ", "\"", ",", "7"};
  static const std::vector<std::string> wide = {"Ω", "ж", "Ā", "語", "ŉ"};
  std::string s;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t k = (seed * 31 + i * 7) % (common.size() + wide.size());
    s += v == JetVersion::Jet4 && k >= common.size() ? wide[k - common.size()]
                                                     : common[k % common.size()];
  }
  return s;
}

std::vector<JetColumn> MatrixColumns() {
  return {{"ID", JetColumnType::LongInteger},
          {"Label", JetColumnType::Text, 255},
          {"Small", JetColumnType::Byte},
          {"Mid", JetColumnType::Integer},
          {"Note", JetColumnType::Text, 255},
          {"Code", JetColumnType::Text, 10}};
}

std::vector<Row> DataSet(const std::string& name, JetVersion v) {
  using I = std::int64_t;
  std::vector<Row> rows;
  if (name == "OneRow") rows.push_back({I{7}, std::string("Sol"), I{3}, I{-4}, Cell{}, std::string("A")});
  if (name == "Edges") {
    rows = {
        {I{-2147483648LL}, std::string(""), I{0}, I{-32768}, Letters(255, 1, v), std::string("")},
        {I{2147483647}, Letters(255, 2, v), I{255}, I{32767}, std::string(""), Letters(10, 3, v)},
        {Cell{}, Cell{}, Cell{}, Cell{}, Cell{}, Cell{}},
        {I{0}, std::string("x"), I{128}, I{0}, Letters(1, 4, v), Cell{}},
        {I{-1}, Letters(128, 5, v), Cell{}, I{-1}, Letters(127, 6, v), std::string("Größe")},
    };
  }
  if (name == "Many") {
    // Lengths sweep 0..255 in both text columns, so Access 97 rows cross 256 and 512 bytes.
    for (int i = 0; i < 3000; ++i) {
      rows.push_back({I{i * 7919LL - 10'000'000}, i % 17 == 0 ? Cell{} : Cell{Letters(i * 13 % 256, i, v)},
                      i % 19 == 0 ? Cell{} : Cell{I{i % 256}}, I{(i * 37) % 65536 - 32768},
                      Cell{Letters((i * 101) % 256, i + 9, v)}, Cell{fmt::format("r{}", i)}});
    }
  }
  return rows;
}

// ---- every reader on every kind of file -------------------------------------------------

enum class Made { Created, Appended, CreatedThenAppended };

struct MatrixCase {
  JetVersion version;
  Made made;
  std::string data;
};

class ReadersTest : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(ReadersTest, BothReadersSeeEveryRow) {
  const auto& [v, made, data] = GetParam();
  TempDir dir;
  const std::string path = dir.File("t.mdb");
  JetTableSpec full{"Warp Points", MatrixColumns(), DataSet(data, v)};
  JetTableSpec other{"Fleets", {{"Empire", JetColumnType::LongInteger}, {"Name", JetColumnType::Text, 50}},
                     {{std::int64_t{1}, std::string("Home Fleet")}}};

  JetTableSpec start = full;
  std::size_t keep = made == Made::Created ? full.rows.size() : made == Made::Appended ? 0 : full.rows.size() / 2;
  start.rows.resize(keep);
  ASSERT_EQ(CreateJetDatabase(path, v, {start, other}).reason, "");
  // Appends in uneven batches, so that some fill a page exactly and some start a new one.
  for (std::size_t at = keep; at < full.rows.size();) {
    const std::size_t n = std::min(full.rows.size() - at, at % 3 == 0 ? std::size_t{1} : std::size_t{700});
    std::vector<Row> batch(full.rows.begin() + static_cast<long>(at), full.rows.begin() + static_cast<long>(at + n));
    ASSERT_EQ(AppendJetRows(path, "warp points", batch).reason, "");
    at += n;
  }
  ExpectReadersSee(path, v, {full, other});
}

std::vector<MatrixCase> MatrixCases() {
  std::vector<MatrixCase> cases;
  for (JetVersion v : {JetVersion::Jet3, JetVersion::Jet4})
    for (Made m : {Made::Created, Made::Appended, Made::CreatedThenAppended})
      for (const char* d : {"Empty", "OneRow", "Edges", "Many"}) cases.push_back({v, m, d});
  return cases;
}

std::string MatrixCaseName(const ::testing::TestParamInfo<MatrixCase>& info) {
  static const char* const made[] = {"Created", "Appended", "CreatedThenAppended"};
  return fmt::format("{}_{}_{}", VersionName(info.param.version),
                     made[static_cast<int>(info.param.made)], info.param.data);
}

INSTANTIATE_TEST_SUITE_P(Files, ReadersTest, ::testing::ValuesIn(MatrixCases()), MatrixCaseName);

// The turn entry database's orders table: 54 columns, and a table grown past the pages an
// inline usage map can list, whose map must turn into a list of bitmap pages.
class LargeTablesTest : public ::testing::TestWithParam<JetVersion> {};

TEST_P(LargeTablesTest, OrdersTableWithManyColumns) {
  const JetVersion v = GetParam();
  TempDir dir;
  const std::string path = dir.File("turn.mdb");
  JetTableSpec orders{"Orders", {{"Empire", JetColumnType::LongInteger}, {"Fleet", JetColumnType::Text, 50},
                                 {"Order", JetColumnType::LongInteger}}, {}};
  for (int i = 1; i <= 51; ++i) orders.columns.push_back({fmt::format("Arg{}", i), JetColumnType::Text, 50});
  auto orderRow = [](int n) {
    Row r{std::int64_t{42}, std::string("Convoy Sol -> Vega"), std::int64_t{n}};
    for (int i = 1; i <= 51; ++i) r.push_back(i <= 3 ? Cell{fmt::format("W{}", n + i)} : Cell{});
    return r;
  };
  ASSERT_EQ(CreateJetDatabase(path, v, {orders}).reason, "");
  for (int n = 10; n <= 400; n += 10) orders.rows.push_back(orderRow(n));
  ASSERT_EQ(AppendJetRows(path, "Orders", orders.rows).reason, "");
  ExpectReadersSee(path, v, {orders});
}

TEST_P(LargeTablesTest, GrowsPastAnInlineUsageMap) {
  const JetVersion v = GetParam();
  TempDir dir;
  const std::string path = dir.File("big.mdb");
  // Seven near-full Text(255) values take more than half a page in either version (Jet4:
  // plain UCS-2, since "Ā" rules out the compressed form), so every row takes a page.
  JetTableSpec big{"Big", {{"N", JetColumnType::LongInteger}}, {}};
  for (int c = 0; c < 7; ++c) big.columns.push_back({fmt::format("T{}", c), JetColumnType::Text, 255});
  const std::size_t pagesNeeded = v == JetVersion::Jet3 ? 1100 : 560;
  for (std::size_t i = 0; i < pagesNeeded; ++i) {
    Row r{std::int64_t(i)};
    for (int c = 0; c < 7; ++c) r.push_back(std::string(254, 'x') + (v == JetVersion::Jet3 ? "é" : "Ā"));
    big.rows.push_back(r);
  }
  JetTableSpec start = big;
  start.rows.resize(pagesNeeded / 2);
  // "Later" gets its first page only after Big's: its inline map must move its window there.
  JetTableSpec later{"Later", {{"N", JetColumnType::LongInteger}}, {}};
  ASSERT_EQ(CreateJetDatabase(path, v, {later, start}).reason, "");
  ASSERT_EQ(AppendJetRows(path, "Big", {big.rows.begin() + static_cast<long>(pagesNeeded / 2), big.rows.end()}).reason, "");
  later.rows = {{std::int64_t{1}}, {std::int64_t{2}}};
  ASSERT_EQ(AppendJetRows(path, "Later", later.rows).reason, "");
  const auto pageSize = v == JetVersion::Jet3 ? 2048u : 4096u;
  EXPECT_GT(std::filesystem::file_size(path) / pageSize, v == JetVersion::Jet3 ? 1024u : 512u);
  ExpectReadersSee(path, v, {later, big});
}

INSTANTIATE_TEST_SUITE_P(Versions, LargeTablesTest, ::testing::Values(JetVersion::Jet3, JetVersion::Jet4),
                         [](const auto& info) { return std::string(VersionName(info.param)); });

// ---- refusals leave the file exactly as it was ------------------------------------------

std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void PatchByte(const std::string& path, std::size_t at, std::uint8_t orBits, std::uint8_t setTo = 0, bool set = false) {
  std::string bytes = testing::ReadFile(path);
  bytes[at] = static_cast<char>(set ? setTo : (static_cast<std::uint8_t>(bytes[at]) | orBits));
  testing::WriteFile(path, bytes);
}

// Lays out files the way the writer does: page 4 is the first user table's definition.
std::size_t TdefAt(JetVersion v, std::size_t offset3, std::size_t offset4) {
  return v == JetVersion::Jet3 ? 4 * 2048 + offset3 : 4 * 4096 + offset4;
}

struct RefusalCase {
  std::string name;
  JetVersion version;
  std::string table;
  std::vector<Row> rows;
  std::string reasonHas;
  // Changes the file or its surroundings first; what it returns is kept alive during the call.
  std::function<std::shared_ptr<void>(const std::string& path)> prepare = {};
  std::function<void(const std::string& copy)> damageCopy = {};
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, FileIsLeftUnchanged) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("turn.mdb");
  JetTableSpec t{"T", {{"ID", JetColumnType::LongInteger}, {"Name", JetColumnType::Text, 5},
                       {"B", JetColumnType::Byte}, {"S", JetColumnType::Integer}},
                 {{std::int64_t{1}, std::string("Zed"), std::int64_t{2}, std::int64_t{3}}}};
  JetTableSpec wide{"Wide", {}, {}};
  for (int i = 0; i < 9; ++i) wide.columns.push_back({fmt::format("W{}", i), JetColumnType::Text, 255});
  ASSERT_EQ(CreateJetDatabase(path, c.version, {t, wide}).reason, "");
  std::shared_ptr<void> keep = c.prepare ? c.prepare(path) : nullptr;
  const std::string before = testing::ReadFile(path);
  const auto listing = Listing(dir.path());

  detail::SetJetWriterCopyHookForTesting(c.damageCopy);
  const StoreError err = AppendJetRows(path, c.table, c.rows);
  detail::SetJetWriterCopyHookForTesting(nullptr);

  EXPECT_EQ(err.code, E_FAIL);
  EXPECT_NE(err.reason.find(c.reasonHas), std::string::npos) << err.reason;
  EXPECT_NE(err.reason.find(path), std::string::npos) << err.reason;
  EXPECT_TRUE(testing::ReadFile(path) == before) << "the file was changed";
  EXPECT_EQ(Listing(dir.path()), listing) << "a copy was left behind";
}

std::vector<RefusalCase> RefusalCases() {
  using I = std::int64_t;
  auto row = [](Cell id, Cell name, Cell b, Cell s) { return std::vector<Row>{{id, name, b, s}}; };
  std::vector<RefusalCase> cases;
  for (JetVersion v : {JetVersion::Jet3, JetVersion::Jet4}) {
    std::vector<RefusalCase> each = {
        {"ByteTooLarge", v, "T", row(I{1}, Cell{}, I{256}, Cell{}), "cannot hold 256"},
        {"IntegerTooSmall", v, "T", row(I{1}, Cell{}, Cell{}, I{-32769}), "cannot hold -32769"},
        {"LongTooLarge", v, "T", row(I{2147483648LL}, Cell{}, Cell{}, Cell{}), "cannot hold 2147483648"},
        {"TextIntoNumber", v, "T", row(std::string("1"), Cell{}, Cell{}, Cell{}), "takes whole numbers"},
        {"NumberIntoText", v, "T", row(I{1}, I{1}, Cell{}, Cell{}), "takes text"},
        {"TextTooLong", v, "T", row(I{1}, std::string("Größer"), Cell{}, Cell{}), "6 characters long"},
        {"NotUtf8", v, "T", row(I{1}, std::string("a\xff"), Cell{}, Cell{}), "not valid UTF-8"},
        {"NulCharacter", v, "T", row(I{1}, std::string("a\0b", 3), Cell{}, Cell{}), "NUL"},
        {"BeyondUcs2", v, "T", row(I{1}, std::string("\xF0\x9F\x98\x80"), Cell{}, Cell{}), "U+1F600"},
        {"WrongValueCount", v, "T", {{I{1}}}, "row 1 has 1 values"},
        {"RowTooLongForPage", v, "Wide",
         {Row(9, Cell{std::string(254, 'w') + (v == JetVersion::Jet3 ? "é" : "Ā")})}, "fit on a page"},
        {"NoSuchTable", v, "Nope", row(I{1}, Cell{}, Cell{}, Cell{}), "no table named \"Nope\""},
        {"SystemTable", v, "MSysObjects", row(I{1}, Cell{}, Cell{}, Cell{}), "system tables"},
        {"LockFile", v, "T", row(I{1}, Cell{}, Cell{}, Cell{}), "turn.ldb",
         [](const std::string& p) {
           testing::WriteFile(JetLockFilePath(p), "");
           return std::shared_ptr<void>();
         }},
        {"LockFileUpperCase", v, "T", row(I{1}, Cell{}, Cell{}, Cell{}), "turn.LDB",
         [](const std::string& p) {
           testing::WriteFile(p.substr(0, p.size() - 3) + "LDB", "");
           return std::shared_ptr<void>();
         }},
        {"AnotherWriter", v, "T", row(I{1}, Cell{}, Cell{}, Cell{}), "another program",
         [](const std::string& p) {
           const int fd = ::open(p.c_str(), O_RDONLY);
           ::flock(fd, LOCK_EX);
           return std::shared_ptr<void>(nullptr, [fd](void*) { ::close(fd); });
         }},
        {"IndexedTable", v, "T", row(I{1}, Cell{}, Cell{}, Cell{}), "has indexes",
         [v](const std::string& p) {
           PatchByte(p, TdefAt(v, 27, 47), 1);
           return std::shared_ptr<void>();
         }},
        {"AutoNumberColumn", v, "T", row(I{1}, Cell{}, Cell{}, Cell{}), "AutoNumber",
         [v](const std::string& p) {
           PatchByte(p, TdefAt(v, 43 + 13, 63 + 15), 0x04);
           return std::shared_ptr<void>();
         }},
        {"NewerAccessFile", v, "T", row(I{1}, Cell{}, Cell{}, Cell{}), "Access 2007",
         [](const std::string& p) {
           PatchByte(p, 0x14, 0, 0x02, true);
           return std::shared_ptr<void>();
         }},
        {"CopyDoesNotReadBack", v, "T", row(I{2}, Cell{}, Cell{}, Cell{}), "did not read back", nullptr,
         [](const std::string& copy) { ::truncate(copy.c_str(), 3 * 2048); }},
        {"CopyReadsBackDifferently", v, "T", row(I{2}, Cell{}, Cell{}, Cell{}), "row 1 of table \"T\" differs",
         nullptr,
         [](const std::string& copy) {
           std::string bytes = testing::ReadFile(copy);
           bytes.replace(bytes.find("Zed"), 3, "Zee");
           testing::WriteFile(copy, bytes);
         }},
    };
    if (v == JetVersion::Jet3) {
      each.push_back({"NotInCodePage1252", v, "T", row(I{1}, std::string("Ωmega"), Cell{}, Cell{}), "code page 1252"});
      each.push_back({"FileInAnotherCodePage", v, "T", row(I{1}, std::string("é"), Cell{}, Cell{}), "code page 850",
                      [](const std::string& p) {
                        // The header's code page sits in the region hidden with a fixed RC4 key.
                        std::string bytes = testing::ReadFile(p);
                        const std::uint8_t key[] = {0xC7, 0xDA, 0x39, 0x6B};
                        auto* region = reinterpret_cast<std::uint8_t*>(bytes.data()) + 0x18;
                        jet::Rc4(key, 4, region, 126);
                        region[0x3C - 0x18] = 850 & 0xFF;
                        region[0x3C - 0x18 + 1] = 850 >> 8;
                        jet::Rc4(key, 4, region, 126);
                        testing::WriteFile(p, bytes);
                        return std::shared_ptr<void>();
                      }});
    }
    cases.insert(cases.end(), each.begin(), each.end());
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Appends, RefusalTest, ::testing::ValuesIn(RefusalCases()),
                         [](const auto& info) {
                           return fmt::format("{}_{}", VersionName(info.param.version), info.param.name);
                         });

TEST(JetWriterTest, AppendKeepsTheFilesPermissionsAndLinks) {
  TempDir dir;
  const std::string path = dir.File("t.mdb");
  ASSERT_EQ(CreateJetDatabase(path, JetVersion::Jet4, {{"T", {{"A", JetColumnType::Byte}}, {}}}).reason, "");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(AppendJetRows(path, "T", {{std::int64_t{5}}}).reason, "");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(RunTool({"mdb-export", path, "T"}).out, "A\n5\n");

  // Through a symbolic link: the file behind it grows, the link stays a link.
  const std::string link = dir.File("link.mdb");
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  ASSERT_EQ(AppendJetRows(link, "T", {{std::int64_t{6}}}).reason, "");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(RunTool({"mdb-export", path, "T"}).out, "A\n5\n6\n");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"link.mdb", "t.mdb"}));
}

TEST(JetWriterTest, CreateNeverReplacesAFile) {
  TempDir dir;
  const std::string path = dir.File("t.mdb");
  testing::WriteFile(path, "precious");
  const StoreError err = CreateJetDatabase(path, JetVersion::Jet3, {{"T", {{"A", JetColumnType::Byte}}, {}}});
  EXPECT_NE(err.reason.find("already exists"), std::string::npos) << err.reason;
  EXPECT_EQ(testing::ReadFile(path), "precious");
  EXPECT_EQ(Listing(dir.path()).size(), 1u);
}

TEST(JetWriterTest, CreateRefusesWhatAccessWouldNot) {
  const std::vector<std::pair<JetTableSpec, std::string>> cases = {
      {{"", {{"A", JetColumnType::Byte}}, {}}, "1 to 64 characters"},
      {{std::string(65, 'n'), {{"A", JetColumnType::Byte}}, {}}, "1 to 64 characters"},
      {{" Lead", {{"A", JetColumnType::Byte}}, {}}, "start with a blank"},
      {{"a.b", {{"A", JetColumnType::Byte}}, {}}, "must not contain"},
      {{"T", {{"x[1]", JetColumnType::Byte}}, {}}, "must not contain"},
      {{"MSysMine", {{"A", JetColumnType::Byte}}, {}}, "reserved"},
      {{"T", {}, {}}, "1 to 255 columns"},
      {{"T", {{"A", JetColumnType::Byte}, {"a", JetColumnType::Byte}}, {}}, "two columns named"},
      {{"T", {{"A", JetColumnType::Text, 0}}, {}}, "1 to 255 characters"},
      {{"T", {{"A", JetColumnType::Text, 256}}, {}}, "1 to 255 characters"},
      {{"T", {{"A", JetColumnType::Byte}}, {{std::int64_t{-1}}}}, "row 1: column \"A\" cannot hold -1"},
  };
  for (const auto& [spec, reasonHas] : cases) {
    TempDir dir;
    const StoreError err = CreateJetDatabase(dir.File("t.mdb"), JetVersion::Jet4, {spec});
    EXPECT_NE(err.reason.find(reasonHas), std::string::npos) << spec.name << ": " << err.reason;
    EXPECT_TRUE(Listing(dir.path()).empty()) << spec.name;
  }
}

TEST(JetWriterTest, AddsTablesOnlyToItsOwnFiles) {
  for (JetVersion v : {JetVersion::Jet3, JetVersion::Jet4}) {
    TempDir dir;
    const std::string path = dir.File("t.mdb");
    JetTableSpec a{"A", {{"N", JetColumnType::LongInteger}}, {{std::int64_t{1}}, {std::int64_t{2}}}};
    JetTableSpec b{"B", {{"S", JetColumnType::Text, 20}}, {{std::string("Vega")}, {Cell{}}}};
    ASSERT_EQ(CreateJetDatabase(path, v, {a}).reason, "");
    ASSERT_EQ(AddJetTable(path, b).reason, "");
    EXPECT_NE(AddJetTable(path, {"b", {{"X", JetColumnType::Byte}}, {}}).reason.find("already has"),
              std::string::npos);
    ExpectReadersSee(path, v, {a, b});

    PatchByte(path, v == JetVersion::Jet3 ? 2 * 2048 + 27 : 2 * 4096 + 47, 1);  // catalog indexes
    const std::string before = testing::ReadFile(path);
    EXPECT_NE(AddJetTable(path, {"C", {{"X", JetColumnType::Byte}}, {}}).reason.find("made by Access"),
              std::string::npos);
    EXPECT_TRUE(testing::ReadFile(path) == before);
  }
}

TEST(JetWriterTest, ManyTablesOverflowThePageOfUsageMaps) {
  // Page 1 holds the map rows of 7 tables in Jet3 and 28 in Jet4; more go on further pages.
  for (JetVersion v : {JetVersion::Jet3, JetVersion::Jet4}) {
    TempDir dir;
    const std::string path = dir.File("t.mdb");
    std::vector<JetTableSpec> tables;
    for (int i = 0; i < 30; ++i)
      tables.push_back({fmt::format("Table {}", i), {{"N", JetColumnType::LongInteger}}, {{std::int64_t{i}}}});
    std::vector<JetTableSpec> first(tables.begin(), tables.end() - 1);
    ASSERT_EQ(CreateJetDatabase(path, v, first).reason, "");
    ASSERT_EQ(AddJetTable(path, tables.back()).reason, "");
    ASSERT_EQ(AppendJetRows(path, "Table 3", {{std::int64_t{33}}}).reason, "");
    tables[3].rows.push_back({std::int64_t{33}});
    ExpectReadersSee(path, v, tables);
  }
}

TEST(JetWriterTest, BinaryValuesReadBackUnchanged) {
  for (JetVersion v : {JetVersion::Jet3, JetVersion::Jet4}) {
    TempDir dir;
    const std::string path = dir.File("b.mdb");
    const std::vector<Row> rows = {{Blob{{1, 0, 0xFF, 0x80}}, std::int64_t{1}}, {Blob{}, Cell{}}, {Cell{}, std::int64_t{3}}};
    JetTableSpec t{"B", {{"Bytes", JetColumnType::Binary, 4}, {"N", JetColumnType::LongInteger}}, {rows[0]}};
    ASSERT_EQ(CreateJetDatabase(path, v, {t}).reason, "");
    ASSERT_EQ(AppendJetRows(path, "B", {rows[1], rows[2]}).reason, "");
    EXPECT_NE(AppendJetRows(path, "B", {{Blob{{1, 2, 3, 4, 5}}, Cell{}}}).reason.find("5 bytes do not fit"),
              std::string::npos);
    StoreError err;
    auto reader = OpenTable(path, "B", err);
    ASSERT_TRUE(reader) << err.reason;
    std::vector<Row> got;
    Row row;
    while (reader->Next(row) == S_OK) got.push_back(row);
    EXPECT_TRUE(got == rows);
    RequireNodeReader();
    EXPECT_EQ(RunTool({"node", kDumpScript, path, "B"}).out,
              "#columns\nBytes\tbinary\t4\nN\tlong\t4\n#rowcount\t3\n#rows\n\"0100ff80\",1\n\"\",\n,3\n");
  }
}

// Byte layouts that both readers were seen to accept, pinned so that a change in the row
// or text encoders shows up here with the exact bytes, not only as a reader's complaint.
TEST(JetFormatTest, RowsAndTextsHaveTheKnownLayout) {
  using jet::Bytes;
  for (JetVersion v : {JetVersion::Jet3, JetVersion::Jet4}) {
    const jet::Layout& layout = jet::LayoutFor(v);
    std::vector<jet::ColumnDef> cols(2);
    cols[0].name = "ID";
    cols[0].type = jet::kLong;
    cols[1].name = "Name";
    cols[1].type = jet::kText;
    cols[1].length = 50;
    jet::AssignColumnLayout(layout, cols);
    cols[1].miscFlags = 0;
    const Bytes al = v == JetVersion::Jet3 ? Bytes{'A', 'l'} : Bytes{'A', 0, 'l', 0};
    const Bytes row0 = jet::EncodeRow(layout, cols, 1, {Bytes{1, 0, 0, 0}, al});
    const Bytes row1 = jet::EncodeRow(layout, cols, 1, {Bytes{2, 0, 0, 0}, std::nullopt});
    if (v == JetVersion::Jet3) {
      EXPECT_EQ(row0, (Bytes{0x02, 1, 0, 0, 0, 'A', 'l', 0x07, 0x05, 0x01, 0x03}));
      EXPECT_EQ(row1, (Bytes{0x02, 2, 0, 0, 0, 0x05, 0x05, 0x01, 0x01}));
    } else {
      EXPECT_EQ(row0, (Bytes{0x02, 0, 1, 0, 0, 0, 'A', 0, 'l', 0, 0x0a, 0, 0x06, 0, 0x01, 0, 0x03}));
      EXPECT_EQ(row1, (Bytes{0x02, 0, 2, 0, 0, 0, 0x06, 0, 0x06, 0, 0x01, 0, 0x01}));
    }
    // Decoding gives back what was laid out, across the lengths where Jet3 needs its jump
    // table (and, near each 256-byte step, the extra dummy slot).
    cols[1].length = 255;
    std::vector<jet::ColumnDef> wide = {cols[0], cols[1], cols[1], cols[1]};
    jet::AssignColumnLayout(layout, wide);
    for (std::size_t n = 0; n <= 255; n += 3) {
      const std::vector<jet::StoredValue> values = {Bytes{9, 9, 9, 9}, Bytes(n, 'a'), std::nullopt, Bytes(255 - n / 2, 'b')};
      const Bytes row = jet::EncodeRow(layout, wide, 3, values);
      EXPECT_TRUE(jet::DecodeRow(layout, wide, row.data(), row.size()) == values) << n;
    }
  }
  const std::vector<std::pair<std::u16string, std::optional<Bytes>>> compressed = {
      {u"abc", Bytes{0xFF, 0xFE, 'a', 'b', 'c'}},
      {u"ab", std::nullopt},                 // not shorter than UCS-2
      {u"abcĀ", std::nullopt},               // U+0100 has a zero low byte
      {u"abcΩd", std::nullopt},              // the mode switches make it as long as UCS-2
      {u"abcdΩef", Bytes{0xFF, 0xFE, 'a', 'b', 'c', 'd', 0, 0xA9, 0x03, 0, 'e', 'f'}},
  };
  for (const auto& [text, want] : compressed) {
    EXPECT_EQ(jet::CompressUcs2(text), want);
    if (want) {
      EXPECT_EQ(jet::DecodeJet4Text(want->data(), want->size()), text);
    }
  }
}

TEST(JetWriterTest, LockFileBesideTheDatabase) {
  EXPECT_EQ(JetLockFilePath("/d/Turn Data.mdb"), "/d/Turn Data.ldb");
  EXPECT_EQ(JetLockFilePath("/d/x.MDB"), "/d/x.ldb");
  EXPECT_EQ(JetLockFilePath("/d/x.accdb"), "/d/x.laccdb");
  EXPECT_EQ(JetLockFilePath("/d/noext"), "/d/noext.ldb");
}

}  // namespace
}  // namespace lanewright::store
