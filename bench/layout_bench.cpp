// Times map layouts, the first time and from the cache:
//   layout_bench [--engine neato|sfdp] GALAXY...
// where GALAXY is a folder of empire files (*.db, *.mdb) or a number of warp points for a
// synthetic galaxy. Without arguments: the bundled sample galaxy and 10,000 warp points.
// Runs with a fresh cache folder of its own.
#include <fmt/format.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "GalaxyGenerator.h"
#include "layout/LayoutJob.h"
#include "route/RouteGraph.h"
#include "starmap/EmpireRows.h"
#include "starmap/NameRules.h"

namespace lanewright {
namespace {

namespace fs = std::filesystem;

// The map's graph, as the desktop program makes it: the route network of the files.
layout::MapGraph ReadGraph(const std::vector<std::string>& files, int& rows) {
  std::vector<std::shared_ptr<const EmpireRows>> read;
  rows = 0;
  for (const auto& file : files) {
    store::StoreError err;
    read.push_back(ReadEmpireRows(file, err));
    if (!read.back()) throw std::runtime_error(err.reason);
    rows += static_cast<int>(read.back()->Rows().size());
  }
  return layout::MapGraphOf(BuildRouteGraph(read, {}));
}

// CPU seconds used by finished child processes so far: the machine may be shared, so the
// layout's own CPU time is reported beside the time it took.
double ChildCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Run(const layout::MapGraph& graph, const layout::CacheKey& key,
           const layout::LayoutOptions& options, layout::MapLayout& result, double& cpu) {
  const double cpuBefore = ChildCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  auto job = layout::LayoutJob::Start(graph, key, options);
  if (job->Wait() != layout::LayoutJob::State::Done)
    throw std::runtime_error("layout failed: " + job->failure());
  result = job->layout();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  job.reset();
  cpu = ChildCpuSeconds() - cpuBefore;
  return elapsed;
}

int Main(int argc, char** argv) {
  layout::LayoutOptions options;
  std::vector<std::string> galaxies;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--engine" && i + 1 < argc) {
      options.engine = argv[++i];
    } else if (arg.starts_with('-')) {
      fmt::print(stderr,
                 "usage: layout_bench [--engine NAME] [GALAXY...]\n"
                 "  GALAXY: a folder of .db files or a number of warp points\n");
      return arg == "--help" ? 0 : 64;
    } else {
      galaxies.push_back(arg);
    }
  }
  if (galaxies.empty())
    galaxies = {(fs::path(__FILE__).parent_path().parent_path() / "samples/galaxy").string(),
                "10000"};

  char pattern[] = "/tmp/lanewright-layout-bench-XXXXXX";
  const fs::path scratch = ::mkdtemp(pattern);
  ::setenv("XDG_CACHE_HOME", (scratch / "cache").c_str(), 1);
  fmt::print("{:>12} {:>7} {:>7} {:>6} {:>8} {:>8} {:>9} {:>9} {:>12}\n", "galaxy", "rows", "nodes",
             "engine", "first s", "cpu s", "cached s", "peak MiB", "size (pt)");
  for (const auto& what : galaxies) {
    const auto files = bench::GalaxyFiles(what, scratch.string());
    int rows = 0;
    const auto graph = ReadGraph(files, rows);
    const auto key = layout::CacheKey::ForFiles(files);
    layout::MapLayout first;
    layout::MapLayout cached;
    double cpu = 0;
    double cachedCpu = 0;
    const double firstSeconds = Run(graph, *key, options, first, cpu);
    const double cachedSeconds = Run(graph, *key, options, cached, cachedCpu);
    if (!cached.fromCache) throw std::runtime_error("the second run did not use the cache");
    const auto& b = first.bounds;
    fmt::print("{:>12} {:>7} {:>7} {:>6} {:>8.2f} {:>8.2f} {:>9.3f} {:>9.1f} {:>5.0f}x{:<6.0f}\n",
               fs::path(what).filename().string(), rows, graph.nodes.size(), first.engine,
               firstSeconds, cpu, cachedSeconds, first.peakMemoryKiB / 1024.0, b.right - b.left,
               b.bottom - b.top);
    std::fflush(stdout);
  }
  fs::remove_all(scratch);
  return 0;
}

}  // namespace
}  // namespace lanewright

int main(int argc, char** argv) {
  try {
    return lanewright::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "layout_bench: %s\n", e.what());
    return 1;
  }
}
