#include "route/RouteCosts.h"

namespace lanewright {
namespace {

constexpr std::array<std::int32_t, 17> kFuelTable = {1,  2,   4,   9,   16, 25, 36, 49, 64,
                                                     81, 100, 121, 144, 0,  0,  0,  0};

}  // namespace

std::optional<RouteMode> RouteModeFromName(std::string_view name) {
  if (name == "jumps") return RouteMode::ByJumps;
  if (name == "class") return RouteMode::ByClass;
  if (name == "fuel") return RouteMode::ByFuel;
  return std::nullopt;
}

std::string_view RouteModeName(RouteMode mode) {
  switch (mode) {
    case RouteMode::ByClass:
      return "class";
    case RouteMode::ByFuel:
      return "fuel";
    case RouteMode::ByJumps:
      break;
  }
  return "jumps";
}

RouteMode RouteModeFromNumber(int number) {
  return number == 2 ? RouteMode::ByClass : number == 3 ? RouteMode::ByFuel : RouteMode::ByJumps;
}

std::int32_t ClassPoints(char warpClass) {
  const std::int32_t points = static_cast<unsigned char>(warpClass) - 64;
  return points > 0 ? points : 0;
}

std::int32_t FuelValue(char warpClass) {
  if (warpClass < 'A' || warpClass > 'Q') return 0;
  return kFuelTable[static_cast<std::size_t>(warpClass - 'A')];
}

float JumpCost(RouteMode mode, char warpClass) {
  switch (mode) {
    case RouteMode::ByClass:
      return static_cast<float>(ClassPoints(warpClass));
    case RouteMode::ByFuel:
      return static_cast<float>(FuelValue(warpClass));
    case RouteMode::ByJumps:
      break;
  }
  return 1.0f;
}

std::array<float, 256> JumpCostTable(RouteMode mode) {
  std::array<float, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[static_cast<std::size_t>(c)] = JumpCost(mode, static_cast<char>(c));
  return table;
}

}  // namespace lanewright
