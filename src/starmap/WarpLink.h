#pragma once

#include <cstdint>

#include "starmap/NamePool.h"

namespace lanewright {

// One warp point as the searches, the range listing and the map use it. The names and the
// empires live in the network that holds the link (WarpNetwork).
struct WarpLink {
  NamePool::Id system = 0;       // the system it lies in
  NamePool::Id destination = 0;  // the system it leads to (for an unexplored one, a made-up name)
  std::int32_t warpPointId = 0;
  char warpClass = '\0';          // class letter
  bool unexplored = false;        // nobody has been through it: its destination is made up
  std::uint32_t firstEmpire = 0;  // the empires whose rows name it: [firstEmpire, endEmpire)
  std::uint32_t endEmpire = 0;    // of the network's empire list; never empty
};

}  // namespace lanewright
