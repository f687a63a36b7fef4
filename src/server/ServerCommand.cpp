#include "server/ServerCommand.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "server/FileRegistryStore.h"
#include "server/RegistryScript.h"
#include "server/TypeLibrary.h"

namespace lanewright::server {
namespace {

bool SwitchMatches(std::string_view text, std::string_view name) { return NamesEqual(text, name); }

void Complain(const std::string& message) {
  std::fputs(("lanewright: " + message + "\n").c_str(), stderr);
}

}  // namespace

std::string RebuildCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i] ? argv[i] : "";
    if (i > 0) line += ' ';
    const bool quote = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
    if (quote) line += '"';
    line += arg;
    if (quote) line += '"';
  }
  return line;
}

ServerCommand ScanCommandLine(std::string_view commandLine) {
  // '-' and '/' are never part of a multi-byte UTF-8 character, so a byte walk finds them.
  std::size_t from = 0;
  while (true) {
    const std::size_t mark = commandLine.find_first_of("-/", from);
    if (mark == std::string_view::npos) return ServerCommand::None;
    const std::string_view text = commandLine.substr(mark + 1);
    if (SwitchMatches(text, "UnregServer")) return ServerCommand::Unregister;
    if (SwitchMatches(text, "RegServer")) return ServerCommand::Register;
    from = mark + 1;
  }
}

HResult PerformServerCommand(RegistryStore& store, ServerCommand command,
                             std::string_view modulePath) {
  if (command == ServerCommand::None) return S_OK;
  const bool registering = command == ServerCommand::Register;
  const HResult script = ApplyRegistryScript(store, kApplicationScriptId, registering, modulePath);
  const HResult module =
      registering ? RegisterModule(store, modulePath) : UnregisterModule(store, modulePath);
  // A script that failed is reported too: the exit status must not say "registered" when
  // the application's keys are missing.
  return Failed(script) ? script : module;
}

int ProcessExitCode(HResult hr) {
  const int low = static_cast<int>(static_cast<std::uint32_t>(hr) & 0xFFu);
  if (Failed(hr) && low == 0) return 255;
  return low;
}

HResult ModuleFileName(std::string* path) {
  std::vector<char> buffer(256);
  while (true) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return HResultFromError(errno);
    if (static_cast<std::size_t>(n) < buffer.size()) {
      path->assign(buffer.data(), static_cast<std::size_t>(n));
      return S_OK;
    }
    buffer.resize(buffer.size() * 2);
  }
}

int RunServerCommand(ServerCommand command) {
  // Every failure names its result code, whatever step it comes from.
  const auto fail = [command](HResult hr, const std::string& reason) {
    Complain(fmt::format("{} failed with hr=0x{:08X}{}{}",
                         command == ServerCommand::Register ? "registration" : "unregistration",
                         static_cast<std::uint32_t>(hr), reason.empty() ? "" : ": ", reason));
    return ProcessExitCode(hr);
  };
  std::string error;
  const auto registryPath = DefaultRegistryPath(&error);
  if (!registryPath) return fail(E_FAIL, error);
  const auto store = FileRegistryStore::Open(*registryPath, &error);
  if (!store) return fail(E_FAIL, error);
  std::string modulePath;
  HResult hr = ModuleFileName(&modulePath);
  if (Failed(hr)) return fail(hr, "cannot find the path of the program");
  hr = PerformServerCommand(*store, command, modulePath);
  if (!store->Save(&error)) return fail(E_FAIL, error);
  return Failed(hr) ? fail(hr, "") : ProcessExitCode(hr);
}

}  // namespace lanewright::server
