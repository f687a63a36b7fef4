#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>

#include "GalaxyGenerator.h"
#include "route/FindRoute.h"
#include "route/RouteGraph.h"
#include "route/RouteSearch.h"
#include "route/RouteState.h"

namespace lanewright {
namespace {

// One galaxy per size, written once per run into a temporary folder.
const bench::Galaxy& GalaxyOf(int warpPoints) {
  static std::map<int, bench::Galaxy> galaxies;
  auto it = galaxies.find(warpPoints);
  if (it == galaxies.end()) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("lanewright-bench-" + std::to_string(warpPoints));
    std::filesystem::create_directories(folder);
    bench::GalaxyOptions options;
    options.warpPoints = warpPoints;
    it = galaxies.emplace(warpPoints, bench::WriteGalaxy(folder.string(), options)).first;
  }
  return it->second;
}

StarMap StarMapOf(const bench::Galaxy& galaxy) {
  StarMap starMap;
  starMap.databaseFiles.insert(galaxy.files.begin(), galaxy.files.end());
  return starMap;
}

// Reading every file and building the graph, as each request does.
void BM_BuildGraph(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  const StarMap starMap = StarMapOf(galaxy);
  for (auto _ : state) {
    RouteGraph graph;
    const auto err = BuildRouteGraph(starMap.databaseFiles, {}, RouteMode::ByFuel, graph);
    if (err.Failed()) state.SkipWithError(err.reason.c_str());
    benchmark::DoNotOptimize(graph.LinkCount());
  }
  state.counters["rows"] = galaxy.rows;
}

// The two searches of a request by fuel, corner to corner and back, on a built graph.
void BM_SearchBothWays(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  const StarMap starMap = StarMapOf(galaxy);
  RouteGraph graph;
  BuildRouteGraph(starMap.databaseFiles, {}, RouteMode::ByFuel, graph);
  const RouteState a = RouteState::FromName(graph, galaxy.corner);
  const RouteState b = RouteState::FromName(graph, galaxy.farCorner);
  int jumps = 0;
  for (auto _ : state) {
    jumps = 0;
    for (const auto& [start, goal] : {std::pair{a, b}, std::pair{b, a}}) {
      RouteSearch<RouteState> search;
      search.Begin(start, goal);
      SearchStatus status;
      while ((status = search.Step()) == SearchStatus::Searching) {
      }
      if (status != SearchStatus::Succeeded) {
        state.SkipWithError("no route");
        break;
      }
      search.SolutionFirst();
      while (search.SolutionNext()) ++jumps;
      search.ReleaseSolution();
    }
  }
  state.counters["jumps"] = jumps;
}

// A whole request (files read, graph built, both searches, report) into a sink that
// drops everything.
void BM_FindRoute(benchmark::State& state) {
  const auto& galaxy = GalaxyOf(static_cast<int>(state.range(0)));
  const StarMap starMap = StarMapOf(galaxy);
  RouteSink sink;
  for (auto _ : state) {
    const auto result = FindRoute(starMap, galaxy.corner, galaxy.farCorner, std::nullopt,
                                  RouteMode::ByFuel, sink, true);
    if (!result.AllFound()) state.SkipWithError("no route");
  }
}

BENCHMARK(BM_BuildGraph)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchBothWays)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindRoute)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lanewright

BENCHMARK_MAIN();
