#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "GalaxyGenerator.h"
#include "route/FindRoute.h"
#include "route/RouteGraph.h"
#include "route/RoutePlan.h"
#include "starmap/EmpireRows.h"

namespace lanewright {
namespace {

// One galaxy per size, written once per run into a temporary folder.
const bench::Galaxy& GalaxyOf(int warpPoints) { return bench::GalaxyOfSize(warpPoints, "bench"); }

StarMap StarMapOf(const bench::Galaxy& galaxy) {
  StarMap starMap;
  starMap.databaseFiles.insert(galaxy.files.begin(), galaxy.files.end());
  return starMap;
}

std::vector<std::shared_ptr<const EmpireRows>> RowsOf(const bench::Galaxy& galaxy) {
  std::vector<std::shared_ptr<const EmpireRows>> rows;
  store::StoreError err;
  for (const auto& file : StarMapOf(galaxy).databaseFiles) {
    rows.push_back(ReadEmpireRows(file, err));
    if (!rows.back()) throw std::runtime_error(err.reason);
  }
  return rows;
}

// Reading every file once, as each command does.
void BM_ReadRows(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(RowsOf(galaxy));
  state.counters["rows"] = galaxy.rows;
}

// Building the route graph from rows already read.
void BM_BuildGraph(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  const auto rows = RowsOf(galaxy);
  for (auto _ : state) {
    const RouteGraph graph = BuildRouteGraph(rows, {});
    benchmark::DoNotOptimize(graph.Links().size());
  }
  state.counters["rows"] = galaxy.rows;
}

// The two searches of a request by fuel, corner to corner and back, on a built graph.
void BM_SearchBothWays(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  const RouteGraph graph = BuildRouteGraph(RowsOf(galaxy), {});
  const RouteRequest request{galaxy.corner, {}, galaxy.farCorner, {}, RouteMode::ByFuel, true};
  for (auto _ : state) {
    const RoutePlan plan = PlanRoute(graph, request);
    if (!plan.AllFound()) state.SkipWithError("no route");
    benchmark::DoNotOptimize(plan.directions.size());
  }
}

// A whole request as the desktop program makes it after a load: rows kept, graph built
// (the planner keeps it after the first request), both searches.
void BM_FindRoute(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  const StarMap starMap = StarMapOf(galaxy);
  EmpireRowSource source;
  const RouteRequest request{galaxy.corner, {}, galaxy.farCorner, {}, RouteMode::ByFuel, true};
  for (auto _ : state) {
    RoutePlanner planner(source);
    const RoutePlan plan = FindRoute(starMap, planner, request);
    if (!plan.AllFound()) state.SkipWithError("no route");
  }
}

BENCHMARK(BM_ReadRows)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildGraph)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchBothWays)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindRoute)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lanewright

BENCHMARK_MAIN();
