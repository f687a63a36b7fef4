#include <memory>

#include "app/Cli.h"
#include "route/FindRoute.h"
#include "route/OutputBoxSink.h"

namespace lanewright::cli {
namespace {

struct RouteOptions {
  std::string by;
  std::string from, to;
  std::vector<std::string> via, avoid;
  bool oneWay = false, bestOrder = false;
  std::vector<std::string> files;
};

}  // namespace

void AddRouteCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand("route", "the cheapest route between two systems, both ways");
  auto opts = std::make_shared<RouteOptions>();
  AddModeOption(cmd, opts->by, "what makes a route cheap")->required();
  cmd->add_option("--from", opts->from, "start system")->required();
  cmd->add_option("--to", opts->to, "destination system, an X-name or XX (any unsurveyed system)")
      ->required();
  cmd->add_option("--via", opts->via,
                  "system to visit on the way, repeatable (visited in the order given); "
                  "[none] for none")
      ->allow_extra_args(false);
  cmd->add_flag("--best-order", opts->bestOrder,
                "visit the --via systems in the order that makes each direction cheapest");
  cmd->add_option("--avoid", opts->avoid, "system to avoid (repeatable)")->allow_extra_args(false);
  cmd->add_flag("--one-way", opts->oneWay, "search only from --from to --to");
  cmd->add_option("FILE", opts->files, "empire database files")->required();
  cmd->callback([&context, opts] {
    const SystemLists lists = LoadForCommand(opts->files, context);
    RequireKnownName("--from", opts->from, lists.InFrom(opts->from));
    RequireKnownName("--to", opts->to, lists.InTo(opts->to));
    StarMap& starMap = context.starMap;
    starMap.avoidSystems = std::set<std::string>(opts->avoid.begin(), opts->avoid.end());
    RoutePlanner planner(context.rows);
    RouteRequest request;
    request.from = opts->from;
    request.stops = StopsFromOptions(opts->via, lists);
    request.to = opts->to;
    request.avoid = starMap.avoidSystems;
    request.mode = *RouteModeFromName(opts->by);
    request.bothWays = !opts->oneWay;
    request.bestOrder = opts->bestOrder;
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
