// Bad input for the store: every file here is made in code, fed to the readers, and must
// give a result code with a reason: no crash, no hang, not a byte on stderr.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <random>
#include <set>

#include "store/BoundReader.h"
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

// ---------------------------------------------------------------------------------------
// Jet files come from the project's Jet writer; the damage below finds its pages by their
// type and owner, so it does not depend on the writer's layout.

constexpr std::size_t kPage = 4096;  // Jet4

// Little-endian fields of `size` bytes.
void Put(std::string& b, std::size_t at, int size, std::uint32_t v) {
  for (int i = 0; i < size; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t Get32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
  return v;
}

// The header's masking: RC4 with a fixed key, its own inverse.
void Rc4(std::string& b, std::size_t at, std::size_t n) {
  const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  jet::Rc4(key, sizeof key, reinterpret_cast<std::uint8_t*>(b.data()) + at, n);
}

// The first page after `after` of this type (and, for data pages, this owner).
std::size_t FindPage(const std::string& image, char type, std::uint32_t owner = 0,
                     std::size_t after = 2) {
  for (std::size_t p = after + 1; (p + 1) * kPage <= image.size(); ++p)
    if (image[p * kPage] == type && (type != 1 || Get32(image, p * kPage + 4) == owner)) return p;
  ADD_FAILURE() << "no page of type " << int{type};
  return 0;
}

// A Jet4 empire file of `rows` rows, as bytes.
std::string JetEmpire(const TempDir& dir, int rows) {
  static int made = 0;
  const auto path = dir.File("jet-" + std::to_string(++made) + ".mdb");
  std::vector<testing::EmpireRow> r;
  for (int i = 0; i < rows; ++i)
    r.push_back({i, 3, "System " + std::to_string(i), "Dest " + std::to_string(i) + "A", i * 10});
  testing::WriteEmpireFile(testing::FixtureFormat::Jet4, path, r);
  return testing::ReadFile(path);
}

struct Outcome {
  HResult open = S_OK;  // the code of Open
  HResult last = S_OK;  // the code that ended the reading
  int rows = 0;
  std::string reason;
};

// Reads a file the way the empire loader does (open, bind five columns, read to the end),
// and checks that nothing reached stderr meanwhile.
Outcome ReadQuietly(const std::string& path) {
  ::testing::internal::CaptureStderr();
  Outcome o;
  BoundReader reader;
  std::vector<BoundField> values;
  o.open = reader.Open(path, "Warp Points",
                       {{Binding::Kind::Int32},
                        {Binding::Kind::Int32},
                        {Binding::Kind::Text, 50},
                        {Binding::Kind::Text, 50},
                        {Binding::Kind::Int32}});
  if (o.open == S_OK)
    while ((o.last = reader.MoveNext(values)) == S_OK) ++o.rows;
  o.reason = reader.error().reason;
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << path;
  return o;
}

// Every outcome must be a clean success or a known code with a reason.
void ExpectWellBehaved(const Outcome& o) {
  if (o.open == S_OK && o.last == DB_S_ENDOFROWSET) return;
  const std::set<HResult> known = {E_FAIL, DB_E_NOTABLE, DB_E_BADORDINAL,
                                   DB_E_UNSUPPORTEDCONVERSION};
  EXPECT_TRUE(o.open != S_OK ? known.count(o.open) > 0 : o.last == E_FAIL) << o.open << o.last;
  EXPECT_FALSE(o.reason.empty());
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
  for (int i = 0; i < 300; ++i)
    sql += "CREATE TABLE f" + std::to_string(i) + "(a INTEGER, b TEXT);";
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
  const std::string jet = JetEmpire(dir, 300);
  const std::size_t tdef = FindPage(jet, 2);  // the table's definition
  const std::size_t data = FindPage(jet, 1, static_cast<std::uint32_t>(tdef));
  const std::size_t catalogData = FindPage(jet, 1, 2, 0);       // the list of tables
  const std::size_t maps = Get32(jet, tdef * kPage + 55) >> 8;  // the page of the page maps
  auto with = [&](auto change) {
    std::string j = jet;
    change(j);
    return j;
  };
  const std::string sqlite = Sqlite(dir);
  return {
      {"empty", ""},
      {"text", "Warp Points\nAlpha,Beta\n"},
      {"random", Randomised(std::string(20000, '\0'), 0, 20000, 7)},
      {"jet header only", jet.substr(0, 0x20)},
      {"jet one page", jet.substr(0, kPage)},
      {"jet wrong version", with([](std::string& j) { j[0x14] = 9; })},
      {"jet byte 0 set", with([](std::string& j) { j[0] = 1; })},
      {"jet unmasked header", with([](std::string& j) { Rc4(j, 0x18, 128); })},
      {"jet catalog zeroed", Zeroed(jet, 2, kPage)},
      {"jet catalog random", Randomised(jet, 2 * kPage, 3 * kPage, 1)},
      {"jet catalog data zeroed", Zeroed(jet, catalogData, kPage)},
      {"jet maps zeroed", Zeroed(jet, maps, kPage)},
      {"jet table definition zeroed", Zeroed(jet, tdef, kPage)},
      {"jet table definition random", Randomised(jet, tdef * kPage + 8, (tdef + 1) * kPage, 2)},
      {"jet data page zeroed", Zeroed(jet, data, kPage)},
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
      {"jet truncated mid page", jet.substr(0, data * kPage + 100)},
      {"jet truncated before the last page", jet.substr(0, jet.size() - kPage)},
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
    const Outcome o = ReadQuietly(path);
    ExpectWellBehaved(o);
    // Damage is never mistaken for a missing table or for the end of the rows.
    EXPECT_EQ(o.open != S_OK ? o.open : o.last, E_FAIL) << "read " << o.rows << " rows";
    // The file is never changed by reading.
    EXPECT_EQ(testing::ReadFile(path), f.bytes);
  }
}

// Seeded mutations of valid files: whatever they do, the outcome is clean.
TEST(StoreCorpusTest, SeededMutationsNeverCrashHangOrPrint) {
  TempDir dir;
  const std::string bases[] = {JetEmpire(dir, 300), Sqlite(dir)};
  std::mt19937 rng(20261206);
  int failures = 0, runs = 0;
  for (const auto& base : bases) {
    for (int i = 0; i < 25; ++i) {
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
        Put(m, at, 2, rng() % 2 ? 0xFFFF : 0x8000);
      }
      const auto path = dir.File("m" + std::to_string(runs) + ".bin");
      WriteFile(path, m);
      SCOPED_TRACE("mutation " + std::to_string(runs));
      const Outcome o = ReadQuietly(path);
      ExpectWellBehaved(o);
      failures += (o.open != S_OK || o.last != DB_S_ENDOFROWSET) ? 1 : 0;
      ++runs;
    }
  }
  EXPECT_GT(failures, 0) << "no mutation was noticed at all";
}

// ---------------------------------------------------------------------------------------
// The isolation itself, with faults injected into the child.

// A child written in shell; its channel is fd 3.
std::unique_ptr<IsolatedProcess> Shell(const std::string& script, IsolationLimits limits) {
  std::string why;
  auto child = IsolatedProcess::Spawn({"/bin/sh", "-c", script}, limits, why);
  EXPECT_TRUE(child) << why;
  return child;
}

TEST(IsolatedProcessTest, ChildMisbehaviourBecomesAFailure) {
  IsolationLimits limits;
  limits.idleTimeoutMs = 300;
  limits.maxMessageBytes = 1024;
  // What the child does after a word on stderr, and what the failure must mention.
  const std::pair<std::string, const char*> cases[] = {
      {"kill -SEGV $$", "signal 11 SIGSEGV"},
      {"kill -ABRT $$", "signal 6 SIGABRT"},
      {"exit 3", "exit code 3"},
      {"exec sleep 10", "progress"},
      {"printf 'R\\320\\007\\000\\000' >&3", "malformed"},  // announces 2000 bytes
      {"printf 'R\\011\\000\\000\\000abc' >&3", "middle"},
      // The parent ignores SIGPIPE here; the child must not inherit that.
      {"kill -PIPE $$", "signal 13 SIGPIPE"},
  };
  const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  for (const auto& [script, mentions] : cases) {
    SCOPED_TRACE(script);
    ::testing::internal::CaptureStderr();
    auto child = Shell("echo noise on stderr >&2; " + script, limits);
    ASSERT_TRUE(child);
    ChildMessage m;
    EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::Failed);
    EXPECT_NE(child->failure().find(mentions), std::string::npos) << child->failure();
    EXPECT_EQ(child->Receive(m), IsolatedProcess::Status::Failed) << "the failure is final";
    EXPECT_EQ(child->CapturedOutput().rfind("noise on stderr\n", 0), 0u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
  std::signal(SIGPIPE, oldPipe);
  std::string why;
  EXPECT_FALSE(IsolatedProcess::Spawn({"/no/such/program"}, limits, why));
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;
}

TEST(IsolatedProcessTest, MessagesArriveInOrderAcrossManyChunks) {
  // 3000 short messages, then one of 200000 bytes (larger than one read).
  auto child = Shell(
      "exec perl -e 'for $i (0..2999) { print \"R\", pack(\"V\", $i % 97), \" \" x ($i % 97) }"
      " print \"R\", pack(\"V\", 200000), \"\\0\" x 200000' >&3",
      IsolationLimits{});
  ASSERT_TRUE(child);
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
  IsolationLimits limits;
  limits.idleTimeoutMs = 0;
  StoreError err;
  EXPECT_FALSE(OpenJetTable(path, "Warp Points", err, limits));
  EXPECT_EQ(err.code, E_FAIL);
  EXPECT_NE(err.reason.find("progress"), std::string::npos) << err.reason;
}

}  // namespace
}  // namespace lanewright::store
