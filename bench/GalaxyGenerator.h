#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lanewright::bench {

// A synthetic galaxy for benchmarks: systems on a square grid, each joined to some of its
// neighbours by a pair of warp points (one in each system, same class), written as SQLite
// empire files of the usual "Warp Points" layout. The same options and seed always give
// the same files.
struct GalaxyOptions {
  int warpPoints = 10000;         // rows in total, roughly (before the shared copies)
  int empires = 4;                // one file per empire; the grid is cut into vertical strips
  double unexploredShare = 0.03;  // rows written with an unexplored ('?') destination
  double sharedShare = 0.10;      // rows written once more into a neighbouring empire's file
  std::uint32_t seed = 1;
};

struct Galaxy {
  std::vector<std::string> files;
  int side = 0;           // the grid is side x side systems
  int rows = 0;           // rows written, shared copies included
  std::string corner;     // the system in one corner
  std::string farCorner;  // the system in the opposite corner
};

// The name of the system at grid position (x, y).
std::string GalaxySystemName(int x, int y);

// Writes the files into folder (which must exist), replacing files of the same names.
// Throws std::runtime_error when a file cannot be written.
Galaxy WriteGalaxy(const std::string& folder, const GalaxyOptions& options);

// A galaxy of warpPoints (the default options otherwise), written the first time it is
// asked for in this process into the temporary folder "lanewright-TAG-N".
const Galaxy& GalaxyOfSize(int warpPoints, const std::string& tag);

// What a benchmark's command line names: a folder (its .db files, sorted, absolute), or a
// number of warp points (a new galaxy of that size, written below scratch).
std::vector<std::string> GalaxyFiles(const std::string& what, const std::string& scratch);

}  // namespace lanewright::bench
