#include <iostream>
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

RouteMode ParseMode(const std::string& by) {
  if (by == "class") return RouteMode::ByClass;
  if (by == "fuel") return RouteMode::ByFuel;
  return RouteMode::ByJumps;
}

}  // namespace

void AddRouteCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand("route", "the cheapest route between two systems, both ways");
  auto opts = std::make_shared<RouteOptions>();
  cmd->add_option("--by", opts->by, "what makes a route cheap")
      ->required()
      ->check(CLI::IsMember({"jumps", "class", "fuel"}));
  cmd->add_option("--from", opts->from, "start system")->required();
  cmd->add_option("--to", opts->to, "destination system, an X-name or XX (any unsurveyed system)")
      ->required();
  CLI::Option* viaOption =
      cmd->add_option("--via", opts->via, "system to visit on the way; [none] for none");
  cmd->add_option("--avoid", opts->avoid, "system to avoid (repeatable)")->allow_extra_args(false);
  cmd->add_flag("--one-way", opts->oneWay, "search only from --from to --to");
  cmd->add_option("FILE", opts->files, "empire database files")->required();
  cmd->callback([&context, opts, viaOption] {
    StarMap starMap;
    SystemLists lists;
    LoadForCommand(opts->files, starMap, context.common, &lists);
    RequireKnownName("--from", opts->from, lists.from);
    RequireKnownName("--to", opts->to, lists.to);
    std::optional<std::string> visit;
    if (viaOption->count() > 0) {
      RequireKnownName("--via", opts->via, lists.visit);
      visit = opts->via;
    }
    StringOutputBox output;
    RouteResult result;
    const std::set<std::string> avoid(opts->avoid.begin(), opts->avoid.end());
    if (opts->oneWay) {
      starMap.avoidSystems = avoid;
      std::optional<std::string> via;
      if (visit && *visit != "[none]") via = visit;
      OutputBoxSink sink(output);
      result = FindRoute(starMap, opts->from, opts->to, via, ParseMode(opts->by), sink, false);
    } else {
      result =
          RouteCommand(starMap, opts->from, opts->to, visit, avoid, ParseMode(opts->by), output);
    }
    PrintOutput(output.Text(), context.common);
    if (result.error.Failed()) {
      context.exitCode = kExitDataError;
      std::cerr << "lanewright: " << result.error.reason << '\n';
    } else {
      context.exitCode = result.AllFound() ? kExitOk : kExitNoRoute;
    }
  });
}

}  // namespace lanewright::cli
