#pragma once

#include <array>
#include <cstdint>

#include "route/RouteMode.h"

namespace lanewright {

// Class points of a warp point class letter: its code minus 64 ('A' 1, 'B' 2, ...), never
// below 0, so that a stray letter cannot make a jump cheaper than free.
std::int32_t ClassPoints(char warpClass);

// Fuel used by a jump through a warp point of this class; letters outside 'A'..'Q' use none.
std::int32_t FuelValue(char warpClass);

// Cost of a jump in a request of the given mode (modes outside the three count jumps).
float JumpCost(RouteMode mode, char warpClass);

// JumpCost for every byte a class letter can be, so that a search looks costs up.
std::array<float, 256> JumpCostTable(RouteMode mode);

}  // namespace lanewright
