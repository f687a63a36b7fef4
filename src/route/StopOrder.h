#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "route/RouteGraph.h"
#include "route/RouteMode.h"

namespace lanewright {

// The most stops a trip may have.
inline constexpr std::size_t kMaxStops = 32;
// Up to this many stops the best order is found exactly; beyond it by a heuristic.
inline constexpr std::size_t kMaxExactStops = 12;

// The order in which to visit the stops so that the whole trip from start to goal costs
// least in mode: order[i] is the index into stops of the i-th stop to visit.
struct StopOrder {
  std::vector<std::size_t> order;
  bool found = false;   // some order gives a trip; otherwise order is the user's own
  bool proven = false;  // the order is the cheapest there is (not merely a good one)
};

// Exact for up to kMaxExactStops stops (dynamic programming over the cheapest costs between
// every two points, each point's costs from one search of its own); for more, nearest
// neighbour improved by 2-opt. Among orders that cost the same, the first wins, orders
// compared by the stops' places in stops, position by position, so the given order wins any
// tie it is in. A leg costs what a single request finds: between two equal points only a
// warp point leading straight back makes a trip.
StopOrder BestStopOrder(const RouteGraph& graph, RouteMode mode, const std::string& start,
                        const std::vector<std::string>& stops, const std::string& goal);

}  // namespace lanewright
