#include <cstdio>

#include "app/Cli.h"

int main(int argc, char** argv) {
  if (lanewright::cli::IsCliCommandLine(argc, argv)) return lanewright::cli::RunCli(argc, argv);
  std::fputs("lanewright: the desktop program is not built yet; try 'lanewright --help'\n", stderr);
  return lanewright::cli::kExitUsage;
}
