#pragma once

#include <string>
#include <string_view>

#include "server/RegistryStore.h"
#include "server/ServerResult.h"

namespace lanewright::server {

enum class ServerCommand { None, Register, Unregister };

// The process's command line as one string, the way the platform hands it to a program:
// argv[0] and then each argument, separated by one space. An argument that is empty or
// holds a blank or a tab is put in double quotes, so such an argument can never end in a
// bare switch.
std::string RebuildCommandLine(int argc, const char* const* argv);

// Looks for a switch: a '-' or '/' whose text runs to the end of the line and is
// "UnregServer" or "RegServer" (any case). A '-' or '/' that does not start such a switch,
// as in the program's own path, is passed over.
ServerCommand ScanCommandLine(std::string_view commandLine);

// Applies the application's registry script in the command's mode and then registers or
// unregisters the module. The result is the first failure of the two steps, else the
// module step's result.
HResult PerformServerCommand(RegistryStore& store, ServerCommand command,
                             std::string_view modulePath);

// The process exit status for a result code. The system keeps only the low 8 bits of an
// exit status, so a failure whose low byte is 0 would read as success: it becomes 255.
int ProcessExitCode(HResult hr);

// The path of the running executable (/proc/self/exe).
HResult ModuleFileName(std::string* path);

// The whole /RegServer or /UnregServer run against the user's registry file; prints a
// line on stderr when something fails and returns the process exit status.
int RunServerCommand(ServerCommand command);

}  // namespace lanewright::server
