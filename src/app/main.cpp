#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Cli.h"
#include "server/ServerCommand.h"

namespace {

std::string SelfFolder() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  const std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

// The desktop program is a program of its own, so that the command line never loads the
// window libraries. It sits beside this one (in a build tree, too).
int RunDesktopProgram(char** argv) {
  const std::string program = SelfFolder() + "lanewright-gui";
  ::execv(program.c_str(), argv);
  std::fprintf(stderr,
               "lanewright: the desktop program %s cannot be started (%s); see 'lanewright "
               "--help' for the command line\n",
               program.c_str(), std::strerror(errno));
  return lanewright::cli::ExitCode(lanewright::cli::Outcome::Usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (lanewright::cli::IsCliCommandLine(argc, argv)) return lanewright::cli::RunCli(argc, argv);
  // Self-registration: a "/RegServer" or "/UnregServer" switch ends the command line.
  if (const auto serverCommand =
          lanewright::server::ScanCommandLine(lanewright::server::RebuildCommandLine(argc, argv));
      serverCommand != lanewright::server::ServerCommand::None)
    return lanewright::server::RunServerCommand(serverCommand);
  return RunDesktopProgram(argv);
}
