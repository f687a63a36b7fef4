#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace lanewright {

// One warp point as the searches and the exports use it.
struct WarpLink {
  std::string destination;  // system it leads to (an X-name or generated name when unexplored)
  std::string system;       // system it lies in
  std::int32_t warpPointId = 0;
  float cost = 0.0f;               // cost of a jump through it in the request's mode
  char warpClass = '\0';           // class letter
  std::set<std::int32_t> empires;  // empires whose rows name it; never empty
};

}  // namespace lanewright
