#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "route/RoutePlan.h"
#include "starmap/EmpireRows.h"
#include "starmap/LoadEmpireDatabase.h"
#include "starmap/StarMap.h"

namespace lanewright::cli {

// How a command ended. ExitCode is the only place that turns it into a number.
enum class Outcome { Ok, NoRoute, DataError, Usage };
int ExitCode(Outcome outcome);

// A route plan's outcome: a file that could not be read is a data error, a direction
// without a route is "no route".
Outcome OutcomeOf(const RoutePlan& plan);

// Options every subcommand accepts, anywhere on the line.
struct CommonOptions {
  bool crlf = false;
  std::string dataDir;
};

// A data error: bad input that is not the user's typing (a file that cannot be read or
// written, a name that is not in the loaded lists). Ends the command with Outcome::DataError
// and the message as one line on stderr.
struct DataError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A usage error found after parsing (options that contradict each other): Outcome::Usage.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a subcommand's callback works with. One command reads each empire file once: the
// load and the work after it share the row source.
struct Context {
  CommonOptions common;
  Outcome outcome = Outcome::Ok;
  EmpireRowSource rows;
  StarMap starMap;
};

// Prints output-box text to stdout (or to): "\r\n" becomes "\n" unless --crlf.
void PrintOutput(std::string_view text, const CommonOptions& common, std::FILE* to = stdout);

// One line on stderr, "lanewright: " first.
void Complain(std::string_view message);

// The load every command starts with, over the distinct paths given. On failure prints the
// load's text and throws DataError.
SystemLists LoadForCommand(const std::vector<std::string>& files, Context& context);

// Throws DataError unless known (the list's own test) holds for name.
void RequireKnownName(const std::string& option, const std::string& name, bool known);

// Each command file adds its subcommand; the callback sets context.outcome.
void AddSystemsCommand(CLI::App& app, Context& context);
void AddRouteCommand(CLI::App& app, Context& context);
void AddRangeCommand(CLI::App& app, Context& context);
void AddExportDotCommand(CLI::App& app, Context& context);
void AddStoreRouteCommand(CLI::App& app, Context& context);
void AddInitTurnDbCommand(CLI::App& app, Context& context);

// The stops of --via options given (each a known name or "[none]"); throws UsageError for
// "[none]" among names or too many stops, DataError for an unknown name.
std::vector<std::string> StopsFromOptions(const std::vector<std::string>& via,
                                          const SystemLists& lists);

// The trip route and store-route both plan: --from, --to, --via (repeatable), --best-order
// and --avoid (repeatable).
struct TripOptions {
  std::string from, to;
  std::vector<std::string> via, avoid;
  bool bestOrder = false;
};
void AddTripOptions(CLI::App* cmd, TripOptions& trip, const std::string& bestOrderHelp);

// The request for a trip over the loaded lists: the names checked (DataError), the stops as
// StopsFromOptions makes them; the avoid set also becomes the star map's. Mode and directions
// are the caller's.
RouteRequest TripRequest(const TripOptions& trip, const SystemLists& lists, StarMap& starMap);

// Adds "--by jumps|class|fuel" to cmd.
CLI::Option* AddModeOption(CLI::App* cmd, std::string& by, const std::string& help);

// Runs the command line; returns the process exit code.
int RunCli(int argc, char** argv);

// True when argv[1] names a subcommand (or --help/--version), so the CLI handles the line.
bool IsCliCommandLine(int argc, char** argv);

}  // namespace lanewright::cli
