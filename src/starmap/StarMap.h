#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lanewright {

// What the program knows of the empire data between two commands. Names and paths are
// ordered byte-wise (std::string compares bytes as unsigned values, a prefix first).
struct StarMap {
  std::set<std::string> avoidSystems;
  std::set<std::string> databaseFiles;
  // Grow over every load while the program runs; never emptied.
  std::set<std::int32_t> empires;
  std::set<std::pair<std::string, std::int32_t>> systemEmpire;
};

// The entries a load puts into the four system lists, in the order they are added (the
// lists sort themselves).
struct SystemLists {
  std::vector<std::string> from, to, visit, avoid;
};

}  // namespace lanewright
