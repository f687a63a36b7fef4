// Every file the Jet writer makes is read back by two readers that share no code with it
// or with each other: mdbtools' command-line tools and the npm package mdb-reader.

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <set>

#include "store/FileDescriptor.h"
#include "store/JetFormat.h"
#include "store/JetWriter.h"
#include "store/JetWriterImage.h"
#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright::store {

// Parameters print as their names, not as bytes.
const char* VersionName(JetVersion v) { return v == JetVersion::Jet3 ? "Jet3" : "Jet4"; }
void PrintTo(JetVersion v, std::ostream* out) { *out << VersionName(v); }

namespace {

using testing::Listing;
using testing::ReadFile;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFile;
using I = std::int64_t;
using enum JetColumnType;
using enum JetVersion;
constexpr auto kNpos = std::string::npos;

const std::string kDumpScript = std::string(LANEWRIGHT_SOURCE_DIR) + "/tools/mdb-reader/dump.mjs";

// The second reader is a test dependency like mdbtools: a machine without it must fail
// loudly, never pass by skipping.
void RequireNodeReader() {
  ASSERT_EQ(RunProgram("node", {"--version"}).exitCode, 0)
      << "Node.js is not installed; run scripts/bootstrap";
  ASSERT_TRUE(std::filesystem::exists(std::string(LANEWRIGHT_SOURCE_DIR) +
                                      "/tools/mdb-reader/node_modules/mdb-reader/package.json"))
      << "the npm package mdb-reader is not installed in tools/mdb-reader; run scripts/bootstrap";
}

// mdb-export prints NULL and "" alike as an empty field; dump.mjs keeps them apart.
std::string RowsCsv(const std::vector<Row>& rows, bool quoteEmpty) {
  std::string out;
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) out += ",";
      if (const auto* n = std::get_if<I>(&row[i])) out += std::to_string(*n);
      if (const auto* s = std::get_if<std::string>(&row[i]); s && (quoteEmpty || !s->empty())) {
        out += '"';
        for (char c : *s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        out += '"';
      }
    }
    out += "\n";
  }
  return out;
}

// A column's type as mdb-schema and as dump.mjs name it (Jet4 counts text sizes in bytes),
// in JetColumnType's order.
std::pair<std::string, std::string> TypeNames(const JetColumn& c, JetVersion v) {
  const int textBytes = c.length * (v == Jet4 ? 2 : 1);
  const std::pair<std::string, std::string> names[] = {
      {"Byte", "byte\t1"},
      {"Integer", "integer\t2"},
      {"Long Integer", "long\t4"},
      {fmt::format("Text ({})", c.length), fmt::format("text\t{}", textBytes)},
      {fmt::format("Binary ({})", c.length), fmt::format("binary\t{}", c.length)}};
  return names[static_cast<int>(c.type)];
}

// Checks the file with mdbtools and mdb-reader; the writer itself reads what it wrote back
// through the program's reader. tables hold every row the file should have, in order; all
// are listed, and those named in detailed (all when it is empty) are read through.
void ExpectReadersSee(const std::string& path, JetVersion v,
                      const std::vector<JetTableSpec>& tables,
                      const std::set<std::string>& detailed = {}) {
  RequireNodeReader();
  if (::testing::Test::HasFatalFailure()) return;
  std::string names;
  for (const auto& t : tables) names += t.name + "\n";
  EXPECT_EQ(RunProgram("mdb-tables", {"-1", path}).out, names);
  EXPECT_EQ(RunProgram("node", {kDumpScript, path}).out, names);

  const testing::ProcessResult schema = RunProgram("mdb-schema", {path});
  EXPECT_EQ(schema.exitCode, 0) << schema.err;
  for (const auto& t : tables) {
    if (!detailed.empty() && detailed.count(t.name) == 0) continue;
    SCOPED_TRACE("table " + t.name);
    const auto section = schema.out.find("CREATE TABLE [" + t.name + "]");
    ASSERT_NE(section, kNpos) << schema.out;
    std::string header, columns;
    for (const auto& c : t.columns) {
      const auto [schemaType, nodeType] = TypeNames(c, v);
      const auto at = schema.out.find("[" + c.name + "]", section);
      ASSERT_NE(at, kNpos) << c.name << " missing from\n" << schema.out;
      const auto type = schema.out.find_first_not_of('\t', at + c.name.size() + 2);
      const std::string want = schemaType + (&c == &t.columns.back() ? "\n" : ",");
      EXPECT_EQ(schema.out.substr(type, want.size()), want) << c.name << " in\n" << schema.out;
      header += (header.empty() ? "" : ",") + c.name;
      columns += c.name + "\t" + nodeType + "\n";
    }
    const testing::ProcessResult exported = RunProgram("mdb-export", {path, t.name});
    EXPECT_EQ(exported.err + exported.out, header + "\n" + RowsCsv(t.rows, false));
    const testing::ProcessResult dumped = RunProgram("node", {kDumpScript, path, t.name});
    EXPECT_EQ(dumped.err + dumped.out, fmt::format("#columns\n{}#rowcount\t{}\n#rows\n{}", columns,
                                                   t.rows.size(), RowsCsv(t.rows, true)));
  }
}

// Letters both versions can hold (code page 1252 has them all), and more for Jet4, among
// them U+0100 whose low byte 0 rules out the compressed form.
std::string Letters(std::size_t count, std::size_t seed, JetVersion v) {
  static const std::vector<std::string> common = {"a", "Z", "é",  "ß", "Œ", "€",
                                                  "š", " ", "\"", ",", "7"};
  static const std::vector<std::string> wide = {"Ω", "ж", "Ā", "語", "ŉ"};
  std::string s;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t k = (seed * 31 + i * 7) % (common.size() + wide.size());
    s += v == Jet4 && k >= common.size() ? wide[k - common.size()] : common[k % common.size()];
  }
  return s;
}

// ---- every reader on every kind of table ------------------------------------------------

class ReadersTest : public ::testing::TestWithParam<JetVersion> {
 protected:
  const JetVersion v = GetParam();
  const jet::Layout& layout = jet::LayoutFor(v);
  TempDir dir;
  const std::string path = dir.File("t.mdb");
};

void SetBits(const std::string& path, std::size_t at, char bits) {
  std::string bytes = ReadFile(path);
  bytes[at] = static_cast<char>(bytes[at] | bits);
  WriteFile(path, bytes);
}

// Page 1 holds the usage maps of 7 tables in Jet3 and 28 in Jet4; more go on further
// pages. A table added later and appended to gets its map there.
TEST_P(ReadersTest, AddsTablesOnlyToItsOwnFiles) {
  std::vector<JetTableSpec> tables;
  for (int i = 0; i < (v == Jet3 ? 9 : 29); ++i)
    tables.push_back({fmt::format("Table {}", i), {{"N", LongInteger}}, {{I{i}}}});
  ASSERT_EQ(CreateJetDatabase(path, v, tables).reason, "");
  tables.push_back({"B", {{"S", Text, 20}}, {{std::string("Vega")}}});
  ASSERT_EQ(AddJetTable(path, tables.back()).reason, "");
  EXPECT_NE(AddJetTable(path, {"b", {{"X", Byte}}, {}}).reason.find("already has"), kNpos);
  for (auto* t : {&tables[3], &tables.back()}) {
    t->rows.push_back({t == &tables[3] ? Cell{I{33}} : Cell{}});
    ASSERT_EQ(AppendJetRows(path, t->name, {t->rows.back()}).reason, "");
  }
  // Read through: tables whose maps sit on page 1, on the page after it, and the added one.
  ExpectReadersSee(path, v, tables, {"Table 0", "Table 3", tables[tables.size() - 2].name, "B"});

  SetBits(path, 2 * layout.pageSize + layout.tdefNumIdx, 1);  // the catalog's index count
  const std::string before = ReadFile(path);
  EXPECT_NE(AddJetTable(path, {"C", {{"X", Byte}}, {}}).reason.find("made by Access"), kNpos);
  EXPECT_TRUE(ReadFile(path) == before);
}

TEST_P(ReadersTest, BinaryValuesReadBackUnchanged) {
  const std::vector<Row> rows = {
      {Blob{{1, 0, 0xFF, 0x80}}, I{1}}, {Blob{}, Cell{}}, {Cell{}, I{3}}};
  JetTableSpec t{"B", {{"Bytes", Binary, 4}, {"N", LongInteger}}, {rows[0]}};
  ASSERT_EQ(CreateJetDatabase(path, v, {t}).reason, "");
  ASSERT_EQ(AppendJetRows(path, "B", {rows[1], rows[2]}).reason, "");
  const Row tooLong = {Blob{{1, 2, 3, 4, 5}}, Cell{}};
  EXPECT_NE(AppendJetRows(path, "B", {tooLong}).reason.find("5 bytes do not fit"), kNpos);
  RequireNodeReader();
  EXPECT_EQ(
      RunProgram("node", {kDumpScript, path, "B"}).out,
      "#columns\nBytes\tbinary\t4\nN\tlong\t4\n#rowcount\t3\n#rows\n\"0100ff80\",1\n\"\",\n,3\n");
}

// One file per version holds every kind of table, so that their pages interleave: one left
// empty, one filled only by appends and one made half full.
TEST_P(ReadersTest, BothReadersSeeEveryRow) {
  const std::vector<JetColumn> cols = {{"ID", LongInteger}, {"Label", Text, 255},
                                       {"Small", Byte},     {"Mid", Integer},
                                       {"Note", Text, 255}, {"Code", Text, 10}};
  const std::vector<Row> edges = {
      {I{-2147483648LL}, std::string(""), I{0}, I{-32768}, Letters(255, 1, v), std::string("")},
      {I{2147483647}, Letters(255, 2, v), I{255}, I{32767}, std::string(""), Letters(10, 3, v)},
      {Cell{}, Cell{}, Cell{}, Cell{}, Cell{}, Cell{}},
      {I{0}, std::string("x"), I{128}, I{0}, Letters(1, 4, v), Cell{}},
      {I{-1}, Letters(128, 5, v), Cell{}, I{-1}, Letters(127, 6, v), std::string("Größe")},
  };
  // Lengths sweep 0..255 in both text columns, so Access 97 rows cross 256 and 512 bytes.
  std::vector<Row> many;
  for (int i = 0; i < 600; ++i)
    many.push_back({I{i * 7919LL - 10'000'000},
                    i % 17 == 0 ? Cell{} : Cell{Letters(i * 13 % 256, i, v)},
                    i % 19 == 0 ? Cell{} : Cell{I{i % 256}}, I{(i * 37) % 65536 - 32768},
                    Cell{Letters((i * 101) % 256, i + 9, v)}, Cell{fmt::format("r{}", i)}});
  // Each table with the number of its rows the file is made with; the rest are appended.
  std::vector<std::pair<JetTableSpec, std::size_t>> plan = {
      {{"Empty", cols, {}}, 0},
      {{"Edges Appended", cols, edges}, 0},
      {{"Many", cols, many}, many.size() / 2}};
  std::vector<JetTableSpec> full, start;
  for (const auto& [t, made] : plan) {
    full.push_back(t);
    start.push_back(
        {t.name, t.columns, {t.rows.begin(), t.rows.begin() + static_cast<long>(made)}});
  }
  ASSERT_EQ(CreateJetDatabase(path, v, start).reason, "");
  // Uneven batches, so that some fill a page exactly and some start a new one; tables are
  // named in lower case, as lookups ignore case.
  for (bool more = true; more;) {
    more = false;
    for (auto& [t, at] : plan) {
      const std::size_t n =
          std::min(t.rows.size() - at, at % 3 == 0 ? std::size_t{1} : std::size_t{700});
      if (n == 0) continue;
      std::string lower = t.name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const auto from = t.rows.begin() + static_cast<long>(at);
      ASSERT_EQ(AppendJetRows(path, lower, {from, from + static_cast<long>(n)}).reason, "");
      at += n;
      more = true;
    }
  }
  ExpectReadersSee(path, v, full);
}

// A table grown past the pages an inline usage map can list: its map must turn into a list
// of bitmap pages.
TEST_P(ReadersTest, GrowsPastAnInlineUsageMap) {
  // Seven near-full Text(255) values take more than half a page in either version (Jet4:
  // plain UCS-2, since "Ā" rules out the compressed form), so every row takes a page.
  JetTableSpec big{"Big", {{"N", LongInteger}}, {}};
  for (int c = 0; c < 7; ++c) big.columns.push_back({fmt::format("T{}", c), Text, 255});
  const std::size_t pagesNeeded = v == Jet3 ? 1100 : 560;
  for (std::size_t i = 0; i < pagesNeeded; ++i) {
    big.rows.push_back(Row{I(i)});
    for (int c = 0; c < 7; ++c)
      big.rows.back().push_back(std::string(254, 'x') + (v == Jet3 ? "é" : "Ā"));
  }
  // "Later" gets its first page only after Big's: its inline map must move its window there.
  JetTableSpec later{"Later", {{"N", LongInteger}}, {}};
  const auto half = big.rows.begin() + static_cast<long>(pagesNeeded / 2);
  ASSERT_EQ(
      CreateJetDatabase(path, v, {later, {"Big", big.columns, {big.rows.begin(), half}}}).reason,
      "");
  ASSERT_EQ(AppendJetRows(path, "Big", {half, big.rows.end()}).reason, "");
  later.rows = {{I{1}}, {I{2}}};
  ASSERT_EQ(AppendJetRows(path, "Later", later.rows).reason, "");
  EXPECT_GT(std::filesystem::file_size(path) / layout.pageSize, v == Jet3 ? 1024u : 512u);
  ExpectReadersSee(path, v, {later, big});
}

// A row for a table of a Long Integer and 16 Text(255) columns whose stored form takes
// exactly `size` bytes, found with the writer's own encoders.
Row RowOfSize(JetVersion v, std::size_t size) {
  const jet::Layout& layout = jet::LayoutFor(v);
  std::vector<jet::ColumnDef> defs(17);
  for (std::size_t i = 1; i < defs.size(); ++i) defs[i].type = jet::kText, defs[i].length = 255;
  jet::AssignColumnLayout(layout, defs);
  const auto withLetters = [&](std::size_t letters, std::size_t& stored) {
    Row row{I{1}};
    std::vector<jet::StoredValue> values{jet::EncodeCell(layout, defs[0], row[0])};
    for (std::size_t c = 0; c < 16; ++c) {
      row.push_back(
          std::string(std::min<std::size_t>(255, letters - std::min(letters, c * 255)), 'x'));
      values.push_back(jet::EncodeCell(layout, defs[c + 1], row.back()));
    }
    stored = jet::EncodeRow(layout, defs, 16, values).size();
    return row;
  };
  // A letter more stores a byte more, give or take the few bytes of the row's trailer.
  std::size_t stored = 0;
  withLetters(0, stored);
  for (std::size_t letters = size - std::min(size, stored + 64);
       letters <= 16 * 255 && stored <= size; ++letters) {
    Row row = withLetters(letters, stored);
    if (stored == size) return row;
  }
  ADD_FAILURE() << "no row of " << size << " bytes";
  return {};
}

// Rows that fill a page to the last byte go on it: one alone, and two together; one byte
// more does not fit any page.
TEST_P(ReadersTest, RowsThatFillAPageExactly) {
  JetTableSpec full{"Full", {{"N"}}, {}};
  for (int c = 0; c < 16; ++c) full.columns.push_back({fmt::format("T{}", c), Text, 255});
  ASSERT_EQ(CreateJetDatabase(path, v, {full}).reason, "");
  const std::size_t max = layout.MaxRowLength();
  const auto pages = [&] { return std::filesystem::file_size(path) / layout.pageSize; };
  const auto before = pages();
  full.rows = {RowOfSize(v, max), RowOfSize(v, 100), RowOfSize(v, max - 2 - 100)};
  ASSERT_EQ(AppendJetRows(path, "Full", {full.rows[0]}).reason, "");
  EXPECT_EQ(pages(), before + 1);
  ASSERT_EQ(AppendJetRows(path, "Full", {full.rows[1], full.rows[2]}).reason, "");
  EXPECT_EQ(pages(), before + 2);
  Row over = full.rows[0];
  std::get<std::string>(over.back()) += 'x';  // the last column is not full
  EXPECT_NE(AppendJetRows(path, "Full", {over}).reason.find("fit on a page"), kNpos);
  ExpectReadersSee(path, v, {full});
}

INSTANTIATE_TEST_SUITE_P(Versions, ReadersTest, ::testing::Values(Jet3, Jet4),
                         [](const auto& info) { return std::string(VersionName(info.param)); });

// ---- refusals leave the file exactly as it was ------------------------------------------

struct RefusalCase {
  std::string name;
  JetVersion version;
  std::string table;
  std::vector<Row> rows;
  std::string reasonHas;
  std::function<void(const std::string& path)> prepare = {};  // the file or its surroundings
  std::function<void(const std::string& copy)> damageCopy = {};
  bool lockedByAnother = false;  // another program holds the file's lock during the append
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, FileIsLeftUnchanged) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("turn.mdb");
  const JetTableSpec t{"T",
                       {{"ID"}, {"Name", Text, 5}, {"B", Byte}, {"S", Integer}},
                       {{I{1}, std::string("Zed"), I{2}, I{3}}}};
  ASSERT_EQ(CreateJetDatabase(path, c.version, {t}).reason, "");
  if (c.prepare) c.prepare(path);
  FileDescriptor other(c.lockedByAnother ? ::open(path.c_str(), O_RDONLY) : -1);
  if (other) ::flock(other.get(), LOCK_EX);
  const std::string before = ReadFile(path);
  const auto listing = Listing(dir.path());

  detail::SetJetWriterCopyHookForTesting(c.damageCopy);
  const auto wait = LockWait();
  SetLockWait(std::chrono::milliseconds(100));  // for "AnotherWriter"
  const StoreError err = AppendJetRows(path, c.table, c.rows);
  SetLockWait(wait);
  detail::SetJetWriterCopyHookForTesting(nullptr);

  EXPECT_EQ(err.code, E_FAIL);
  EXPECT_NE(err.reason.find(c.reasonHas), kNpos) << err.reason;
  EXPECT_NE(err.reason.find(path), kNpos) << err.reason;
  EXPECT_TRUE(ReadFile(path) == before) << "the file was changed";
  EXPECT_EQ(Listing(dir.path()), listing) << "a copy was left behind";
}

std::vector<RefusalCase> RefusalCases() {
  auto row = [](Cell id, Cell name, Cell b = {}, Cell s = {}) {
    return std::vector<Row>{{id, name, b, s}};
  };
  const auto plain = row(I{1}, Cell{});
  std::vector<RefusalCase> cases;
  for (JetVersion v : {Jet3, Jet4}) {
    // Lays out files the way the writer does: page 4 is the first user table's definition.
    const jet::Layout& layout = jet::LayoutFor(v);
    const std::size_t tdef = 4 * layout.pageSize;
    std::vector<RefusalCase> each = {
        {"ByteTooLarge", v, "T", row(I{1}, Cell{}, I{256}), "cannot hold 256"},
        {"IntegerTooSmall", v, "T", row(I{1}, Cell{}, Cell{}, I{-32769}), "cannot hold -32769"},
        {"LongTooLarge", v, "T", row(I{2147483648LL}, Cell{}), "cannot hold 2147483648"},
        {"TextIntoNumber", v, "T", row(std::string("1"), Cell{}), "takes whole numbers"},
        {"NumberIntoText", v, "T", row(I{1}, I{1}), "takes text"},
        {"TextTooLong", v, "T", row(I{1}, std::string("Größer")), "6 characters long"},
        {"NotUtf8", v, "T", row(I{1}, std::string("a\xff")), "not valid UTF-8"},
        {"NulCharacter", v, "T", row(I{1}, std::string("a\0b", 3)), "NUL"},
        {"BeyondUcs2", v, "T", row(I{1}, std::string("\xF0\x9F\x98\x80")), "U+1F600"},
        {"WrongValueCount", v, "T", {{I{1}}}, "row 1 has 1 values"},
        {"NoSuchTable", v, "Nope", plain, "no table named \"Nope\""},
        {"SystemTable", v, "MSysObjects", plain, "system tables"},
        {"LockFile", v, "T", plain, "turn.ldb",
         [](const std::string& p) { WriteFile(JetLockFilePath(p), ""); }},
        {"LockFileUpperCase", v, "T", plain, "turn.LDB",
         [](const std::string& p) { WriteFile(p.substr(0, p.size() - 3) + "LDB", ""); }},
        {"AnotherWriter", v, "T", plain, "another program", {}, {}, true},
        {"AutoNumberColumn", v, "T", plain, "AutoNumber",
         [at = tdef + layout.tdefColumns + layout.colFlags](const std::string& p) {
           SetBits(p, at, 0x04);
         }},
        {"NewerAccessFile", v, "T", plain, "Access 2007",
         [](const std::string& p) { SetBits(p, 0x14, 0x02); }},
        {"CopyDoesNotReadBack", v, "T", plain, "did not read back", nullptr,
         [](const std::string& copy) { ::truncate(copy.c_str(), 3 * 2048); }},
        {"CopyReadsBackDifferently", v, "T", plain, "row 1 of table \"T\" differs", nullptr,
         [](const std::string& copy) {
           std::string bytes = ReadFile(copy);
           bytes.replace(bytes.find("Zed"), 3, "Zee");
           WriteFile(copy, bytes);
         }},
    };
    if (v == Jet3) {
      each.push_back(
          {"NotInCodePage1252", v, "T", row(I{1}, std::string("Ωmega")), "code page 1252"});
      each.push_back({"FileInAnotherCodePage", v, "T", row(I{1}, std::string("é")), "code page 850",
                      [](const std::string& p) {
                        // The code page (1252) sits in the header's region masked by RC4, a
                        // stream cipher: XOR with 1252 ^ 850 makes it 850 without unmasking.
                        std::string bytes = ReadFile(p);
                        bytes[0x3C] ^= (1252 ^ 850) & 0xFF, bytes[0x3D] ^= (1252 ^ 850) >> 8;
                        WriteFile(p, bytes);
                      }});
    }
    for (RefusalCase& c : each) c.name = fmt::format("{}_{}", VersionName(v), c.name);
    cases.insert(cases.end(), each.begin(), each.end());
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Appends, RefusalTest, ::testing::ValuesIn(RefusalCases()),
                         [](const auto& info) { return info.param.name; });

TEST(JetWriterTest, AppendKeepsTheFilesPermissionsAndLinks) {
  TempDir dir;
  const std::string path = dir.File("t.mdb");
  ASSERT_EQ(CreateJetDatabase(path, Jet4, {{"T", {{"A"}}, {}}}).reason, "");
  std::filesystem::permissions(path, std::filesystem::perms{0640});
  ASSERT_EQ(AppendJetRows(path, "T", {{I{5}}}).reason, "");
  EXPECT_EQ(static_cast<int>(std::filesystem::status(path).permissions()), 0640);

  // Through a symbolic link: the file behind it grows, the link stays a link.
  const std::string link = dir.File("link.mdb");
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  ASSERT_EQ(AppendJetRows(link, "T", {{I{6}}}).reason, "");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(RunProgram("mdb-export", {path, "T"}).out, "A\n5\n6\n");
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"link.mdb", "t.mdb"}));
}

TEST(JetWriterTest, CreateRefusesWhatAccessWouldNot) {
  const std::vector<std::pair<JetTableSpec, std::string>> cases = {
      {{"T", {{"A"}}, {}}, "already exists"},  // a sound table, where a file is already
      {{"", {{"A"}}, {}}, "1 to 64 characters"},
      {{std::string(65, 'n'), {{"A"}}, {}}, "1 to 64 characters"},
      {{" Lead", {{"A"}}, {}}, "start with a blank"},
      {{"a.b", {{"A"}}, {}}, "must not contain"},
      {{"T", {{"x[1]"}}, {}}, "must not contain"},
      {{"MSysMine", {{"A"}}, {}}, "reserved"},
      {{"T", {}, {}}, "1 to 255 columns"},
      {{"T", {{"A"}, {"a"}}, {}}, "two columns named"},
      {{"T", {{"A", Text, 0}}, {}}, "1 to 255 characters"},
      {{"T", {{"A", Text, 256}}, {}}, "1 to 255 characters"},
      {{"T", {{"A", Byte}}, {{I{-1}}}}, "row 1: column \"A\" cannot hold -1"}};
  for (const auto& [table, reasonHas] : cases) {
    TempDir dir;
    const bool exists = reasonHas == "already exists";
    if (exists) WriteFile(dir.File("t.mdb"), "precious");
    const StoreError refused = CreateJetDatabase(dir.File("t.mdb"), Jet4, {table});
    EXPECT_NE(refused.reason.find(reasonHas), kNpos) << table.name << ": " << refused.reason;
    EXPECT_EQ(Listing(dir.path()).size(), exists ? 1u : 0u) << table.name;
    EXPECT_TRUE(!exists || ReadFile(dir.File("t.mdb")) == "precious") << "the file was replaced";
  }
}

// The writer reads rows of existing files (the catalog's) with its own decoder: rows decode
// to what was laid out, across the lengths where Jet3 needs its jump table (and, near each
// 256-byte step, the extra dummy slot).
TEST(JetFormatTest, RowsDecodeToWhatWasEncoded) {
  using jet::Bytes;
  for (JetVersion v : {Jet3, Jet4}) {
    const jet::Layout& layout = jet::LayoutFor(v);
    std::vector<jet::ColumnDef> cols(4);  // Long Integer, three Text(255)
    for (std::size_t i = 1; i < cols.size(); ++i) cols[i].type = jet::kText, cols[i].length = 255;
    jet::AssignColumnLayout(layout, cols);
    for (std::size_t n = 0; n <= 255; n += 3) {
      const std::vector<jet::StoredValue> values = {Bytes{9, 9, 9, 9}, Bytes(n, 'a'), std::nullopt,
                                                    Bytes(255 - n / 2, 'b')};
      const Bytes row = jet::EncodeRow(layout, cols, 3, values);
      EXPECT_TRUE(jet::DecodeRow(layout, cols, row.data(), row.size()) == values) << n;
    }
  }
}

TEST(JetWriterTest, LockFileBesideTheDatabase) {
  EXPECT_EQ(JetLockFilePath("/d/x.MDB"), "/d/x.ldb");
  EXPECT_EQ(JetLockFilePath("/d/x.accdb"), "/d/x.laccdb");
  EXPECT_EQ(JetLockFilePath("/d/noext"), "/d/noext.ldb");
}

}  // namespace
}  // namespace lanewright::store
