#include <memory>

#include "app/Cli.h"
#include "route/FindRoute.h"
#include "route/OutputBoxSink.h"

namespace lanewright::cli {
namespace {

struct RouteOptions {
  std::string by;
  TripOptions trip;
  bool oneWay = false;
  std::vector<std::string> files;
};

}  // namespace

void AddRouteCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand("route", "the cheapest route between two systems, both ways");
  auto opts = std::make_shared<RouteOptions>();
  AddModeOption(cmd, opts->by, "what makes a route cheap")->required();
  AddTripOptions(cmd, opts->trip,
                 "visit the --via systems in the order that makes each direction cheapest");
  cmd->add_flag("--one-way", opts->oneWay, "search only from --from to --to");
  cmd->add_option("FILE", opts->files, "empire database files")->required();
  cmd->callback([&context, opts] {
    const SystemLists lists = LoadForCommand(opts->files, context);
    StarMap& starMap = context.starMap;
    RoutePlanner planner(context.rows);
    RouteRequest request = TripRequest(opts->trip, lists, starMap);
    request.mode = *RouteModeFromName(opts->by);
    request.bothWays = !opts->oneWay;
    const RoutePlan plan = FindRoute(starMap, planner, request);
    StringOutputBox output;
    OutputBoxSink sink(output);
    RenderRoute(plan, sink, starMap.systemEmpire);
    PrintOutput(output.Text(), context.common);
    if (plan.error.Failed()) Complain(plan.error.reason);
    context.outcome = OutcomeOf(plan);
  });
}

}  // namespace lanewright::cli
