#include "route/RouteCosts.h"

#include <array>

namespace lanewright {
namespace {

constexpr std::array<std::int32_t, 17> kFuelTable = {1,  2,   4,   9,   16, 25, 36, 49, 64,
                                                     81, 100, 121, 144, 0,  0,  0,  0};

}  // namespace

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

}  // namespace lanewright
