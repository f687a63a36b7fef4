#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "route/RouteMode.h"
#include "route/RouteSearch.h"
#include "starmap/WarpNetwork.h"
#include "store/ResultCodes.h"

namespace lanewright {

// One route request: from the start through the stops, in their order, to the destination,
// and, both ways, back again from the destination through the stops in reverse order.
struct RouteRequest {
  std::string from;
  std::vector<std::string> stops;
  std::string to;
  std::set<std::string> avoid;
  RouteMode mode = RouteMode::ByJumps;
  bool bothWays = true;
  // Visit the stops in the order that makes each direction cheapest (see BestStopOrder).
  bool bestOrder = false;
};

// One jump of a found route, as the reports and the orders need it.
struct RouteJump {
  std::string system;       // the system the jump leaves
  std::string destination;  // the system it enters (an X-name for an unexplored warp point)
  std::int32_t warpPointId = 0;
  char warpClass = '\0';
  std::vector<std::int32_t> empires;  // the empires that know the warp point, ascending
  std::int32_t fuelSoFar = 0;         // fuel of the direction up to and with this jump
};

struct RouteTotals {
  std::int32_t length = 0;       // jumps
  std::int32_t classPoints = 0;  // sum of class letter codes - 64
  std::int32_t fuel = 0;
};

// The search from one point of a trip to the next.
struct RouteLeg {
  std::string from, to;
  SearchStatus status = SearchStatus::NotStarted;
  std::vector<RouteJump> jumps;  // when Succeeded
};

// One direction of a request. The legs are those searched: a leg that did not succeed ends
// the direction and is the last one.
struct RouteDirection {
  std::string start, goal;
  std::vector<std::string> stops;   // in the order travelled
  bool orderNotProvenBest = false;  // a best order asked for, found by the heuristic
  std::vector<RouteLeg> legs;
  RouteTotals totals;  // over every jump of the direction
  bool Found() const {
    if (legs.size() != stops.size() + 1) return false;
    for (const RouteLeg& leg : legs)
      if (leg.status != SearchStatus::Succeeded) return false;
    return true;
  }
};

// What a route request came to: a value that reports, orders and the map render.
struct RoutePlan {
  store::StoreError error;  // the empire files could not be read: nothing was searched
  std::vector<RouteDirection> directions;
  bool AllFound() const {
    if (error.Failed() || directions.empty()) return false;
    for (const RouteDirection& direction : directions)
      if (!direction.Found()) return false;
    return true;
  }
};

// Searches every leg of the request on graph (built with the route rules and the request's
// avoid set), one search per leg, each leg from where the last one ended.
RoutePlan PlanRoute(const WarpNetwork& graph, const RouteRequest& request);

}  // namespace lanewright
