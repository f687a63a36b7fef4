#include <cstdio>

#include "app/Cli.h"
#include "server/ServerCommand.h"

int main(int argc, char** argv) {
  if (lanewright::cli::IsCliCommandLine(argc, argv)) return lanewright::cli::RunCli(argc, argv);
  // Self-registration: a "/RegServer" or "/UnregServer" switch ends the command line.
  if (const auto serverCommand =
          lanewright::server::ScanCommandLine(lanewright::server::RebuildCommandLine(argc, argv));
      serverCommand != lanewright::server::ServerCommand::None)
    return lanewright::server::RunServerCommand(serverCommand);
  std::fputs("lanewright: the desktop program is not built yet; try 'lanewright --help'\n", stderr);
  return lanewright::cli::kExitUsage;
}
