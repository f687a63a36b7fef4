#include "route/FindRoute.h"

#include <fmt/format.h>

#include "route/OutputBoxSink.h"
#include "route/RouteCosts.h"
#include "route/RouteGraph.h"
#include "route/RouteSearch.h"
#include "route/RouteState.h"

namespace lanewright {
namespace {

constexpr const char* kSeparator = "==========================================================\r\n";
constexpr const char* kNotFound = "Search terminated. Did not find goal state!\r\n\r\n";

struct Totals {
  std::int32_t length = 0;
  std::int32_t classPoints = 0;
  std::int32_t fuel = 0;
};

SearchStatus RunLeg(RouteSearch<RouteState>& search, const RouteState& start,
                    const RouteState& goal) {
  search.Begin(start, goal);
  SearchStatus status;
  while ((status = search.Step()) == SearchStatus::Searching) {
  }
  return status;
}

// Hands every jump of the found path to the sink (the leg's start is not a jump).
void ReportPath(RouteSearch<RouteState>& search, const RouteGraph& graph, Totals& totals,
                const SystemEmpireSet& systemEmpire, RouteSink& sink) {
  search.SolutionFirst();
  for (const RouteState* state = search.SolutionNext(); state; state = search.SolutionNext()) {
    if (!state->HasLink()) {
      sink.SystemStep(state->Name());
      continue;
    }
    const RouteGraph::Link& link = state->Link();
    totals.length += 1;
    totals.classPoints += ClassPoints(link.warpClass);
    totals.fuel += FuelValue(link.warpClass);
    sink.WarpStep(graph.Name(link.system), graph.Name(link.destination), link.warpPointId,
                  link.warpClass, graph.Empires(link), totals.fuel, systemEmpire);
  }
}

void ReportTotals(const Totals& totals, RouteSink& sink) {
  sink.AppendText(kSeparator);
  sink.AppendText(fmt::format("Costs for trip: Length: {} WPs: {} Fuel Modifer: {}\r\n\r\n",
                              totals.length, totals.classPoints, totals.fuel));
}

// One direction of a request; true when the whole trip was found.
bool RunDirection(RouteGraph& graph, const std::string& startName, const std::string& goalName,
                  const std::optional<std::string>& via, const SystemEmpireSet& systemEmpire,
                  RouteSink& sink) {
  Totals totals;
  RouteSearch<RouteState> search;
  const RouteState start = RouteState::FromName(graph, startName);
  const RouteState goal = RouteState::FromName(graph, goalName);
  const RouteState viaState = via ? RouteState::FromName(graph, *via) : RouteState{};

  sink.AppendText(via ? fmt::format("{} -> {} via {}\r\n\r\n", startName, goalName, *via)
                      : fmt::format("{} -> {}\r\n\r\n", startName, goalName));

  const SearchStatus leg1 = RunLeg(search, start, via ? viaState : goal);
  if (leg1 == SearchStatus::Failed) {
    sink.ReportFailure(kNotFound);
    return false;
  }
  if (leg1 != SearchStatus::Succeeded) return false;
  ReportPath(search, graph, totals, systemEmpire, sink);
  search.ReleaseSolution();
  if (!via) {
    ReportTotals(totals, sink);
    return true;
  }

  const SearchStatus leg2 = RunLeg(search, viaState, goal);
  if (leg2 == SearchStatus::Failed) {
    sink.ReportFailure(kNotFound);
    return false;
  }
  if (leg2 != SearchStatus::Succeeded) return false;
  ReportPath(search, graph, totals, systemEmpire, sink);
  ReportTotals(totals, sink);
  search.ReleaseSolution();
  return true;
}

}  // namespace

RouteResult FindRoute(const StarMap& starMap, const std::string& from, const std::string& to,
                      const std::optional<std::string>& via, RouteMode mode, RouteSink& sink,
                      bool bothWays) {
  RouteResult result;
  sink.Clear();
  RouteGraph graph;
  result.error = BuildRouteGraph(starMap.databaseFiles, starMap.avoidSystems, mode, graph);
  if (result.error.Failed()) {
    sink.Clear();
    sink.ReportFailure(fmt::format("failed with hr={}", result.error.code));
    return result;
  }
  result.directions = 1;
  result.directionsFound += RunDirection(graph, from, to, via, starMap.systemEmpire, sink);
  if (bothWays) {
    result.directions = 2;
    result.directionsFound += RunDirection(graph, to, from, via, starMap.systemEmpire, sink);
  }
  return result;
}

RouteResult RouteCommand(StarMap& starMap, const std::optional<std::string>& from,
                         const std::optional<std::string>& to,
                         const std::optional<std::string>& visit,
                         const std::set<std::string>& avoidSelection, RouteMode mode,
                         OutputBox& output) {
  starMap.avoidSystems = avoidSelection;
  if (!from || !to) {
    output.SetText("not all selected.");
    return {};
  }
  std::optional<std::string> via;
  if (visit && *visit != "[none]") via = *visit;
  OutputBoxSink sink(output);
  return FindRoute(starMap, *from, *to, via, mode, sink, true);
}

}  // namespace lanewright
