#pragma once

#include <cstdint>
#include <string>

namespace lanewright {

// One row of the "Warp Points" table as every reader receives it.
struct WarpPoint {
  std::string dbFile;       // the file the row was read from
  std::string destination;  // destination name followed by one class letter; '?' first = unexplored
  std::int32_t empire = 0;
  std::int32_t column1 = 0;  // read with the rest, used by no operation
  std::string system;
  std::int32_t warpPointId = 0;
};

}  // namespace lanewright
