#include "route/FindRoute.h"

#include <fmt/format.h>

#include <algorithm>

#include "route/OutputBoxSink.h"

namespace lanewright {
namespace {

constexpr const char* kSeparator = "==========================================================\r\n";
constexpr const char* kNotFound = "Search terminated. Did not find goal state!\r\n\r\n";
constexpr const char* kNotProvenBest = " (order not proven best)";

std::string Header(const RouteDirection& direction) {
  if (direction.stops.empty())
    return fmt::format("{} -> {}\r\n\r\n", direction.start, direction.goal);
  return fmt::format("{} -> {} via {}{}\r\n\r\n", direction.start, direction.goal,
                     fmt::join(direction.stops, ", "),
                     direction.orderNotProvenBest ? kNotProvenBest : "");
}

}  // namespace

std::shared_ptr<const RouteGraph> RoutePlanner::Graph(const std::set<std::string>& files,
                                                      const std::set<std::string>& avoid,
                                                      store::StoreError& err) {
  std::vector<std::shared_ptr<const EmpireRows>> rows;
  for (const auto& path : files) {
    rows.push_back(rows_.Rows(path, err));
    if (!rows.back()) return nullptr;
  }
  if (!kept_ || rows != keptFiles_ || avoid != keptAvoid_) {
    kept_ = std::make_shared<const RouteGraph>(BuildRouteGraph(rows, avoid));
    keptFiles_ = std::move(rows);
    keptAvoid_ = avoid;
  }
  return kept_;
}

RoutePlan FindRoute(const StarMap& starMap, RoutePlanner& planner, const RouteRequest& request) {
  store::StoreError error;
  const auto graph = planner.Graph(starMap.databaseFiles, request.avoid, error);
  if (!graph) {
    RoutePlan plan;
    plan.error = std::move(error);
    return plan;
  }
  return PlanRoute(*graph, request);
}

void RenderRoute(const RoutePlan& plan, RouteSink& sink, const SystemEmpireSet& systemEmpire) {
  sink.Clear();
  if (plan.error.Failed()) {
    sink.Clear();
    sink.ReportFailure(fmt::format("failed with hr={}", plan.error.code));
    return;
  }
  for (const RouteDirection& direction : plan.directions) {
    sink.AppendText(Header(direction));
    for (const RouteLeg& leg : direction.legs) {
      if (leg.status == SearchStatus::Failed) sink.ReportFailure(kNotFound);
      // A leg that ran out of memory ends its direction without a word.
      if (leg.status != SearchStatus::Succeeded) break;
      for (const RouteJump& jump : leg.jumps)
        sink.WarpStep(jump.system, jump.destination, jump.warpPointId, jump.warpClass, jump.empires,
                      jump.fuelSoFar, systemEmpire);
    }
    if (direction.Found()) {
      sink.AppendText(kSeparator);
      sink.AppendText(fmt::format("Costs for trip: Length: {} WPs: {} Fuel Modifer: {}\r\n\r\n",
                                  direction.totals.length, direction.totals.classPoints,
                                  direction.totals.fuel));
    }
  }
}

std::vector<std::string> StopsFromVisit(const std::optional<std::string>& visit) {
  if (!visit || *visit == kNoVisit) return {};
  return {*visit};
}

std::optional<std::vector<std::string>> StopsFromList(const std::vector<std::string>& names,
                                                      std::string& problem) {
  if (names.size() == 1 && names.front() == kNoVisit) return std::vector<std::string>{};
  if (std::find(names.begin(), names.end(), kNoVisit) != names.end()) {
    problem = fmt::format("{} means no stop and cannot be one of several", kNoVisit);
    return std::nullopt;
  }
  if (names.size() > kMaxStops) {
    problem = fmt::format("at most {} stops", kMaxStops);
    return std::nullopt;
  }
  return names;
}

RoutePlan RouteCommand(StarMap& starMap, RoutePlanner& planner,
                       const std::optional<std::string>& from, const std::optional<std::string>& to,
                       std::vector<std::string> stops, bool bestOrder,
                       const std::set<std::string>& avoidSelection, RouteMode mode,
                       OutputBox& output) {
  starMap.avoidSystems = avoidSelection;
  if (!from || !to) {
    output.SetText("not all selected.");
    return {};
  }
  const RouteRequest request{*from, std::move(stops), *to, starMap.avoidSystems, mode,
                             true,  bestOrder};
  const RoutePlan plan = FindRoute(starMap, planner, request);
  OutputBoxSink sink(output);
  RenderRoute(plan, sink, starMap.systemEmpire);
  return plan;
}

RoutePlan RouteCommand(StarMap& starMap, RoutePlanner& planner,
                       const std::optional<std::string>& from, const std::optional<std::string>& to,
                       const std::optional<std::string>& visit,
                       const std::set<std::string>& avoidSelection, RouteMode mode,
                       OutputBox& output) {
  return RouteCommand(starMap, planner, from, to, StopsFromVisit(visit), false, avoidSelection,
                      mode, output);
}

}  // namespace lanewright
