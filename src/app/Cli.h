#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "starmap/StarMap.h"

namespace lanewright::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNoRoute = 1;
inline constexpr int kExitDataError = 2;
inline constexpr int kExitUsage = 64;

// Options every subcommand accepts, anywhere on the line.
struct CommonOptions {
  bool crlf = false;
  std::string dataDir;
};

// A data error: bad input that is not the user's typing (a file that cannot be read or
// written, a name that is not in the loaded lists). Main maps it to exit code 2 and prints
// the message as one line on stderr.
struct DataError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The shared state a subcommand's callback works with.
struct Context {
  CommonOptions common;
  int exitCode = kExitOk;
};

// Prints output-box text to stdout: "\r\n" becomes "\n" unless --crlf.
void PrintOutput(std::string_view text, const CommonOptions& common);

// The load every command starts with: databaseFiles = the distinct paths. On failure prints
// the load's text, explains on stderr and throws DataError-like exit (returns false).
bool LoadForCommand(const std::vector<std::string>& files, StarMap& starMap,
                    const CommonOptions& common, SystemLists* lists = nullptr);

// Throws DataError unless name is one of the loaded names (or one of the extra names
// allowed for that option, such as "XX" or "[none]").
void RequireKnownName(const std::string& option, const std::string& name,
                      const std::vector<std::string>& knownList);

// Each command file adds its subcommand; the callback sets context.exitCode.
void AddSystemsCommand(CLI::App& app, Context& context);
void AddRouteCommand(CLI::App& app, Context& context);
void AddRangeCommand(CLI::App& app, Context& context);
void AddExportDotCommand(CLI::App& app, Context& context);
void AddStoreRouteCommand(CLI::App& app, Context& context);
void AddInitTurnDbCommand(CLI::App& app, Context& context);

// Runs the command line; returns the process exit code.
int RunCli(int argc, char** argv);

// True when argv[1] names a subcommand (or --help/--version), so the CLI handles the line.
bool IsCliCommandLine(int argc, char** argv);

}  // namespace lanewright::cli
