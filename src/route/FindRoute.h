#pragma once

#include <optional>
#include <set>
#include <string>

#include "route/RouteMode.h"
#include "route/RouteSink.h"
#include "starmap/OutputBox.h"
#include "starmap/StarMap.h"
#include "store/ResultCodes.h"

namespace lanewright {

// What a route request came to, beyond the sink calls.
struct RouteResult {
  store::StoreError error;  // set when an empire file could not be opened (nothing searched)
  int directions = 0;       // directions searched
  int directionsFound = 0;  // directions whose whole trip (both legs) was found
  bool AllFound() const {
    return !error.Failed() && directions > 0 && directionsFound == directions;
  }
};

// One route request: builds the route graph from starMap.databaseFiles (avoiding
// starMap.avoidSystems) and searches from -> to (through via, when given), then, with
// bothWays, to -> from; everything it says goes to sink.
RouteResult FindRoute(const StarMap& starMap, const std::string& from, const std::string& to,
                      const std::optional<std::string>& via, RouteMode mode, RouteSink& sink,
                      bool bothWays);

// The work behind the three route buttons. avoidSystems becomes avoidSelection; without a
// from or to the output box says "not all selected."; a visit text of "[none]" (or none)
// means no system to visit. Writes the report into output.
RouteResult RouteCommand(StarMap& starMap, const std::optional<std::string>& from,
                         const std::optional<std::string>& to,
                         const std::optional<std::string>& visit,
                         const std::set<std::string>& avoidSelection, RouteMode mode,
                         OutputBox& output);

}  // namespace lanewright
