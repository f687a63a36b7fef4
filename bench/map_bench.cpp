// Times the desktop program's map, offscreen:
//   map_bench [--cache DIR] [--size WxH] GALAXY...
// where GALAXY is a folder of empire files (*.db) or a number of warp points for a synthetic
// galaxy (seed 1). Without arguments: the bundled sample galaxy and 10,000 warp points.
// For each galaxy: the layout the first time (unless DIR already holds it) and from the
// cache; the time from the end of a load to the map drawn; the full redraw of the view at
// several zoom levels and places, a pan step and a zoom step as the window does them; the
// time to draw a long route. Times are wall and CPU milliseconds of this process (the
// layout's CPU is its child's). Run with QT_QPA_PLATFORM=offscreen.
#include <fmt/format.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "GalaxyGenerator.h"
#include "app/gui/MapPanel.h"
#include "layout/LayoutJob.h"
#include "route/FindRoute.h"
#include "starmap/EmpireRows.h"

namespace lanewright {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double CpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
  double wallMs = 0;
  double cpuMs = 0;
};

Timing Time(const std::function<void()>& work, int who = RUSAGE_SELF) {
  const double cpu = CpuSeconds(who);
  const auto start = Clock::now();
  work();
  return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
          (CpuSeconds(who) - cpu) * 1000};
}

std::optional<layout::CacheKey> KeyOf(EmpireRowSource& rows, const std::set<std::string>& files) {
  std::vector<layout::CacheKey::File> keyFiles;
  for (const auto& path : files) {
    store::StoreError err;
    const auto read = rows.Rows(path, err);
    if (!read) throw std::runtime_error(err.reason);
    keyFiles.push_back({read->Path(), read->Identity()});
  }
  return layout::CacheKey(std::move(keyFiles));
}

std::string Row(const std::string& what, const Timing& t) {
  return fmt::format("  {:<44} {:>9.1f} {:>9.1f}\n", what, t.wallMs, t.cpuMs);
}

// The slowest of several timings, the figure a step must stay under.
Timing Worst(const std::vector<Timing>& timings) {
  Timing worst;
  for (const Timing& t : timings) {
    worst.wallMs = std::max(worst.wallMs, t.wallMs);
    worst.cpuMs = std::max(worst.cpuMs, t.cpuMs);
  }
  return worst;
}

void Bench(const std::string& what, const fs::path& scratch, QSize size) {
  const auto paths = bench::GalaxyFiles(what, scratch.string());
  const std::set<std::string> files(paths.begin(), paths.end());
  EmpireRowSource rows;
  RoutePlanner planner(rows);
  store::StoreError err;
  std::shared_ptr<const RouteGraph> network;
  const Timing read = Time([&] { network = planner.Graph(files, {}, err); });
  if (!network) throw std::runtime_error(err.reason);
  const auto key = KeyOf(rows, files);
  const layout::MapGraph graph = layout::MapGraphOf(*network);
  fmt::print("{}: {} nodes, {} warp points\n", fs::path(what).filename().string(),
             graph.nodes.size(), graph.edges.size());
  fmt::print("  {:<44} {:>9} {:>9}\n", "", "wall ms", "cpu ms");
  fmt::print("{}", Row("read the files and build the network", read));

  // The layout: the first time only when the cache folder does not hold it yet.
  bool wasCached = false;
  const Timing first = Time(
      [&] {
        auto job = layout::LayoutJob::Start(graph, key);
        if (job->Wait() != layout::LayoutJob::State::Done)
          throw std::runtime_error("layout failed: " + job->failure());
        wasCached = job->layout().fromCache;
      },
      RUSAGE_CHILDREN);
  fmt::print("{}", Row(wasCached ? "layout (cache already held it)" : "layout, first time (child)",
                       first));
  fmt::print("{}", Row("layout from the cache", Time([&] {
                         auto job = layout::LayoutJob::Start(graph, key);
                         if (!job->layout().fromCache) throw std::runtime_error("cache unused");
                       })));

  // From the end of a load to the map drawn, as the window does it: the network (the
  // planner already holds it, as after a load), the layout from the cache, the model, the
  // first full drawing.
  gui::MapPanel panel;
  panel.resize(size);
  panel.show();
  QApplication::processEvents();
  gui::MapView* view = panel.view();
  QImage image;
  const auto render = [&] {
    // The view's size is known once it shows the map.
    if (image.size() != view->viewport()->size())
      image = QImage(view->viewport()->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    view->render(&painter, QRectF(), view->viewport()->rect());
  };
  const Timing shown = Time([&] {
    auto again = planner.Graph(files, {}, err);
    panel.ShowNetwork(again, key);
    if (!panel.HasMap()) throw std::runtime_error("no map from the cache");
    render();
  });
  fmt::print("{}", Row("load end to map drawn (from the cache)", shown));
  fmt::print("  view {}x{} pixels\n", image.width(), image.height());

  // Full redraws (what a zoom step costs) at several zoom levels and places.
  view->Fit();
  const double fit = view->Zoom();
  const QRectF bounds = panel.scene()->model()->Bounds();
  const QPointF places[] = {
      bounds.center(), bounds.topLeft() + QPointF(bounds.width() / 4, bounds.height() / 4),
      bounds.bottomRight() - QPointF(bounds.width() / 3, bounds.height() / 5)};
  for (const double zoom : {fit, fit * 3, 0.3, 0.6, 0.95, 2.5}) {
    std::vector<Timing> timings;
    for (const QPointF& place : places) {
      view->SetZoom(zoom);
      view->centerOn(place);
      timings.push_back(Time(render));
    }
    fmt::print("{}", Row(fmt::format("full redraw at zoom {:.3f} (worst of 3 places)", zoom),
                         Worst(timings)));
    if (const char* shots = std::getenv("MAP_BENCH_SHOTS"))
      image.save(QString::fromStdString(
          fmt::format("{}/{}-{:.3f}.png", shots, fs::path(what).filename().string(), zoom)));
  }

  // The window's own steps: the view paints itself (the drawn map kept between paints).
  const auto step = [&](const std::function<void()>& move) {
    std::vector<Timing> timings;
    for (int i = 0; i < 6; ++i)
      timings.push_back(Time([&] {
        move();
        view->viewport()->repaint();
      }));
    return Worst(timings);
  };
  for (const double zoom : {fit * 2, 0.95}) {
    view->SetZoom(zoom);
    view->centerOn(bounds.center());
    view->viewport()->repaint();
    fmt::print(
        "{}",
        Row(fmt::format("pan step of 120 px at zoom {:.3f} (worst of 6)", zoom), step([&] {
              view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() + 120);
            })));
    fmt::print("{}", Row(fmt::format("wheel zoom step from zoom {:.3f} (worst of 6)", zoom),
                         step([&] { view->ZoomAround(1.15, view->viewport()->rect().center()); })));
  }

  // A long route: from the system nearest one corner of the map to the one nearest the other.
  const gui::MapModel& model = *panel.scene()->model();
  gui::MapModel::NodeId a = 0, b = 0;
  for (gui::MapModel::NodeId n = 0; n < model.NodeCount(); ++n) {
    if (model.IsStub(n)) continue;
    const auto sum = [&](gui::MapModel::NodeId k) {
      return model.Position(k).x() + model.Position(k).y();
    };
    if (sum(n) < sum(a)) a = n;
    if (sum(n) > sum(b)) b = n;
  }
  RouteRequest request{std::string(model.Name(a)), {},  std::string(model.Name(b)), {},
                       RouteMode::ByFuel,          true};
  StarMap starMap;
  starMap.databaseFiles = files;
  const RoutePlan plan = FindRoute(starMap, planner, request);
  std::size_t jumps = 0;
  for (const auto& d : plan.directions)
    for (const auto& leg : d.legs) jumps += leg.jumps.size();
  view->Fit();
  view->viewport()->repaint();
  fmt::print("{}", Row(fmt::format("draw a route of {} jumps (fitted view)", jumps), Time([&] {
                         panel.SetRoute(plan);
                         view->viewport()->repaint();
                       })));
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  fmt::print("  peak resident memory of this process so far: {:.0f} MiB\n",
             usage.ru_maxrss / 1024.0);
  std::fflush(stdout);
}

int Main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::vector<std::string> galaxies;
  std::string cache;
  QSize size(1200, 900);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cache" && i + 1 < argc) {
      cache = argv[++i];
    } else if (arg == "--size" && i + 1 < argc) {
      int w = 0, h = 0;
      if (std::sscanf(argv[++i], "%dx%d", &w, &h) == 2) size = QSize(w, h);
    } else {
      galaxies.push_back(arg);
    }
  }
  if (galaxies.empty())
    galaxies = {(fs::path(__FILE__).parent_path().parent_path() / "samples/galaxy").string(),
                "10000"};
  char pattern[] = "/tmp/lanewright-map-bench-XXXXXX";
  const fs::path scratch = ::mkdtemp(pattern);
  ::setenv("XDG_CACHE_HOME", cache.empty() ? (scratch / "cache").c_str() : cache.c_str(), 1);
  for (const auto& what : galaxies) Bench(what, scratch, size);
  fs::remove_all(scratch);
  return 0;
}

}  // namespace
}  // namespace lanewright

int main(int argc, char** argv) {
  try {
    return lanewright::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "map_bench: %s\n", e.what());
    return 1;
  }
}
