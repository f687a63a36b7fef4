#include <memory>

#include "app/Cli.h"
#include "route/FindRoute.h"
#include "route/OutputBoxSink.h"

namespace lanewright::cli {
namespace {

struct RouteOptions {
  std::string by;
  std::string from, to, via;
  std::vector<std::string> avoid;
  bool oneWay = false;
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
  CLI::Option* viaOption =
      cmd->add_option("--via", opts->via, "system to visit on the way; [none] for none");
  cmd->add_option("--avoid", opts->avoid, "system to avoid (repeatable)")->allow_extra_args(false);
  cmd->add_flag("--one-way", opts->oneWay, "search only from --from to --to");
  cmd->add_option("FILE", opts->files, "empire database files")->required();
  cmd->callback([&context, opts, viaOption] {
    const SystemLists lists = LoadForCommand(opts->files, context);
    RequireKnownName("--from", opts->from, lists.InFrom(opts->from));
    RequireKnownName("--to", opts->to, lists.InTo(opts->to));
    std::optional<std::string> visit;
    if (viaOption->count() > 0) {
      RequireKnownName("--via", opts->via, lists.InVisit(opts->via));
      visit = opts->via;
    }
    StarMap& starMap = context.starMap;
    starMap.avoidSystems = std::set<std::string>(opts->avoid.begin(), opts->avoid.end());
    RoutePlanner planner(context.rows);
    const RouteRequest request{opts->from,           StopsFromVisit(visit),        opts->to,
                               starMap.avoidSystems, *RouteModeFromName(opts->by), !opts->oneWay};
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
