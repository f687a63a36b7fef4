// Writes a synthetic galaxy for timing the command line:
//   make_galaxy FOLDER WARP_POINTS [SEED]
// prints the two corner systems on the first line, then one file path per line.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "GalaxyGenerator.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: make_galaxy FOLDER WARP_POINTS [SEED]\n", stderr);
    return 64;
  }
  lanewright::bench::GalaxyOptions options;
  options.warpPoints = std::atoi(argv[2]);
  if (argc > 3) options.seed = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
  try {
    const auto galaxy = lanewright::bench::WriteGalaxy(argv[1], options);
    std::printf("%s\t%s\n", galaxy.corner.c_str(), galaxy.farCorner.c_str());
    for (const auto& file : galaxy.files) std::printf("%s\n", file.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_galaxy: %s\n", e.what());
    return 1;
  }
  return 0;
}
