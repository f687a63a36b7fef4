#pragma once

#include <memory>
#include <set>
#include <span>
#include <string>

#include "starmap/EmpireRows.h"
#include "starmap/WarpNetwork.h"

namespace lanewright {

// The network a route search runs on: the warp points of the loaded files under the route
// rules (see NetworkRules::Use::Route), immutable once built. A request never changes it, so
// one graph serves every request over the same rows and avoid set, in any mode.
using RouteGraph = WarpNetwork;

inline RouteGraph BuildRouteGraph(std::span<const std::shared_ptr<const EmpireRows>> files,
                                  const std::set<std::string>& avoid) {
  return BuildWarpNetwork(files, avoid, NetworkRules{NetworkRules::Use::Route});
}

}  // namespace lanewright
