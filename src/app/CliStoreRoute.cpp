#include <fmt/format.h>

#include <algorithm>
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
  TripOptions trip;
  std::int32_t empire = 0;
  std::string convoyName, moveFleet, surveyFleet, backSurveyFleet;
  std::int32_t startOrder = 0;
  std::string by = "jumps";
  std::string turnDb;
  std::vector<std::string> files;
};

void NoteSkippedRows(const TurnEntryDatabase& db) {
  if (db.LastSkippedRows() > 0)
    Complain(fmt::format("skipped {} unreadable rows in {}", db.LastSkippedRows(), db.path()));
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

}  // namespace

void AddStoreRouteCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand(
      "store-route", "write the route from --from to --to as orders into the turn entry database");
  auto opts = std::make_shared<StoreRouteOptions>();
  AddTripOptions(cmd, opts->trip,
                 "visit the --via systems in the order that makes the trip cheapest");
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
  AddModeOption(cmd, opts->by, "what makes a route cheap (default: jumps)");
  cmd->add_option("--turn-db", opts->turnDb,
                  "turn entry database (default: \"Starmere Turn Entry Data.mdb\" in the data "
                  "folder)");
  cmd->add_option("FILE", opts->files, "empire database files")->required();

  cmd->callback([&context, opts, convoy, move, survey, backSurvey, start] {
    const SystemLists lists = LoadForCommand(opts->files, context);
    StarMap& starMap = context.starMap;
    const RouteRequest request = TripRequest(opts->trip, lists, starMap);
    if (starMap.empires.count(opts->empire) == 0)
      throw DataError(
          fmt::format("--empire {} is not an empire of the loaded files", opts->empire));

    TurnEntryDatabase db(opts->turnDb.empty() ? DefaultTurnEntryPath(context.common.dataDir)
                                              : opts->turnDb);
    store::StoreError err;
    if (!db.Check(err)) throw DataError(err.reason);

    ConvoyValues values;
    values.empire = opts->empire;
    values.strategy = *RouteModeFromName(opts->by);
    values.name = DefaultConvoyName(opts->trip.from, opts->trip.to);
    if (convoy->count() > 0) values.name = store::Utf8Prefix(opts->convoyName, 255);
    if (values.convoy && store::Utf8Length(values.name) > kStoredNameChars)
      Complain(
          fmt::format("the convoy name \"{}\" has more than {} characters; the turn entry "
                      "database keeps only the first {}",
                      values.name, kStoredNameChars, kStoredNameChars));
    if (move->count() + survey->count() + backSurvey->count() > 0) {
      values.convoy = false;
      values.survey = survey->count() + backSurvey->count() > 0;
      values.backSurvey = backSurvey->count() > 0;
      values.fleet = move->count() > 0     ? opts->moveFleet
                     : survey->count() > 0 ? opts->surveyFleet
                                           : opts->backSurveyFleet;
      RequireFleet(db, opts->empire, values.fleet);
    }
    if (start->count() > 0) {
      values.startOrder = opts->startOrder;
    } else {
      const auto computed = DefaultStartOrder(db, opts->empire, err);
      NoteSkippedRows(db);
      if (!computed) throw DataError(err.reason);
      if (*computed > std::numeric_limits<std::int32_t>::max())
        throw DataError(
            fmt::format("empire {} has order number {} in {}; no number is left after it",
                        opts->empire, *computed - 10, db.path()));
      values.startOrder = static_cast<std::int32_t>(*computed);
      values.defaultStartOrder = true;
    }

    RoutePlanner planner(context.rows);
    StringOutputBox output;
    const StoreRouteResult result = StoreRoute(starMap, planner, request, values, db, output);
    PrintOutput(output.Text(), context.common);
    if (!result.plan.directions.empty() && result.plan.directions[0].orderNotProvenBest)
      Complain("the order of the stops is not proven best");
    context.outcome = OutcomeOf(result.plan);
    if (result.plan.error.Failed()) {
      Complain(result.plan.error.reason);
    } else if (context.outcome == Outcome::Ok && !result.stored) {
      Complain("could not store the orders: " + result.storeError.reason);
      context.outcome = Outcome::DataError;
    }
  });
}

}  // namespace lanewright::cli
