#include "app/Cli.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "route/FindRoute.h"
#include "store/Printable.h"

namespace lanewright::cli {
namespace {

using Registrar = void (*)(CLI::App&, Context&);

// Every subcommand, in the order --help lists them.
constexpr Registrar kCommands[] = {
    AddSystemsCommand,   AddRouteCommand,      AddRangeCommand,
    AddExportDotCommand, AddStoreRouteCommand, AddInitTurnDbCommand,
};

const char* const kCommandNames[] = {"systems",    "route",       "range",
                                     "export-dot", "store-route", "init-turn-db"};

}  // namespace

int ExitCode(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok:
      return 0;
    case Outcome::NoRoute:
      return 1;
    case Outcome::DataError:
      return 2;
    case Outcome::Usage:
      return 64;
  }
  return 64;
}

Outcome OutcomeOf(const RoutePlan& plan) {
  if (plan.error.Failed()) return Outcome::DataError;
  return plan.AllFound() ? Outcome::Ok : Outcome::NoRoute;
}

void PrintOutput(std::string_view text, const CommonOptions& common, std::FILE* to) {
  std::string out;
  if (common.crlf) {
    out.assign(text);
  } else {
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += text[i];
    }
  }
  std::fwrite(out.data(), 1, out.size(), to);
  std::fflush(to);
}

void Complain(std::string_view message) {
  std::cerr << "lanewright: " << store::Printable(message) << '\n';
}

SystemLists LoadForCommand(const std::vector<std::string>& files, Context& context) {
  StringOutputBox output;
  LoadResult result = LoadNamedFiles(files, context.starMap, context.rows, output);
  for (const auto& note : result.notes) Complain(note);
  if (!result.ok) {
    PrintOutput(output.Text(), context.common);
    throw DataError(result.error.reason);
  }
  return std::move(result.lists);
}

void RequireKnownName(const std::string& option, const std::string& name, bool known) {
  if (!known)
    throw DataError(fmt::format("{} \"{}\" is not a system of the loaded files", option, name));
}

std::vector<std::string> StopsFromOptions(const std::vector<std::string>& via,
                                          const SystemLists& lists) {
  std::string problem;
  const auto stops = StopsFromList(via, problem);
  if (!stops) throw UsageError(problem);
  for (const auto& stop : *stops) RequireKnownName("--via", stop, lists.InVisit(stop));
  return *stops;
}

void AddTripOptions(CLI::App* cmd, TripOptions& trip, const std::string& bestOrderHelp) {
  cmd->add_option("--from", trip.from, "start system")->required();
  cmd->add_option("--to", trip.to, "destination system, an X-name or XX (any unsurveyed system)")
      ->required();
  cmd->add_option("--via", trip.via,
                  "system to visit on the way, repeatable (visited in the order given); "
                  "[none] for none")
      ->allow_extra_args(false);
  cmd->add_flag("--best-order", trip.bestOrder, bestOrderHelp);
  cmd->add_option("--avoid", trip.avoid, "system to avoid (repeatable)")->allow_extra_args(false);
}

RouteRequest TripRequest(const TripOptions& trip, const SystemLists& lists, StarMap& starMap) {
  RequireKnownName("--from", trip.from, lists.InFrom(trip.from));
  RequireKnownName("--to", trip.to, lists.InTo(trip.to));
  RouteRequest request;
  request.from = trip.from;
  request.stops = StopsFromOptions(trip.via, lists);
  request.to = trip.to;
  request.bestOrder = trip.bestOrder;
  starMap.avoidSystems = std::set<std::string>(trip.avoid.begin(), trip.avoid.end());
  request.avoid = starMap.avoidSystems;
  return request;
}

CLI::Option* AddModeOption(CLI::App* cmd, std::string& by, const std::string& help) {
  std::vector<std::string> names;
  for (const RouteMode mode : {RouteMode::ByJumps, RouteMode::ByClass, RouteMode::ByFuel})
    names.emplace_back(RouteModeName(mode));
  return cmd->add_option("--by", by, help)->check(CLI::IsMember(names));
}

bool IsCliCommandLine(int argc, char** argv) {
  // The common options may come before the subcommand's name.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "--version") return true;
    if (arg == "--crlf" || arg.rfind("--data-dir=", 0) == 0) continue;
    if (arg == "--data-dir") {
      ++i;
      continue;
    }
    return std::find(std::begin(kCommandNames), std::end(kCommandNames), arg) !=
           std::end(kCommandNames);
  }
  return false;
}

int RunCli(int argc, char** argv) {
  CLI::App app{"Lanewright plans travel through the Starmere warp point network.", "lanewright"};
  app.set_version_flag("--version", std::string("Lanewright ") + LANEWRIGHT_VERSION);
  app.require_subcommand(1);
  Context context;
  app.add_flag("--crlf", context.common.crlf, "print \\r\\n line ends as they are");
  app.add_option("--data-dir", context.common.dataDir,
                 "folder of the empire files and the turn entry database");
  for (Registrar add : kCommands) add(app, context);
  for (CLI::App* sub : app.get_subcommands({})) sub->fallthrough();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // The message may quote what was typed; each of its lines is shown escaped.
    std::ostringstream message;
    app.exit(e, std::cout, message);
    std::istringstream lines(message.str());
    for (std::string line; std::getline(lines, line);) std::cerr << store::Printable(line) << '\n';
    return ExitCode(Outcome::Usage);
  } catch (const UsageError& e) {
    Complain(e.what());
    return ExitCode(Outcome::Usage);
  } catch (const DataError& e) {
    Complain(e.what());
    return ExitCode(Outcome::DataError);
  }
  return ExitCode(context.outcome);
}

}  // namespace lanewright::cli
