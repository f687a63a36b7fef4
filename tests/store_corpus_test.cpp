// Bad input for the store: every file here is made in code, fed to the readers, and must
// give a result code with a reason: no crash, no hang, not a byte on stderr.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <random>
#include <thread>

#include <sqlite3.h>

#include "store/BoundReader.h"
#include "store/IsolatedProcess.h"
#include "store/JetTable.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright::store {
namespace {

using testing::TempDir;
using testing::WriteFile;

// ---------------------------------------------------------------------------------------
// A small Jet4 image writer: page 0 with its masked header, page 1 with the usage maps,
// page 2 the catalog's definition, then per table its definition and data pages, and the
// catalog's data page last. Only what a reader needs; enough to build valid files and to
// damage them precisely.

constexpr std::size_t kPage = 4096;
enum JetType : std::uint8_t {
  kByte = 0x02, kInt = 0x03, kLong = 0x04, kDouble = 0x07, kDate = 0x08, kBinary = 0x09,
  kText = 0x0A, kOle = 0x0B, kMemo = 0x0C,
};

struct JetColumn {
  std::string name;
  std::uint8_t type;
  std::uint16_t chars = 50;  // Text only
};
struct JetTableSpec {
  std::string name;
  std::vector<JetColumn> columns;
  std::vector<Row> rows;
};

void Put16(std::string& b, std::size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Append16(std::string& b, unsigned v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>((v >> 8) & 0xFF);
}
void AppendN(std::string& b, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// UTF-8 to UCS-2LE (the tests use characters of the basic plane only).
std::string Ucs2(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    unsigned cp = c;
    int extra = 0;
    if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
    else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += 1 + static_cast<std::size_t>(extra);
    Append16(out, cp);
  }
  return out;
}

void Rc4(std::string& b, std::size_t at, std::size_t n) {
  const unsigned char key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  unsigned char s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    b[at + k] = static_cast<char>(static_cast<unsigned char>(b[at + k]) ^ s[(s[i] + s[j]) & 0xFF]);
  }
}

bool IsFixed(std::uint8_t t) { return t != kText && t != kMemo && t != kOle && t != kBinary; }
std::uint16_t FixedSize(std::uint8_t t) {
  switch (t) {
    case kByte: return 1;
    case kInt: return 2;
    case kLong: return 4;
    default: return 8;
  }
}

std::string EncodeRow(const std::vector<JetColumn>& cols, const Row& row) {
  std::string fixed, var, out;
  std::vector<unsigned> varOffsets;
  std::string mask((cols.size() + 7) / 8, '\0');
  const std::size_t fixedStart = 2;
  for (const auto& c : cols)
    if (IsFixed(c.type)) fixed.append(FixedSize(c.type), '\0');
  std::size_t fixedAt = 0;
  std::vector<std::pair<std::size_t, std::string>> varValues;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const Cell& cell = row[i];
    const bool null = std::holds_alternative<std::monostate>(cell);
    if (!null) mask[i / 8] = static_cast<char>(mask[i / 8] | (1 << (i % 8)));
    if (IsFixed(cols[i].type)) {
      std::string v;
      if (const auto* n = std::get_if<std::int64_t>(&cell)) AppendN(v, static_cast<std::uint64_t>(*n), FixedSize(cols[i].type));
      if (const auto* d = std::get_if<double>(&cell)) {
        std::uint64_t bits;
        std::memcpy(&bits, d, 8);
        AppendN(v, bits, 8);
      }
      fixed.replace(fixedAt, v.size(), v);
      fixedAt += FixedSize(cols[i].type);
      continue;
    }
    std::string v;
    if (const auto* s = std::get_if<std::string>(&cell)) v = Ucs2(*s);
    if (const auto* b = std::get_if<Blob>(&cell)) v.assign(b->bytes.begin(), b->bytes.end());
    if (cols[i].type == kMemo && !null) {
      std::string h;
      AppendN(h, v.size() | 0x80000000u, 4);
      h.append(8, '\0');
      v = h + v;
    }
    varValues.emplace_back(i, v);
  }
  out.append(2, '\0');
  Put16(out, 0, static_cast<unsigned>(cols.size()));
  out += fixed;
  for (const auto& [i, v] : varValues) {
    varOffsets.push_back(static_cast<unsigned>(out.size()));
    out += v;
  }
  if (!varValues.empty()) {
    Append16(out, static_cast<unsigned>(out.size()));  // eod
    for (auto it = varOffsets.rbegin(); it != varOffsets.rend(); ++it) Append16(out, *it);
    Append16(out, static_cast<unsigned>(varOffsets.size()));
  }
  (void)fixedStart;
  return out + mask;
}

std::string DataPageHeader(std::uint32_t owner) {
  std::string p(kPage, '\0');
  p[0] = 0x01;
  p[1] = 0x01;
  Put32(p, 4, owner);
  return p;
}

// Appends rows to pages (new pages as needed); returns the pages.
std::vector<std::string> PackRows(std::uint32_t owner, const std::vector<std::string>& rows) {
  std::vector<std::string> pages;
  std::string page;
  unsigned count = 0, low = kPage;
  auto flush = [&] {
    if (!page.empty()) pages.push_back(page);
    page.clear();
  };
  for (const auto& r : rows) {
    if (page.empty() || low < r.size() + 14 + 2 * (count + 1) || count == 255) {
      flush();
      page = DataPageHeader(owner);
      count = 0;
      low = kPage;
    }
    low -= static_cast<unsigned>(r.size());
    page.replace(low, r.size(), r);
    Put16(page, 14 + 2 * count, low);
    ++count;
    Put16(page, 12, count);
  }
  if (page.empty()) return {};
  flush();
  return pages;
}

std::string Tdef(const std::vector<JetColumn>& cols, std::uint32_t rows, std::uint8_t tableType,
                 std::uint32_t ownedMap, std::uint32_t freeMap) {
  std::string p(kPage, '\0');
  p[0] = 0x02;
  p[1] = 0x01;
  Put32(p, 16, rows);
  p[40] = static_cast<char>(tableType);
  unsigned nvar = 0;
  for (const auto& c : cols) nvar += IsFixed(c.type) ? 0 : 1;
  Put16(p, 41, static_cast<unsigned>(cols.size()));
  Put16(p, 43, nvar);
  Put16(p, 45, static_cast<unsigned>(cols.size()));
  Put32(p, 55, ownedMap);
  Put32(p, 59, freeMap);
  std::size_t at = 63;
  unsigned fixedOffset = 0, varIndex = 0;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const auto& c = cols[i];
    p[at] = static_cast<char>(c.type);
    Put16(p, at + 5, static_cast<unsigned>(i));
    Put16(p, at + 9, static_cast<unsigned>(i));
    if (c.type == kText || c.type == kMemo) Put16(p, at + 11, 0x0409);
    if (IsFixed(c.type)) {
      p[at + 15] = 0x03;
      Put16(p, at + 21, fixedOffset);
      Put16(p, at + 23, FixedSize(c.type));
      fixedOffset += FixedSize(c.type);
    } else {
      p[at + 15] = 0x02;
      Put16(p, at + 7, varIndex++);
      Put16(p, at + 23, c.type == kText ? 2u * c.chars : c.type == kBinary ? 255u : 0u);
    }
    at += 25;
  }
  for (const auto& c : cols) {
    const std::string name = Ucs2(c.name);
    Put16(p, at, static_cast<unsigned>(name.size()));
    p.replace(at + 2, name.size(), name);
    at += 2 + name.size();
  }
  Put16(p, at, 0xFFFF);
  Put32(p, 8, static_cast<std::uint32_t>(at + 2));
  Put16(p, 2, static_cast<unsigned>(kPage - at - 2));
  return p;
}

std::string MapRow(const std::vector<std::uint32_t>& pages) {
  std::string r(69, '\0');
  for (auto pg : pages) r[5 + pg / 8] = static_cast<char>(r[5 + pg / 8] | (1 << (pg % 8)));
  return r;
}

const std::vector<JetColumn> kCatalogColumns = {
    {"Id", kLong}, {"Name", kText, 255}, {"Type", kInt}, {"Flags", kLong}, {"LvProp", kOle}};

std::string BuildJet4(const std::vector<JetTableSpec>& tables) {
  std::string page0(kPage, '\0');
  page0[1] = 0x01;
  std::memcpy(page0.data() + 4, "Standard Jet DB", 15);
  page0[0x14] = 0x01;
  Put16(page0, 0x3C, 1252);
  Put16(page0, 0x6E, 0x0409);
  Rc4(page0, 0x18, 128);

  // Pages: 0 header, 1 maps, 2 catalog definition, then each table's definition and data.
  std::vector<std::string> pages = {page0, "", ""};
  std::vector<std::vector<std::uint32_t>> owned;
  std::vector<std::uint32_t> tdefPages;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const auto mapRow = static_cast<std::uint32_t>(3 + 2 * t);
    tdefPages.push_back(static_cast<std::uint32_t>(pages.size()));
    pages.push_back(Tdef(tables[t].columns, static_cast<std::uint32_t>(tables[t].rows.size()), 0x4E,
                         (1u << 8) | mapRow, (1u << 8) | (mapRow + 1)));
    std::vector<std::string> rows;
    for (const auto& r : tables[t].rows) rows.push_back(EncodeRow(tables[t].columns, r));
    owned.emplace_back();
    for (auto& p : PackRows(tdefPages.back(), rows)) {
      owned.back().push_back(static_cast<std::uint32_t>(pages.size()));
      pages.push_back(p);
    }
  }
  std::vector<std::string> catalogRows;
  for (std::size_t t = 0; t < tables.size(); ++t)
    catalogRows.push_back(EncodeRow(kCatalogColumns, {std::int64_t{tdefPages[t]}, tables[t].name,
                                                      std::int64_t{1}, std::int64_t{0}, std::monostate{}}));
  std::vector<std::uint32_t> catalogPages;
  for (auto& p : PackRows(2, catalogRows)) {
    catalogPages.push_back(static_cast<std::uint32_t>(pages.size()));
    pages.push_back(p);
  }
  pages[2] = Tdef(kCatalogColumns, static_cast<std::uint32_t>(tables.size()), 0x53, (1u << 8) | 1u,
                  (1u << 8) | 2u);
  std::vector<std::string> maps = {MapRow({}), MapRow(catalogPages), MapRow(catalogPages)};
  for (const auto& o : owned) {
    maps.push_back(MapRow(o));
    maps.push_back(MapRow(o));
  }
  pages[1] = PackRows(0, maps).at(0);
  std::string image;
  for (const auto& p : pages) image += p;
  return image;
}

const std::vector<JetColumn> kWarpColumns = {
    {"Index", kLong}, {"Empire", kLong}, {"System", kText}, {"Destination", kText}, {"WP", kLong}};

Row WarpRow(std::int64_t i, const std::string& system, const std::string& destination) {
  return {i, std::int64_t{3}, system, destination, i * 10};
}

JetTableSpec WarpTable(int rows) {
  JetTableSpec t{"Warp Points", kWarpColumns, {}};
  for (int i = 0; i < rows; ++i)
    t.rows.push_back(WarpRow(i, "System " + std::to_string(i), "Dest " + std::to_string(i) + "A"));
  return t;
}

// ---------------------------------------------------------------------------------------
// Capturing the process's stderr around the calls under test.

class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = ::dup(2);
    ::dup2(::fileno(file_), 2);
  }
  ~StderrCapture() {
    if (saved_ >= 0) Release();
    std::fclose(file_);
  }
  std::string Release() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
    std::string text;
    std::rewind(file_);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) text.append(buf, n);
    return text;
  }

 private:
  std::FILE* file_;
  int saved_;
};

struct Outcome {
  HResult open = S_OK;  // the code of Open
  HResult last = S_OK;  // the code that ended the reading
  int rows = 0;
  std::string reason;
};

// Reads a file the way the empire loader does: open, bind five columns, read to the end.
Outcome ReadAsEmpireFile(const std::string& path) {
  Outcome o;
  BoundReader reader;
  std::vector<BoundValue> values;
  o.open = reader.Open(path, "Warp Points",
                       {{Binding::Kind::Int32}, {Binding::Kind::Int32}, {Binding::Kind::Text, 50},
                        {Binding::Kind::Text, 50}, {Binding::Kind::Int32}});
  if (o.open != S_OK) {
    o.reason = reader.error().reason;
    return o;
  }
  while ((o.last = reader.MoveNext(values)) == S_OK) ++o.rows;
  if (o.last < 0) o.reason = reader.error().reason;
  return o;
}

bool IsKnownFailure(HResult hr) {
  return hr == E_FAIL || hr == DB_E_NOTABLE || hr == DB_E_BADORDINAL ||
         hr == DB_E_UNSUPPORTEDCONVERSION;
}

// Every outcome must be a clean success or a known code with a reason.
void ExpectWellBehaved(const Outcome& o, const std::string& what) {
  SCOPED_TRACE(what);
  if (o.open != S_OK) {
    EXPECT_TRUE(IsKnownFailure(o.open)) << o.open;
    EXPECT_FALSE(o.reason.empty());
  } else if (o.last != DB_S_ENDOFROWSET) {
    EXPECT_EQ(o.last, E_FAIL);
    EXPECT_FALSE(o.reason.empty());
  }
}

Outcome ReadQuietly(const std::string& path) {
  StderrCapture capture;
  Outcome o = ReadAsEmpireFile(path);
  EXPECT_EQ(capture.Release(), "") << path;
  return o;
}

// ---------------------------------------------------------------------------------------
// The writer above produces files the reader accepts: the control for everything below.

TEST(JetReaderTest, ReadsAWrittenFileInPageOrderWithAllValueKinds) {
  TempDir dir;
  const auto path = dir.File("e.mdb");
  JetTableSpec t{"Warp Points",
                 {{"Index", kLong}, {"Small", kInt}, {"Tiny", kByte}, {"Name", kText},
                  {"Note", kMemo}, {"Real", kDouble}, {"Raw", kBinary}},
                 {}};
  t.rows.push_back({std::int64_t{-2147483648LL}, std::int64_t{-32768}, std::int64_t{255},
                    std::string("Größe Ω"), std::string("memo text"), 2.5,
                    Blob{{1, 2, 3}}});
  t.rows.push_back({std::int64_t{2147483647LL}, std::monostate{}, std::monostate{}, std::string(""),
                    std::monostate{}, std::monostate{}, std::monostate{}});
  // Enough rows for several data pages, so that page order is exercised.
  for (int i = 0; i < 400; ++i)
    t.rows.push_back({std::int64_t{i}, std::int64_t{1}, std::int64_t{1}, std::string(40, 'x'),
                      std::string("m"), 0.0, Blob{{}}});
  WriteFile(path, BuildJet4({t, WarpTable(2)}));

  StderrCapture capture;
  StoreError err;
  auto reader = OpenTable(path, "warp POINTS", err);
  ASSERT_TRUE(reader) << err.reason;
  const auto& cols = reader->Columns();
  ASSERT_EQ(cols.size(), 7u);
  EXPECT_EQ(cols[3].name, "Name");
  const ColumnType types[] = {ColumnType::Integer, ColumnType::Integer, ColumnType::Integer,
                              ColumnType::Text,    ColumnType::Text,    ColumnType::Real,
                              ColumnType::Binary};
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(cols[i].type, types[i]) << i;

  Row row;
  ASSERT_EQ(reader->Next(row), S_OK);
  EXPECT_EQ(row[0], Cell{std::int64_t{-2147483648LL}});
  EXPECT_EQ(row[1], Cell{std::int64_t{-32768}});
  EXPECT_EQ(row[2], Cell{std::int64_t{255}});
  EXPECT_EQ(row[3], Cell{std::string("Größe Ω")});
  EXPECT_EQ(row[4], Cell{std::string("memo text")});
  EXPECT_EQ(row[5], Cell{2.5});
  EXPECT_EQ(row[6], (Cell{Blob{{1, 2, 3}}}));
  ASSERT_EQ(reader->Next(row), S_OK);
  EXPECT_EQ(row[0], Cell{std::int64_t{2147483647LL}});
  EXPECT_EQ(row[1], Cell{});
  EXPECT_EQ(row[3], Cell{std::string()}) << "an empty text is not NULL";
  EXPECT_EQ(row[4], Cell{});
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(reader->Next(row), S_OK) << i;
    ASSERT_EQ(row[0], Cell{std::int64_t{i}});
  }
  EXPECT_EQ(reader->Next(row), DB_S_ENDOFROWSET);
  EXPECT_EQ(reader->Next(row), DB_S_ENDOFROWSET);
  EXPECT_EQ(capture.Release(), "");
}

TEST(JetReaderTest, TableLookupAndBindingErrors) {
  TempDir dir;
  const auto path = dir.File("e.mdb");
  WriteFile(path, BuildJet4({WarpTable(3),
                             {"Short", {{"A", kLong}, {"B", kLong}}, {}},
                             {"Blobby", {{"A", kLong}, {"B", kOle}, {"C", kText}, {"D", kText}, {"E", kLong}}, {}}}));
  struct Case {
    const char* table;
    HResult open;
  };
  const Case cases[] = {{"Warp Points", S_OK},
                        {"WARP points", S_OK},
                        {"Warp Point", DB_E_NOTABLE},
                        {"MSysObjects", DB_E_NOTABLE},
                        {"Short", DB_E_BADORDINAL},
                        {"Blobby", DB_E_UNSUPPORTEDCONVERSION}};
  StderrCapture capture;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    BoundReader reader;
    const HResult hr = reader.Open(path, c.table,
                                   {{Binding::Kind::Int32}, {Binding::Kind::Int32}, {Binding::Kind::Text, 50},
                                    {Binding::Kind::Text, 50}, {Binding::Kind::Int32}});
    EXPECT_EQ(hr, c.open) << reader.error().reason;
    if (hr != S_OK) {
      EXPECT_NE(reader.error().reason.find(path), std::string::npos);
    }
  }
  const Outcome o = ReadAsEmpireFile(path);
  EXPECT_EQ(o.rows, 3);
  EXPECT_EQ(o.last, DB_S_ENDOFROWSET);
  EXPECT_EQ(capture.Release(), "");
}

TEST(JetReaderTest, StoppingEarlyEndsTheReaderProcess) {
  TempDir dir;
  const auto path = dir.File("e.mdb");
  WriteFile(path, BuildJet4({WarpTable(2000)}));
  // Many readers abandoned after one row: each must be cleaned up, none may block.
  for (int i = 0; i < 20; ++i) {
    StoreError err;
    auto reader = OpenTable(path, "Warp Points", err);
    ASSERT_TRUE(reader) << err.reason;
    Row row;
    ASSERT_EQ(reader->Next(row), S_OK);
  }
}

TEST(JetReaderTest, ReadsWhileOtherThreadsAllocateAndPrint) {
  // A GUI process has other threads; the reader's child is forked from it and must not
  // inherit a lock that one of them held at that moment.
  TempDir dir;
  const auto path = dir.File("e.mdb");
  WriteFile(path, BuildJet4({WarpTable(50)}));
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (int t = 0; t < 2; ++t) {
    busy.emplace_back([&stop] {
      std::FILE* sink = std::fopen("/dev/null", "w");
      while (!stop) {
        std::vector<std::string> garbage(64, std::string(100, 'x'));
        std::fprintf(sink, "%zu\n", garbage.size());
      }
      std::fclose(sink);
    });
  }
  for (int i = 0; i < 30; ++i) {
    const Outcome o = ReadAsEmpireFile(path);
    EXPECT_EQ(o.open, S_OK) << o.reason;
    EXPECT_EQ(o.rows, 50) << o.reason;
  }
  stop = true;
  for (auto& t : busy) t.join();
}

// ---------------------------------------------------------------------------------------
// Damage a reader must survive.

struct NamedFile {
  std::string name;
  std::string bytes;
};

std::string Sqlite(const TempDir& dir) {
  const auto path = dir.File("base.db");
  testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, path,
                           {{1, 3, "Alpha", "BetaA", 1}, {2, 3, "Beta", "GammaB", 2}});
  // Many small tables, so that the schema and the data spread over many pages.
  std::string sql = "PRAGMA synchronous=OFF; BEGIN;";
  for (int i = 0; i < 300; ++i) sql += "CREATE TABLE f" + std::to_string(i) + "(a INTEGER, b TEXT);";
  sql += "COMMIT;";
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  return testing::ReadFile(path);
}

std::string Zeroed(std::string image, std::size_t page, std::size_t pageSize) {
  std::fill(image.begin() + static_cast<long>(page * pageSize),
            image.begin() + static_cast<long>((page + 1) * pageSize), '\0');
  return image;
}
std::string Randomised(std::string image, std::size_t from, std::size_t to, unsigned seed) {
  std::mt19937 rng(seed);
  for (std::size_t i = from; i < to && i < image.size(); ++i) image[i] = static_cast<char>(rng());
  return image;
}

std::vector<NamedFile> HandMadeCorpus(const TempDir& dir) {
  const std::string jet = BuildJet4({WarpTable(300)});
  const std::size_t pages = jet.size() / kPage;
  const std::string sqlite = Sqlite(dir);
  std::vector<NamedFile> files = {
      {"empty", ""},
      {"text", "Warp Points\nAlpha,Beta\n"},
      {"random", Randomised(std::string(20000, '\0'), 0, 20000, 7)},
      {"jet header only", jet.substr(0, 0x20)},
      {"jet one page", jet.substr(0, kPage)},
      {"jet wrong version", [&] { auto j = jet; j[0x14] = 9; return j; }()},
      {"jet byte 0 set", [&] { auto j = jet; j[0] = 1; return j; }()},
      {"jet unmasked header", [&] { auto j = jet; Rc4(j, 0x18, 128); return j; }()},
      {"jet catalog zeroed", Zeroed(jet, 2, kPage)},
      {"jet catalog random", Randomised(jet, 2 * kPage, 3 * kPage, 1)},
      {"jet maps zeroed", Zeroed(jet, 1, kPage)},
      {"jet table definition zeroed", Zeroed(jet, 3, kPage)},
      {"jet table definition random", Randomised(jet, 3 * kPage + 8, 4 * kPage, 2)},
      {"jet catalog data zeroed", Zeroed(jet, pages - 1, kPage)},
      {"jet data page zeroed", Zeroed(jet, 4, kPage)},
      {"jet data page random", Randomised(jet, 4 * kPage + 8, 5 * kPage, 3)},
      {"jet data rows random", Randomised(jet, 4 * kPage + 14, 4 * kPage + 200, 4)},
      {"jet truncated after data", jet.substr(0, 5 * kPage)},
      {"jet truncated mid page", jet.substr(0, 4 * kPage + 100)},
      {"jet huge row count", [&] { auto j = jet; Put16(j, 4 * kPage + 12, 0xFFFF); return j; }()},
      {"jet columns count huge", [&] { auto j = jet; Put16(j, 3 * kPage + 45, 0xFFFF); return j; }()},
      {"jet data page of no table", [&] { auto j = jet; Put32(j, 4 * kPage + 4, 0xFF000003); return j; }()},
      {"jet map points past end", [&] { auto j = jet; Put32(j, 3 * kPage + 55, 0x7FFFFF01); return j; }()},
      {"sqlite header only", sqlite.substr(0, 100)},
      {"sqlite truncated", sqlite.substr(0, sqlite.size() / 2 + 100)},
      {"sqlite signature only", std::string("SQLite format 3\0", 16)},
      {"sqlite schema page random", Randomised(sqlite, 100, 4096, 5)},
      {"sqlite pages random", Randomised(sqlite, 4096, sqlite.size(), 6)},
  };
  return files;
}

TEST(StoreCorpusTest, MissingFolderAndUnreadableFilesFail) {
  TempDir dir;
  const auto noPermission = dir.File("locked.mdb");
  WriteFile(noPermission, BuildJet4({WarpTable(1)}));
  ::chmod(noPermission.c_str(), 0);
  std::vector<std::string> paths = {dir.File("missing.mdb"), dir.path().string(), "",
                                    dir.File("missing/deeper.db")};
  if (::geteuid() != 0) paths.push_back(noPermission);  // root reads anything
  for (const auto& path : paths) {
    const Outcome o = ReadQuietly(path);
    EXPECT_EQ(o.open, E_FAIL) << path;
    EXPECT_FALSE(o.reason.empty()) << path;
  }
}

TEST(StoreCorpusTest, HandMadeDamageFailsCleanly) {
  TempDir dir;
  for (const auto& f : HandMadeCorpus(dir)) {
    SCOPED_TRACE(f.name);
    const auto path = dir.File("case.bin");
    WriteFile(path, f.bytes);
    const Outcome o = ReadQuietly(path);
    ExpectWellBehaved(o, f.name);
    // Damage is never mistaken for a missing table or for the end of the rows.
    EXPECT_EQ(o.open != S_OK ? o.open : o.last, E_FAIL) << "read " << o.rows << " rows";
    // The file is never changed by reading.
    EXPECT_EQ(testing::ReadFile(path), f.bytes);
  }
}

// Seeded mutations of valid files: whatever they do, the outcome is clean.
TEST(StoreCorpusTest, SeededMutationsNeverCrashHangOrPrint) {
  TempDir dir;
  const std::string bases[] = {BuildJet4({WarpTable(300)}), Sqlite(dir)};
  std::mt19937 rng(20261206);
  int failures = 0, runs = 0;
  for (const auto& base : bases) {
    for (int i = 0; i < 60; ++i) {
      std::string m = base;
      const int kind = static_cast<int>(rng() % 4);
      if (kind == 0) {  // a few bit flips anywhere after the signature
        for (int k = 0; k < 4; ++k) {
          const std::size_t at = 20 + rng() % (m.size() - 20);
          m[at] = static_cast<char>(m[at] ^ (1 << (rng() % 8)));
        }
      } else if (kind == 1) {  // truncation
        m.resize(20 + rng() % (m.size() - 20));
      } else if (kind == 2) {  // a run of random bytes in one page
        const std::size_t at = 20 + rng() % (m.size() - 20);
        m = Randomised(m, at, at + 1 + rng() % 64, static_cast<unsigned>(rng()));
      } else {  // a 16-bit field set to an extreme value
        const std::size_t at = 20 + rng() % (m.size() - 22);
        Put16(m, at, rng() % 2 ? 0xFFFF : 0x8000);
      }
      const auto path = dir.File("m" + std::to_string(runs) + ".bin");
      WriteFile(path, m);
      const Outcome o = ReadQuietly(path);
      ExpectWellBehaved(o, "mutation " + std::to_string(runs));
      failures += (o.open != S_OK || o.last != DB_S_ENDOFROWSET) ? 1 : 0;
      ++runs;
    }
  }
  EXPECT_GT(failures, 0) << "no mutation was noticed at all";
}

// ---------------------------------------------------------------------------------------
// The isolation itself, with faults injected into the child.

TEST(IsolatedProcessTest, ChildMisbehaviourBecomesAFailure) {
  struct Case {
    const char* name;
    IsolatedProcess::Work work;
    const char* failureMentions;
  };
  IsolationLimits limits;
  limits.idleTimeoutMs = 300;
  limits.maxMessageBytes = 1024;
  const Case cases[] = {
      // Under the address sanitizer a crash ends in its report and exit code 1 instead.
      {"crash", [](ChildChannel&) { std::raise(SIGSEGV); return 0; }, ""},
      {"abort", [](ChildChannel&) { std::abort(); return 0; }, "signal 6"},
      {"exit code", [](ChildChannel&) { return 3; }, "exit code 3"},
      {"stuck", [](ChildChannel&) { for (;;) ::pause(); return 0; }, "progress"},
      {"oversized", [](ChildChannel& c) { c.Send('R', std::string(2000, 'x')); return 0; }, "malformed"},
      {"cut off", [](ChildChannel&) { ::write(3, "R\x09\0\0\0abc", 8); return 0; }, "middle"},
      {"throws", [](ChildChannel&) -> int { throw std::runtime_error("x"); }, "exit code 125"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture capture;
    std::string why;
    auto child = IsolatedProcess::Start(
        [&](ChildChannel& ch) {
          std::fputs("noise on stderr\n", stderr);
          return c.work(ch);
        },
        limits, why);
    ASSERT_TRUE(child) << why;
    ChildMessage m;
    EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::Failed);
    EXPECT_NE(child->failure().find(c.failureMentions), std::string::npos) << child->failure();
    EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::Failed) << "the failure is final";
    EXPECT_EQ(child->CapturedOutput().rfind("noise on stderr\n", 0), 0u);
    EXPECT_EQ(capture.Release(), "");
  }
}

TEST(IsolatedProcessTest, MessagesArriveInOrderAcrossManyChunks) {
  std::string why;
  auto child = IsolatedProcess::Start(
      [](ChildChannel& ch) {
        for (int i = 0; i < 50000; ++i)
          if (!ch.Send('R', std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26))))
            return 1;
        ch.Send('R', std::string(200000, 'z'));  // larger than one read
        return 0;
      },
      IsolationLimits{}, why);
  ASSERT_TRUE(child) << why;
  ChildMessage m;
  for (int i = 0; i < 50000; ++i) {
    ASSERT_EQ(child->Receive(m), IsolatedProcess::Status::Message) << i << child->failure();
    ASSERT_EQ(m.payload, std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26)));
  }
  ASSERT_EQ(child->Receive(m), IsolatedProcess::Status::Message);
  EXPECT_EQ(m.payload.size(), 200000u);
  EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::End) << child->failure();
}

TEST(JetReaderTest, AStuckReaderIsStoppedAndReported) {
  // With no time allowed at all, every wait for the reader runs out: the open must come
  // back as a damaged file rather than wait.
  TempDir dir;
  const auto path = dir.File("e.mdb");
  WriteFile(path, BuildJet4({WarpTable(3)}));
  IsolationLimits limits;
  limits.idleTimeoutMs = 0;
  StderrCapture capture;
  StoreError err;
  auto reader = OpenJetTable(path, "Warp Points", err, limits);
  EXPECT_FALSE(reader);
  EXPECT_EQ(err.code, E_FAIL);
  EXPECT_NE(err.reason.find("progress"), std::string::npos) << err.reason;
  EXPECT_EQ(capture.Release(), "");
}

}  // namespace
}  // namespace lanewright::store
