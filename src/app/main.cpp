#include <cstdio>

#include "app/Cli.h"
#include "server/ServerCommand.h"
#ifdef LANEWRIGHT_WITH_GUI
#include "app/gui/GuiMain.h"
#endif

int main(int argc, char** argv) {
  if (lanewright::cli::IsCliCommandLine(argc, argv)) return lanewright::cli::RunCli(argc, argv);
  // Self-registration: a "/RegServer" or "/UnregServer" switch ends the command line.
  if (const auto serverCommand =
          lanewright::server::ScanCommandLine(lanewright::server::RebuildCommandLine(argc, argv));
      serverCommand != lanewright::server::ServerCommand::None)
    return lanewright::server::RunServerCommand(serverCommand);
#ifdef LANEWRIGHT_WITH_GUI
  return lanewright::gui::RunGui(argc, argv);
#else
  std::fputs("lanewright: built without the desktop program; try 'lanewright --help'\n", stderr);
  return lanewright::cli::kExitUsage;
#endif
}
