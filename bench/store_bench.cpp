// Reading the galaxy's empire files: a plain loop over SQLite's C interface (the
// reference), the store's BoundReader on the same SQLite files, and BoundReader on the
// same rows in Jet files. Each benchmark reads every row of every file of the galaxy
// and checks the count, so that a failing read cannot look fast.
//
//   store_bench --benchmark_filter=Sqlite   (plain loop against BoundReader, 100k and 1M)

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "GalaxyGenerator.h"
#include "starmap/EmpireRows.h"
#include "store/BoundReader.h"
#include "store/JetWriter.h"

namespace lanewright {
namespace {

using store::Binding;

const std::vector<Binding> kEmpireBindings = {{Binding::Kind::Int32},
                                              {Binding::Kind::Int32},
                                              {Binding::Kind::Text, 50},
                                              {Binding::Kind::Text, 50},
                                              {Binding::Kind::Int32}};

// One galaxy per size, written once per run into a temporary folder.
const bench::Galaxy& GalaxyOf(int warpPoints) {
  return bench::GalaxyOfSize(warpPoints, "store-bench");
}

// The same rows as Jet4 files, written by the project's Jet writer.
const std::vector<std::string>& JetFilesOf(int warpPoints) {
  static std::map<int, std::vector<std::string>> files;
  auto it = files.find(warpPoints);
  if (it != files.end()) return it->second;
  std::vector<std::string> paths;
  for (const std::string& sqlite : GalaxyOf(warpPoints).files) {
    using store::JetColumnType;
    store::JetTableSpec table{"Warp Points",
                              {{"Index", JetColumnType::LongInteger},
                               {"Empire", JetColumnType::LongInteger},
                               {"System", JetColumnType::Text, 50},
                               {"Destination", JetColumnType::Text, 51},
                               {"WP", JetColumnType::LongInteger}},
                              {}};
    store::BoundReader reader;
    std::vector<store::BoundField> f;
    if (reader.Open(sqlite, "Warp Points", kEmpireBindings) != store::S_OK)
      throw std::runtime_error(reader.error().reason);
    while (reader.MoveNext(f) == store::S_OK)
      table.rows.push_back({std::int64_t{f[0].number}, std::int64_t{f[1].number},
                            std::string(f[2].text), std::string(f[3].text),
                            std::int64_t{f[4].number}});
    paths.push_back(sqlite.substr(0, sqlite.size() - 3) + ".mdb");
    std::filesystem::remove(paths.back());
    const store::StoreError err =
        store::CreateJetDatabase(paths.back(), store::JetVersion::Jet4, {table});
    if (err.Failed()) throw std::runtime_error(err.reason);
  }
  return files.emplace(warpPoints, std::move(paths)).first->second;
}

// What every reader computes from each row, so that nothing can be skipped.
struct Sum {
  std::int64_t rows = 0, value = 0;
  void Add(std::int32_t a, std::int32_t b, std::size_t system, std::size_t destination,
           std::int32_t c) {
    ++rows;
    value += a + b + c + static_cast<std::int64_t>(system + destination);
  }
};

// The reference: what a plain program reading the five columns would do. SQLite's
// default threading mode locks the connection in every call; the store opens its
// connections without that lock, so the second reference does too.
void PlainSqliteLoop(const std::string& path, Sum& sum, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | flags, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + path);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT \"Index\", Empire, System, Destination, WP FROM \"Warp Points\" "
                     "ORDER BY rowid",
                     -1, &stmt, nullptr);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* system = sqlite3_column_text(stmt, 2);
    const auto systemBytes = static_cast<std::size_t>(sqlite3_column_bytes(stmt, 2));
    const auto* destination = sqlite3_column_text(stmt, 3);
    const auto destinationBytes = static_cast<std::size_t>(sqlite3_column_bytes(stmt, 3));
    benchmark::DoNotOptimize(system);
    benchmark::DoNotOptimize(destination);
    sum.Add(sqlite3_column_int(stmt, 0), sqlite3_column_int(stmt, 1), systemBytes, destinationBytes,
            sqlite3_column_int(stmt, 4));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

void ThroughBoundReader(const std::string& path, Sum& sum) {
  store::BoundReader reader;
  std::vector<store::BoundField> f;
  if (reader.Open(path, "Warp Points", kEmpireBindings) != store::S_OK)
    throw std::runtime_error(reader.error().reason);
  store::HResult hr;
  while ((hr = reader.MoveNext(f)) == store::S_OK) {
    benchmark::DoNotOptimize(f[2].text.data());
    benchmark::DoNotOptimize(f[3].text.data());
    sum.Add(f[0].number, f[1].number, f[2].text.size(), f[3].text.size(), f[4].number);
  }
  if (hr != store::DB_S_ENDOFROWSET) throw std::runtime_error(reader.error().reason);
}

template <class Read>
void ReadGalaxy(benchmark::State& state, const std::vector<std::string>& files, int rows,
                Read read) {
  for (auto _ : state) {
    Sum sum;
    try {
      for (const std::string& file : files) read(file, sum);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
    if (sum.rows != rows) {
      state.SkipWithError("wrong number of rows");
      return;
    }
    benchmark::DoNotOptimize(sum.value);
  }
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["rows"] = rows;
}

void BM_SqlitePlainLoop(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  ReadGalaxy(state, galaxy.files, galaxy.rows,
             [](const std::string& path, Sum& sum) { PlainSqliteLoop(path, sum, 0); });
}
void BM_SqlitePlainLoopNoMutex(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  ReadGalaxy(state, galaxy.files, galaxy.rows, [](const std::string& path, Sum& sum) {
    PlainSqliteLoop(path, sum, SQLITE_OPEN_NOMUTEX);
  });
}
void BM_SqliteBoundReader(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  ReadGalaxy(state, galaxy.files, galaxy.rows, ThroughBoundReader);
}
// What every command does with each file: the rows read once and kept, names interned.
void BM_SqliteEmpireRows(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  ReadGalaxy(state, galaxy.files, galaxy.rows, [](const std::string& path, Sum& sum) {
    store::StoreError err;
    const auto rows = ReadEmpireRows(path, err);
    if (!rows) throw std::runtime_error(err.reason);
    for (const WarpPoint& row : rows->Rows())
      sum.Add(0, row.empire, row.system, row.destination, row.warpPointId);
  });
}
void BM_JetBoundReader(benchmark::State& state) {
  const auto warpPoints = static_cast<int>(state.range(0));
  ReadGalaxy(state, JetFilesOf(warpPoints), GalaxyOf(warpPoints).rows, ThroughBoundReader);
}

BENCHMARK(BM_SqlitePlainLoop)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqlitePlainLoopNoMutex)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteBoundReader)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteEmpireRows)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JetBoundReader)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lanewright

BENCHMARK_MAIN();
