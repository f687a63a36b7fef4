#include "route/RoutePlan.h"

#include <algorithm>
#include <string_view>

#include "route/RouteCosts.h"
#include "route/RouteState.h"
#include "route/StopOrder.h"
#include "starmap/StarMap.h"

namespace lanewright {
namespace {

// Numbers for the names of one request: the graph's own, and past them the names the graph
// does not know (a start no warp point leaves, "XX").
class RequestNames {
 public:
  explicit RequestNames(const WarpNetwork& graph) : graph_(graph) {}
  WarpNetwork::SystemId Id(std::string_view name) {
    if (const auto id = graph_.Find(name)) return *id;
    const auto it = std::find(extra_.begin(), extra_.end(), name);
    const auto index = static_cast<WarpNetwork::SystemId>(it - extra_.begin());
    if (it == extra_.end()) extra_.emplace_back(name);
    return static_cast<WarpNetwork::SystemId>(graph_.SystemCount()) + index;
  }

 private:
  const WarpNetwork& graph_;
  std::vector<std::string> extra_;
};

SearchStatus RunLeg(RouteSearch<RouteState>& search, const RouteState& start,
                    const RouteState& goal) {
  search.Begin(start, goal);
  SearchStatus status;
  while ((status = search.Step()) == SearchStatus::Searching) {
  }
  return status;
}

// The jumps of the found path (the leg's start is no jump), with the direction's totals
// running on.
void TakePath(RouteSearch<RouteState>& search, const WarpNetwork& graph, RouteTotals& totals,
              RouteLeg& leg) {
  search.SolutionFirst();
  for (const RouteState* state = search.SolutionNext(); state; state = search.SolutionNext()) {
    // Every state after the start is entered through a warp point.
    if (!state->HasLink()) continue;
    const WarpLink& link = state->Link();
    totals.length += 1;
    totals.classPoints += ClassPoints(link.warpClass);
    totals.fuel += FuelValue(link.warpClass);
    const auto empires = graph.Empires(link);
    leg.jumps.push_back(
        RouteJump{std::string(graph.Name(link.system)), std::string(graph.Name(link.destination)),
                  link.warpPointId, link.warpClass,
                  std::vector<std::int32_t>(empires.begin(), empires.end()), totals.fuel});
  }
}

RouteDirection RunDirection(const WarpNetwork& graph, const RouteContext& context,
                            RequestNames& names, const std::string& start, const std::string& goal,
                            std::vector<std::string> stops, const RouteRequest& request) {
  RouteDirection direction;
  direction.start = start;
  direction.goal = goal;
  // Each direction is ordered on its own: warp points are one-way, so the way back may
  // prefer another order.
  if (request.bestOrder && stops.size() >= 2) {
    const StopOrder order = BestStopOrder(graph, request.mode, start, stops, goal);
    if (order.found) {
      for (const std::size_t index : order.order) direction.stops.push_back(stops[index]);
      direction.orderNotProvenBest = !order.proven;
    }
  }
  if (direction.stops.empty()) direction.stops = std::move(stops);
  RouteSearch<RouteState> search;
  std::vector<std::string> points;
  points.push_back(start);
  points.insert(points.end(), direction.stops.begin(), direction.stops.end());
  points.push_back(goal);
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    RouteLeg& leg = direction.legs.emplace_back();
    leg.from = points[i];
    leg.to = points[i + 1];
    leg.status = RunLeg(search, RouteState::FromSystem(context, names.Id(leg.from)),
                        RouteState::FromSystem(context, names.Id(leg.to)));
    if (leg.status != SearchStatus::Succeeded) break;
    TakePath(search, graph, direction.totals, leg);
    search.ReleaseSolution();
  }
  return direction;
}

}  // namespace

RoutePlan PlanRoute(const WarpNetwork& graph, const RouteRequest& request) {
  RoutePlan plan;
  RequestNames names(graph);
  RouteContext context;
  context.graph = &graph;
  context.cost = JumpCostTable(request.mode);
  context.anyUnsurveyed = names.Id(kAnyUnsurveyed);
  plan.directions.push_back(
      RunDirection(graph, context, names, request.from, request.to, request.stops, request));
  if (request.bothWays) {
    plan.directions.push_back(RunDirection(graph, context, names, request.to, request.from,
                                           {request.stops.rbegin(), request.stops.rend()},
                                           request));
  }
  return plan;
}

}  // namespace lanewright
