#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <limits>
#include <memory>

#include "app/Cli.h"
#include "orders/StoreRoute.h"
#include "orders/TurnEntryDatabase.h"
#include "starmap/DataFolder.h"
#include "store/BoundReader.h"

namespace lanewright::cli {
namespace {

struct StoreRouteOptions {
  std::string from, to, via;
  std::vector<std::string> avoid;
  std::int32_t empire = 0;
  std::string convoyName, moveFleet, surveyFleet, backSurveyFleet;
  std::int32_t startOrder = 0;
  std::string by = "jumps";
  std::string turnDb;
  std::vector<std::string> files;
};

RouteMode ParseMode(const std::string& by) {
  if (by == "class") return RouteMode::ByClass;
  if (by == "fuel") return RouteMode::ByFuel;
  return RouteMode::ByJumps;
}

void NoteSkippedRows(const TurnEntryDatabase& db) {
  if (db.LastSkippedRows() > 0)
    std::cerr << fmt::format("lanewright: skipped {} unreadable rows in {}\n", db.LastSkippedRows(),
                             db.path());
}

// The dialog offers only the empire's own fleets; a fleet typed on the command line is held
// to the same list, so that a typo cannot put orders for a fleet that does not exist.
void RequireFleet(TurnEntryDatabase& db, std::int32_t empire, const std::string& fleet) {
  store::StoreError err;
  const std::vector<std::int32_t> fleets = db.ListFleets(empire, err);
  NoteSkippedRows(db);
  if (err.Failed()) throw DataError(err.reason);
  if (std::none_of(fleets.begin(), fleets.end(),
                   [&](std::int32_t f) { return fmt::format("{}", f) == fleet; }))
    throw DataError(
        fmt::format("fleet \"{}\" is not a fleet of empire {} in {}", fleet, empire, db.path()));
}

std::int32_t DefaultStartOrder(TurnEntryDatabase& db, std::int32_t empire) {
  store::StoreError err;
  const std::int64_t highest = db.HighestOrderNumber(empire, err);
  NoteSkippedRows(db);
  if (err.Failed()) throw DataError(err.reason);
  if (highest + 10 > std::numeric_limits<std::int32_t>::max())
    throw DataError(fmt::format("empire {} has order number {} in {}; no number is left after it",
                                empire, highest, db.path()));
  return static_cast<std::int32_t>(highest + 10);
}

}  // namespace

void AddStoreRouteCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand(
      "store-route", "write the route from --from to --to as orders into the turn entry database");
  auto opts = std::make_shared<StoreRouteOptions>();
  cmd->add_option("--from", opts->from, "start system")->required();
  cmd->add_option("--to", opts->to, "destination system, an X-name or XX (any unsurveyed system)")
      ->required();
  CLI::Option* viaOption =
      cmd->add_option("--via", opts->via, "system to visit on the way; [none] for none");
  cmd->add_option("--avoid", opts->avoid, "system to avoid (repeatable)")->allow_extra_args(false);
  cmd->add_option("--empire", opts->empire, "the empire that gives the orders")->required();
  auto* mode = cmd->add_option_group("mode", "who moves (default: a convoy named \"FROM -> TO\")");
  CLI::Option* convoy = mode->add_option("--convoy", opts->convoyName, "a convoy of this name");
  CLI::Option* move = mode->add_option("--move", opts->moveFleet, "this fleet moves");
  CLI::Option* survey =
      mode->add_option("--survey", opts->surveyFleet, "this fleet moves and surveys");
  CLI::Option* backSurvey =
      mode->add_option("--back-survey", opts->backSurveyFleet,
                       "this fleet moves and surveys, with a second survey after each jump");
  mode->require_option(0, 1);
  CLI::Option* start =
      cmd->add_option("--start-order", opts->startOrder,
                      "number of the first order (default: the empire's highest + 10)")
          ->check(CLI::Range(0, std::numeric_limits<std::int32_t>::max()));
  cmd->add_option("--by", opts->by, "what makes a route cheap (default: jumps)")
      ->check(CLI::IsMember({"jumps", "class", "fuel"}));
  cmd->add_option("--turn-db", opts->turnDb,
                  "turn entry database (default: \"Starmere Turn Entry Data.mdb\" in the data "
                  "folder)");
  cmd->add_option("FILE", opts->files, "empire database files")->required();

  cmd->callback([&context, opts, viaOption, convoy, move, survey, backSurvey, start] {
    StarMap starMap;
    SystemLists lists;
    LoadForCommand(opts->files, starMap, context.common, &lists);
    RequireKnownName("--from", opts->from, lists.from);
    RequireKnownName("--to", opts->to, lists.to);
    std::string visitText = "[none]";
    if (viaOption->count() > 0) {
      RequireKnownName("--via", opts->via, lists.visit);
      visitText = opts->via;
    }
    if (starMap.empires.count(opts->empire) == 0)
      throw DataError(
          fmt::format("--empire {} is not an empire of the loaded files", opts->empire));
    starMap.avoidSystems = std::set<std::string>(opts->avoid.begin(), opts->avoid.end());

    TurnEntryDatabase db(opts->turnDb.empty() ? DefaultTurnEntryPath(context.common.dataDir)
                                              : opts->turnDb);
    store::StoreError err;
    if (!db.Check(err)) throw DataError(err.reason);

    ConvoyValues values;
    values.empire = opts->empire;
    values.strategy = ParseMode(opts->by);
    values.name = opts->from + " -> " + opts->to;
    if (convoy->count() > 0) values.name = store::Utf8Prefix(opts->convoyName, 255);
    if (move->count() + survey->count() + backSurvey->count() > 0) {
      values.convoy = false;
      values.survey = survey->count() + backSurvey->count() > 0;
      values.backSurvey = backSurvey->count() > 0;
      values.fleet = move->count() > 0     ? opts->moveFleet
                     : survey->count() > 0 ? opts->surveyFleet
                                           : opts->backSurveyFleet;
      RequireFleet(db, opts->empire, values.fleet);
    }
    values.startOrder = start->count() > 0 ? opts->startOrder : DefaultStartOrder(db, opts->empire);

    StringOutputBox output;
    const StoreRouteResult result =
        StoreRoute(starMap, opts->from, opts->to, visitText, values, db, output);
    PrintOutput(output.Text(), context.common);
    if (result.route.error.Failed()) {
      std::cerr << "lanewright: " << result.route.error.reason << '\n';
      context.exitCode = kExitDataError;
    } else if (!result.route.AllFound()) {
      context.exitCode = kExitNoRoute;
    } else if (!result.stored) {
      std::cerr << "lanewright: could not store the orders: " << result.storeError.reason << '\n';
      context.exitCode = kExitDataError;
    } else {
      context.exitCode = kExitOk;
    }
  });
}

}  // namespace lanewright::cli
