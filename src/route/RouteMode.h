#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace lanewright {

// What a jump costs in a route request. Values outside the three count as ByJumps.
enum class RouteMode : std::int32_t { ByJumps = 1, ByClass = 2, ByFuel = 3 };

// The names the command line and the desktop program use for the modes: "jumps", "class",
// "fuel". Nothing for any other name.
std::optional<RouteMode> RouteModeFromName(std::string_view name);
std::string_view RouteModeName(RouteMode mode);

// A mode from its number (the search strategy list counts from 1); other numbers search by
// jumps, as the costs treat them.
RouteMode RouteModeFromNumber(int number);

}  // namespace lanewright
