#pragma once

#include <cstdint>

namespace lanewright {

// What a jump costs in a route request. Values outside the three count as ByJumps.
enum class RouteMode : std::int32_t { ByJumps = 1, ByClass = 2, ByFuel = 3 };

}  // namespace lanewright
