// Bad input for the store: every file here is made in code, fed to the readers, and must
// give a result code with a reason: no crash, no hang, not a byte on stderr.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <functional>
#include <random>
#include <tuple>

#include "store/IsolatedProcess.h"
#include "store/JetFormat.h"
#include "store/JetTable.h"
#include "store/JetWriter.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright::store {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Jet files come from the project's Jet writer; the damage below finds its pages by their
// type and owner, so it does not depend on the writer's layout.

constexpr std::size_t kPage = 4096;  // Jet4

// Little-endian fields of `size` bytes.
void Put(std::string& b, std::size_t at, int size, std::uint32_t v) {
  for (int i = 0; i < size; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t Get32(const std::string& b, std::size_t at) {
  return jet::Get(jet::Bytes(b.data() + at, b.data() + at + 4), 0, 4);
}

// The first page after `after` of this type (and, for data pages, this owner).
std::size_t FindPage(const std::string& image, char type, std::uint32_t owner = 0,
                     std::size_t after = 2, std::size_t size = kPage) {
  for (std::size_t p = after + 1; (p + 1) * size <= image.size(); ++p)
    if (image[p * size] == type && (type != 1 || Get32(image, p * size + 4) == owner)) return p;
  ADD_FAILURE() << "no page of type " << int{type};
  return 0;
}

// A Jet4 empire file, as bytes.
std::string JetEmpire(const TempDir& dir, int rows) {
  const auto path = dir.File("jet-" + std::to_string(rows) + ".mdb");
  std::vector<testing::EmpireRow> r;
  for (int i = 0; i < rows; ++i)
    r.push_back({i, 3, "System " + std::to_string(i), "Dest " + std::to_string(i) + "A", i * 10});
  testing::WriteEmpireFile(testing::FixtureFormat::Jet4, path, r);
  return testing::ReadFile(path);
}

// Damage a reader must survive.

struct NamedFile {
  std::string name;
  std::string bytes;
  std::string says = {};  // a part of the reason, where it matters
};

std::string Sqlite(const TempDir& dir) {
  const auto path = dir.File("base.db");
  testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, path,
                           {{1, 3, "Alpha", "BetaA", 1}, {2, 3, "Beta", "GammaB", 2}});
  // Many small tables, so that the schema and the data spread over many pages.
  std::string sql = "PRAGMA synchronous=OFF; BEGIN;";
  for (int i = 0; i < 300; ++i)
    sql += "CREATE TABLE f" + std::to_string(i) + "(a INTEGER, b TEXT);";
  sql += "COMMIT;";
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  return testing::ReadFile(path);
}

std::string Zeroed(std::string image, std::size_t page) {
  std::fill_n(image.begin() + static_cast<long>(page * kPage), kPage, '\0');
  return image;
}
std::string Randomised(std::string image, std::size_t from, std::size_t to, unsigned seed) {
  std::mt19937 rng(seed);
  for (std::size_t i = from; i < to && i < image.size(); ++i) image[i] = static_cast<char>(rng());
  return image;
}

std::vector<NamedFile> HandMadeCorpus(const TempDir& dir) {
  const std::string jet = JetEmpire(dir, 300);
  const std::size_t tdef = FindPage(jet, 2);  // the table's definition
  const std::size_t data = FindPage(jet, 1, static_cast<std::uint32_t>(tdef));
  const std::size_t catalogData = FindPage(jet, 1, 2, 0);  // the list of tables
  auto with = [&](auto change) {
    std::string j = jet;
    change(j);
    return j;
  };
  const std::string sqlite = Sqlite(dir);
  const std::string jet3 = std::string(2048, '\0').replace(4, 15, "Standard Jet DB");  // Jet3
  return {
      {"empty", "", "not a Jet (.mdb) or SQLite database"},
      {"signature only", jet3.substr(0, 19), "not a Jet database"},
      {"jet3 one page", jet3, "2048 bytes, too short"},
      {"jet header only", jet.substr(0, 0x20), "too short"},
      {"jet wrong version", with([](std::string& j) { j[0x14] = 9; }), "not a Jet database"},
      {"jet byte 0 set", with([](std::string& j) { j[0] = 1; }), "not a Jet database"},
      {"jet unmasked header", with([](std::string& j) {
         const std::uint8_t key[] = {0xC7, 0xDA, 0x39, 0x6B};  // the header's fixed mask
         jet::Rc4(key, 4, reinterpret_cast<std::uint8_t*>(j.data()) + 0x18, 128);
       })},
      {"jet catalog zeroed", Zeroed(jet, 2)},
      {"jet catalog random", Randomised(jet, 2 * kPage, 3 * kPage, 1)},
      {"jet catalog data zeroed", Zeroed(jet, catalogData)},
      {"jet table definition zeroed", Zeroed(jet, tdef)},
      {"jet table definition random", Randomised(jet, tdef * kPage + 8, (tdef + 1) * kPage, 2)},
      {"jet data page zeroed", Zeroed(jet, data)},
      {"jet data page random", Randomised(jet, data * kPage + 8, (data + 1) * kPage, 3)},
      {"jet data rows random", Randomised(jet, data * kPage + 14, data * kPage + 200, 4)},
      {"jet data page of no table",
       with([&](std::string& j) { Put(j, data * kPage + 4, 4, 0xFF000003); })},
      {"jet huge row count", with([&](std::string& j) { Put(j, data * kPage + 12, 2, 0xFFFF); })},
      {"jet column count huge",
       with([&](std::string& j) { Put(j, tdef * kPage + 45, 2, 0xFFFF); })},
      {"jet map points past end",
       with([&](std::string& j) { Put(j, tdef * kPage + 55, 4, 0x7FFFFF01); })},
      {"jet truncated after data", jet.substr(0, (data + 1) * kPage)},
      {"sqlite header only", sqlite.substr(0, 100)},
      {"sqlite truncated", sqlite.substr(0, sqlite.size() / 2 + 100)},
      {"sqlite signature only", std::string("SQLite format 3\0", 16)},
      {"sqlite schema page random", Randomised(sqlite, 100, 4096, 5)},
      {"sqlite pages random", Randomised(sqlite, 4096, sqlite.size(), 6)},
  };
}

TEST(StoreCorpusTest, HandMadeDamageFailsCleanly) {
  TempDir dir;
  for (const auto& f : HandMadeCorpus(dir)) {
    SCOPED_TRACE(f.name);
    const auto path = dir.File("case.bin");
    WriteFile(path, f.bytes);
    ::testing::internal::CaptureStderr();
    const testing::EmpireRead read = testing::ReadEmpireTable(path);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // Damage is never mistaken for a missing table or for the end of the rows.
    EXPECT_EQ(read.last, E_FAIL) << "read " << read.rows << " rows";
    EXPECT_EQ(read.error.reason.rfind(path + ": ", 0), 0u) << read.error.reason;
    EXPECT_NE(read.error.reason.find(f.says), std::string::npos) << read.error.reason;
    EXPECT_EQ(testing::ReadFile(path), f.bytes) << "reading changed the file";
  }
}

// The isolation itself, with faults injected into children written in shell; their
// channel is fd 3.

TEST(IsolatedProcessTest, ChildMisbehaviourBecomesAFailure) {
  const IsolationLimits limits{.idleTimeoutMs = 300, .maxMessageBytes = 1024};
  // What the child does after a word on stderr, and what the failure must mention.
  const std::pair<std::string, const char*> cases[] = {
      {"kill -SEGV $$", "signal 11 SIGSEGV"},
      {"exit 3", "exit code 3"},
      {"exec sleep 10", "progress"},
      {"printf 'R\\320\\007\\000\\000' >&3", "malformed"},  // announces 2000 bytes
      {"printf 'R\\011\\000\\000\\000abc' >&3", "middle"},
      // The parent ignores SIGPIPE here; the child must not inherit that.
      {"kill -PIPE $$", "signal 13 SIGPIPE"},
  };
  const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  std::string why;
  for (const auto& [script, mentions] : cases) {
    SCOPED_TRACE(script);
    ::testing::internal::CaptureStderr();
    auto child = IsolatedProcess::Spawn({"/bin/sh", "-c", "echo noise on stderr >&2; " + script},
                                        limits, why);
    ASSERT_TRUE(child) << why;
    ChildMessage m;
    EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::Failed);
    EXPECT_NE(child->failure().find(mentions), std::string::npos) << child->failure();
    EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::Failed) << "the failure is final";
    EXPECT_EQ(child->CapturedOutput().rfind("noise on stderr\n", 0), 0u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
  std::signal(SIGPIPE, oldPipe);
  EXPECT_FALSE(IsolatedProcess::Spawn({"/no/such/program"}, limits, why));
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;
}

TEST(IsolatedProcessTest, MessagesArriveInOrderAcrossManyChunks) {
  // 3000 short messages, then one of 200000 bytes (larger than one read).
  std::string why;
  auto child = IsolatedProcess::Spawn(
      {"/bin/sh", "-c",
       "exec perl -e 'for $i (0..2999) { print \"R\", pack(\"V\", $i % 97), \" \" x ($i % 97) }"
       " print \"R\", pack(\"V\", 200000), \"\\0\" x 200000' >&3"},
      {}, why);
  ASSERT_TRUE(child) << why;
  ChildMessage m;
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(child->Receive(m), IsolatedProcess::Status::Message) << i << child->failure();
    ASSERT_EQ(m.payload, std::string(static_cast<std::size_t>(i % 97), ' '));
  }
  ASSERT_EQ(child->Receive(m), IsolatedProcess::Status::Message);
  EXPECT_EQ(m.payload, std::string(200000, '\0'));
  EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::End) << child->failure();
}

TEST(JetReaderTest, AStuckReaderIsStoppedAndReported) {
  // With no time allowed at all, every wait for the reader runs out: the open must come
  // back as a damaged file rather than wait.
  TempDir dir;
  const auto path = dir.File("e.mdb");
  WriteFile(path, JetEmpire(dir, 3));
  StoreError err;
  EXPECT_FALSE(OpenJetTable(path, "Warp Points", err, IsolationLimits{.idleTimeoutMs = 0}));
  EXPECT_EQ(err.code, E_FAIL);
  EXPECT_NE(err.reason.find("progress"), std::string::npos) << err.reason;
}

// Damage that libmdb reads past without a word, so that a damaged file would pass for a
// shorter or mixed-up one. Each case must fail the whole read with E_FAIL and say why, and
// the writer must refuse to append to such a file (refusals never write: RefusalTest).

// A file with two tables, "Warp Points" (40 rows) and "Fleets", one data page each, and
// where the writer put their pages.
struct TwoTableFile {
  const jet::Layout* layout;
  std::string bytes;
  std::size_t warpDef = 0, fleetDef = 0, warpData = 0, fleetData = 0;

  std::size_t At(std::size_t page) const { return page * layout->pageSize; }
  std::size_t Pages() const { return bytes.size() / layout->pageSize; }
  std::size_t NumRowsAt() const { return At(warpDef) + layout->tdefNumRows; }
  // Warp Points' page map is a row of bits over the pages from a start page on.
  void SetMapBit(std::size_t page, bool on) {
    const std::uint32_t pointer = Get32(bytes, At(warpDef) + layout->tdefOwnedMap);
    const std::size_t offsets = At(pointer >> 8) + layout->dataHeader + 2 * (pointer & 0xFF);
    const std::size_t map = At(pointer >> 8) + (Get32(bytes, offsets) & 0x1FFF);
    ASSERT_EQ(bytes[map], 0) << "a map of the inline kind";
    const std::size_t i = page - Get32(bytes, map + 1);
    char& byte = bytes[map + 5 + i / 8];
    byte = static_cast<char>(on ? byte | (1 << (i % 8)) : byte & ~(1 << (i % 8)));
  }
  std::string Page(std::size_t p) const { return bytes.substr(At(p), layout->pageSize); }
  void SetPage(std::size_t p, const std::string& page) { bytes.replace(At(p), page.size(), page); }
};

TwoTableFile MakeTwoTableFile(const TempDir& dir, JetVersion version) {
  const std::vector<JetColumn> columns = {{"Index", JetColumnType::LongInteger},
                                          {"Name", JetColumnType::Text, 50}};
  JetTableSpec warp{"Warp Points", columns, {}};
  for (int i = 0; i < 40; ++i)
    warp.rows.push_back({std::int64_t{i}, "System " + std::to_string(i)});
  const JetTableSpec fleets{"Fleets", columns, {{std::int64_t{1}, std::string("First")}}};
  const auto path = dir.File(version == JetVersion::Jet3 ? "two3.mdb" : "two4.mdb");
  EXPECT_FALSE(CreateJetDatabase(path, version, {warp, fleets}).Failed());
  TwoTableFile f{&jet::LayoutFor(version), testing::ReadFile(path)};
  const std::size_t size = f.layout->pageSize;
  f.warpDef = FindPage(f.bytes, 2, 0, 2, size);
  f.fleetDef = FindPage(f.bytes, 2, 0, f.warpDef, size);
  f.warpData = FindPage(f.bytes, 1, static_cast<std::uint32_t>(f.warpDef), 2, size);
  f.fleetData = FindPage(f.bytes, 1, static_cast<std::uint32_t>(f.fleetDef), 2, size);
  return f;
}

TEST(JetDamageTest, DamageLibmdbWouldPassOverFailsTheWholeRead) {
  struct Case {
    const char* name;
    std::function<void(TwoTableFile&)> damage;
    // What the reason must say, with page numbers filled in: {data} (Warp Points' data
    // page), {last} (the intact file's last page), {before} (the one before it), {past}
    // (last + 3); "" for a file that must read whole, with `rows` rows.
    std::string says;
    std::size_t rows = 0;
  };
  const Case cases[] = {
      {"a deleted row, counted out",
       [](TwoTableFile& f) {
         f.bytes[f.At(f.warpData) + f.layout->dataHeader + 2 * 5 + 1] |= 0x40;  // row 5's flags
         Put(f.bytes, f.NumRowsAt(), 4, 39);
       },
       "", 39},
      {"data pages swapped between two tables",
       [](TwoTableFile& f) {
         const std::string warp = f.Page(f.warpData);
         f.SetPage(f.warpData, f.Page(f.fleetData));
         f.SetPage(f.fleetData, warp);
       },
       "page {data} of table \"Warp Points\" belongs to table \"Fleets\""},
      {"a table definition over the data page",
       [](TwoTableFile& f) { f.SetPage(f.warpData, f.Page(f.fleetDef)); },
       "page {data} of table \"Warp Points\" is a table definition, not a data page"},
      {"the data page dropped from the page map",
       [](TwoTableFile& f) { f.SetMapBit(f.warpData, false); },
       "table \"Warp Points\" has 0 rows where its definition counts 40"},
      {"more rows than the definition counts",
       [](TwoTableFile& f) { Put(f.bytes, f.NumRowsAt(), 4, 39); },
       "has 40 rows where its definition counts 39"},
      {"the page map names a page past the end",
       [](TwoTableFile& f) { f.SetMapBit(f.Pages() + 2, true); },
       "names page {past}, but the file ends after page {last} (truncated?)"},
      // libmdb crashes on this one; the reader's own checks must come first and say why.
      {"the page maps zeroed",
       [](TwoTableFile& f) { f.SetPage(1, std::string(f.layout->pageSize, '\0')); },
       "the page map of table \"MSysObjects\": it is on page 1, which is not a database page"},
      {"cut 100 bytes short", [](TwoTableFile& f) { f.bytes.resize(f.bytes.size() - 100); },
       "the file is cut short"},
      {"cut one page short",
       [](TwoTableFile& f) { f.bytes.resize(f.bytes.size() - f.layout->pageSize); },
       "but the file ends after page {before} (truncated?)"},
  };
  TempDir dir;
  for (const auto version : {JetVersion::Jet3, JetVersion::Jet4}) {
    const TwoTableFile intact = MakeTwoTableFile(dir, version);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(version == JetVersion::Jet3 ? "Jet3: " : "Jet4: ") + c.name);
      TwoTableFile f = intact;
      c.damage(f);
      const std::string says =
          fmt::format(fmt::runtime(c.says), fmt::arg("data", intact.warpData),
                      fmt::arg("before", intact.Pages() - 2), fmt::arg("last", intact.Pages() - 1),
                      fmt::arg("past", intact.Pages() + 2));
      const auto path = dir.File(std::string("damaged-") + c.name + ".mdb");
      WriteFile(path, f.bytes);

      ::testing::internal::CaptureStderr();
      StoreError err;
      const auto rows = testing::ReadAllRows(path, "Warp Points", err).size();
      // Turn entry databases are written through the same reader: no row goes into a
      // damaged one.
      const StoreError appended =
          AppendJetRows(path, "Warp Points", {{std::int64_t{99}, std::string("Appended")}});
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
      if (says.empty()) {
        EXPECT_FALSE(err.Failed()) << err.reason;
        EXPECT_EQ(rows, c.rows);
        EXPECT_FALSE(appended.Failed()) << appended.reason;
        continue;
      }
      EXPECT_EQ(err.code, E_FAIL) << "read " << rows << " rows";
      EXPECT_NE(err.reason.find("damaged Jet file: "), std::string::npos) << err.reason;
      EXPECT_NE(err.reason.find(says), std::string::npos) << err.reason;
      EXPECT_NE(appended.reason.find("damaged"), std::string::npos) << appended.reason;
    }
  }
}

// Text ends at its first NUL, as a zero-terminated field holds it. The writer refuses NUL,
// so the bytes are put in afterwards.
TEST(JetDamageTest, TextEndsAtItsFirstNul) {
  using namespace std::string_literals;
  // "\xc4\x80" (U+0100) keeps the Jet4 text out of the compressed form, which cannot hold
  // U+0000 at all: its 0x00 byte switches between one- and two-byte characters.
  // Written, as it is stored, what the stored bytes become, what reads back.
  const std::tuple<const char*, JetVersion, std::string, std::string, std::string, std::string>
      cases[] = {
          {"Jet3 code page", JetVersion::Jet3, "AbQcd", "AbQcd", "Ab\0cd"s, "Ab"},
          {"Jet3 first byte", JetVersion::Jet3, "QAbcd", "QAbcd", "\0Abcd"s, ""},
          {"Jet4 UCS-2", JetVersion::Jet4, "AbQcd\xc4\x80", "A\0b\0Q\0"s, "A\0b\0\0\0"s, "Ab"},
      };
  TempDir dir;
  for (const auto& [name, version, written, stored, patched, read] : cases) {
    SCOPED_TRACE(name);
    const auto path = dir.File(std::string(name) + ".mdb");
    const JetTableSpec table{"Warp Points", {{"Name", JetColumnType::Text, 50}}, {{written}}};
    ASSERT_FALSE(CreateJetDatabase(path, version, {table}).Failed());
    std::string bytes = testing::ReadFile(path);
    const auto at = bytes.find(stored);
    ASSERT_NE(at, std::string::npos);
    WriteFile(path, bytes.replace(at, stored.size(), patched));
    StoreError err;
    EXPECT_EQ(testing::ReadAllRows(path, "Warp Points", err), std::vector<Row>{{read}})
        << err.reason;
  }
}

}  // namespace
}  // namespace lanewright::store
