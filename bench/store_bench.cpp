// Reading one large empire file into rows, as every command does once for each chosen file.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "starmap/EmpireRows.h"
#include "store/JetWriter.h"

namespace {

constexpr int kRows = 100000;

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("lanewright-bench-") + std::to_string(::getpid()) + "-" + name))
      .string();
}

std::string SystemName(int i) { return "System " + std::to_string(i % 20000); }
std::string Destination(int i) {
  std::string d = i % 17 == 0 ? "?" : "";
  d += SystemName(static_cast<int>((i * 7919LL) % kRows));
  d += static_cast<char>('A' + i % 17);
  return d;
}

void WriteSqliteEmpire(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
    throw std::runtime_error("cannot create " + path);
  sqlite3_exec(db,
               "PRAGMA synchronous=OFF; BEGIN;"
               "CREATE TABLE \"Warp Points\" (\"Index\" INTEGER, Empire INTEGER, System TEXT, "
               "Destination TEXT, WP INTEGER);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO \"Warp Points\" VALUES (?, ?, ?, ?, ?)", -1, &insert,
                     nullptr);
  for (int i = 0; i < kRows; ++i) {
    const std::string system = SystemName(i);
    const std::string destination = Destination(i);
    sqlite3_reset(insert);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_int(insert, 2, 1 + i % 8);
    sqlite3_bind_text(insert, 3, system.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, destination.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 5, i);
    sqlite3_step(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void WriteJetEmpire(const std::string& path) {
  using namespace lanewright::store;
  JetTableSpec table{"Warp Points",
                     {{"Index", JetColumnType::LongInteger},
                      {"Empire", JetColumnType::LongInteger},
                      {"System", JetColumnType::Text, 50},
                      {"Destination", JetColumnType::Text, 51},
                      {"WP", JetColumnType::LongInteger}},
                     {}};
  table.rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i)
    table.rows.push_back(
        {std::int64_t{i}, std::int64_t{1 + i % 8}, SystemName(i), Destination(i), std::int64_t{i}});
  const StoreError err = CreateJetDatabase(path, JetVersion::Jet4, {table});
  if (err.Failed()) throw std::runtime_error(err.reason);
}

// Reads the file's rows; the row count is checked so a failing read cannot look fast.
void ReadEmpire(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    lanewright::store::StoreError err;
    const auto read = lanewright::ReadEmpireRows(path, err);
    if (!read) {
      state.SkipWithError(err.reason.c_str());
      return;
    }
    const int rows = static_cast<int>(read->Rows().size());
    if (rows != kRows) {
      state.SkipWithError("wrong number of rows");
      return;
    }
    benchmark::DoNotOptimize(rows);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_ReadSqliteEmpireFile(benchmark::State& state) {
  static const std::string path = [] {
    const auto p = TempPath("empire.db");
    WriteSqliteEmpire(p);
    return p;
  }();
  ReadEmpire(state, path);
}
BENCHMARK(BM_ReadSqliteEmpireFile)->Unit(benchmark::kMillisecond);

void BM_ReadJetEmpireFile(benchmark::State& state) {
  static const std::string path = [] {
    const auto p = TempPath("empire.mdb");
    WriteJetEmpire(p);
    return p;
  }();
  ReadEmpire(state, path);
}
BENCHMARK(BM_ReadJetEmpireFile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove(TempPath("empire.db"), ec);
  std::filesystem::remove(TempPath("empire.mdb"), ec);
  return 0;
}
