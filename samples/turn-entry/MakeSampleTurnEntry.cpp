// Writes the bundled sample turn entry database: a few orders and fleets of the two
// sample empires (3 and 7), as if the player had already entered part of a turn. The
// output is the same on every run.
//
//   sample_turn_entry OUTPUT_FOLDER   (writes turn-entry.mdb and an SQLite copy, turn-entry.db)

#include <cstdio>
#include <string>
#include <vector>

#include "orders/TurnEntryDatabase.h"
#include "store/TableWriter.h"

namespace {

struct Fleet {
  int empire;
  int number;
  const char* name;
};

const std::vector<Fleet> kFleets = {
    {3, 12, "Home Guard"}, {3, 15, "Scouts"}, {7, 4, "First Fleet"}, {7, 12, "Surveyors"}};

// Warp point ids follow the sample galaxy: Sol -> Vega 1001, Sol -> Sirius 1005,
// Vega -> Deneb 1007, Antares -> Canopus 1041, Canopus -> Achernar 1043.
const std::vector<lanewright::OrderRow> kOrders = {
    {3, "CNVR", 100, "Sol -> Deneb", " ", " "},
    {3, "MOVE", 110, "1234", "Sol", "1001"},
    {3, "WARP", 120, "1234", " ", " "},
    {3, "MOVE", 130, "1234", "Vega", "1007"},
    {3, "WARP", 140, "1234", " ", " "},
    {3, "CNVR", 150, "Sol -> Deneb", " ", " "},
    {3, "MOVE", 200, "15", "Sol", "1005"},
    {3, "WARP", 210, "15", " ", " "},
    {3, "SS", 220, "15", " ", " "},
    {3, "SURV", 230, "15", " ", " "},
    {7, "MOVE", 10, "4", "Antares", "1041"},
    {7, "WARP", 20, "4", " ", " "},
    {7, "MOVE", 30, "4", "Canopus", "1043"},
    {7, "WARP", 40, "4", " ", " "},
};

int Fail(const std::string& why) {
  std::fprintf(stderr, "sample_turn_entry: %s\n", why.c_str());
  return 1;
}

// Fleets go in through the store's own means: the turn entry database only ever appends
// orders.
bool AddFleets(const std::string& path, std::string& why) {
  std::vector<lanewright::store::Row> rows;
  for (const Fleet& fleet : kFleets)
    rows.push_back(
        {std::int64_t{fleet.empire}, std::int64_t{fleet.number}, std::string(fleet.name)});
  const auto err = lanewright::store::AppendRows(path, "Fleets", rows);
  why = err.reason;
  return !err.Failed();
}

int Write(const std::string& path, lanewright::TurnEntryFormat format) {
  std::remove(path.c_str());
  lanewright::store::StoreError err;
  if (!lanewright::CreateTurnEntryDatabase(path, err, format)) return Fail(err.reason);
  lanewright::TurnEntryDatabase db(path);
  for (const int empire : {3, 7}) {
    const auto ofEmpire = [empire](const std::vector<std::int32_t>&,
                                   lanewright::store::StoreError&) {
      std::vector<lanewright::OrderRow> rows;
      for (const auto& order : kOrders)
        if (order.empire == empire) rows.push_back(order);
      return rows;
    };
    if (!db.InsertOrders(empire, ofEmpire, err)) return Fail(err.reason);
  }
  std::string why;
  if (!AddFleets(path, why)) return Fail(why);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sample_turn_entry OUTPUT_FOLDER\n");
    return 64;
  }
  const std::string folder = argv[1];
  if (int rc = Write(folder + "/turn-entry.mdb", lanewright::TurnEntryFormat::Jet4)) return rc;
  return Write(folder + "/turn-entry.db", lanewright::TurnEntryFormat::Sqlite);
}
