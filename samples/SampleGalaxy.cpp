// Writes the bundled sample galaxy: the "Warp Points" tables of two empires (3 and 7)
// that know overlapping parts of one small warp point network. Run it again after
// changing the network; the output is the same on every run.
//
//   sample_galaxy OUTPUT_FOLDER

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

struct Lane {
  const char* from;
  const char* to;
  char warpClass;
  bool bothWays;  // false: a one-way warp point from -> to
};

// The systems each empire has surveyed. Systems known to neither are only seen as
// unexplored warp points from their neighbours.
const std::set<std::string> kEmpire3 = {
    "Sol",     "Vega",     "Altair",   "Deneb",   "Rigel",  "Sirius",   "Procyon",
    "Capella", "Arcturus", "Aldebaran", "Spica",  "Pollux", "Castor",   "Regulus",
    "Mira",    "Polaris",  "Antares",  "Canopus", "Achernar", "Hadar", "Mimosa"};
const std::set<std::string> kEmpire7 = {
    "Antares",  "Canopus",  "Achernar", "Hadar",  "Mimosa",  "Bellatrix", "Alnilam",
    "Mintaka",  "Saiph",    "Algol",    "Menkar", "Hamal",   "Markab",    "Scheat",
    "Enif",     "Sadr",     "Albireo",  "Kochab", "Thuban",  "Shaula",    "Hidden Reach",
    "Fomalhaut"};

const std::vector<Lane> kLanes = {
    {"Sol", "Vega", 'A', true},          {"Sol", "Altair", 'B', true},
    {"Sol", "Sirius", 'E', true},        {"Vega", "Deneb", 'C', true},
    {"Altair", "Deneb", 'A', true},      {"Deneb", "Rigel", 'D', true},
    {"Altair", "Procyon", 'N', true},    {"Sirius", "Procyon", 'B', true},
    {"Procyon", "Capella", 'F', true},   {"Rigel", "Capella", 'A', true},
    {"Capella", "Arcturus", 'C', true},  {"Arcturus", "Aldebaran", 'O', true},
    {"Aldebaran", "Spica", 'B', true},   {"Spica", "Pollux", 'G', true},
    {"Pollux", "Castor", 'A', true},     {"Castor", "Regulus", 'D', true},
    {"Regulus", "Mira", 'H', true},      {"Mira", "Polaris", 'B', true},
    {"Polaris", "Antares", 'P', true},   {"Spica", "Antares", 'I', true},
    {"Antares", "Canopus", 'C', true},   {"Canopus", "Achernar", 'A', true},
    {"Achernar", "Hadar", 'J', true},    {"Hadar", "Mimosa", 'B', true},
    {"Mimosa", "Bellatrix", 'D', true},  {"Canopus", "Bellatrix", 'K', true},
    {"Bellatrix", "Alnilam", 'A', true}, {"Alnilam", "Mintaka", 'Q', true},
    {"Mintaka", "Saiph", 'B', true},     {"Saiph", "Algol", 'L', true},
    {"Algol", "Menkar", 'C', true},      {"Menkar", "Hamal", 'A', true},
    {"Hamal", "Markab", 'M', true},      {"Markab", "Scheat", 'B', true},
    {"Scheat", "Enif", 'E', true},       {"Enif", "Sadr", 'A', true},
    {"Sadr", "Albireo", 'D', true},      {"Albireo", "Kochab", 'B', true},
    {"Kochab", "Thuban", 'N', true},     {"Thuban", "Shaula", 'C', true},
    {"Shaula", "Fomalhaut", 'A', true},  {"Alnilam", "Algol", 'F', true},
    {"Hamal", "Sadr", 'G', true},        {"Mimosa", "Fomalhaut", 'O', true},
    // The frontier: systems nobody has surveyed.
    {"Rigel", "Betelgeuse", 'E', true},  {"Mira", "Alcor", 'B', true},
    {"Kochab", "Mizar", 'D', true},      {"Enif", "Shedir", 'C', true},
    // Hidden Reach is entered only through a warp point that empire 3 has not explored
    // yet; empire 7 knows the system from the inside.
    {"Regulus", "Hidden Reach", 'B', false},
    {"Hidden Reach", "Thuban", 'A', false},
};

void Fail(sqlite3* db, const char* what) {
  std::fprintf(stderr, "sample_galaxy: %s: %s\n", what, db ? sqlite3_errmsg(db) : "");
  std::exit(1);
}

void WriteEmpire(const std::string& path, int empire, const std::set<std::string>& known) {
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail(db, "open");
  const char* schema =
      "BEGIN;"
      "CREATE TABLE \"Warp Points\" (\"Index\" INTEGER, \"Empire\" INTEGER, \"System\" TEXT,"
      " \"Destination\" TEXT, \"WP\" INTEGER);";
  if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, "schema");
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT INTO \"Warp Points\" VALUES (?1, ?2, ?3, ?4, ?5)", -1,
                         &insert, nullptr) != SQLITE_OK)
    Fail(db, "prepare");
  int index = 1;
  auto row = [&](const std::string& system, const std::string& destination, int id) {
    sqlite3_reset(insert);
    sqlite3_bind_int(insert, 1, index++);
    sqlite3_bind_int(insert, 2, empire);
    sqlite3_bind_text(insert, 3, system.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, destination.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 5, id);
    if (sqlite3_step(insert) != SQLITE_DONE) Fail(db, "insert");
  };
  // An empire has a row for every warp point in a system it surveyed; where the far side
  // is not surveyed by it, the row says so with '?' and the first letter of that system.
  auto warpPoint = [&](const std::string& from, const std::string& to, char cls, int id) {
    if (!known.count(from)) return;
    const std::string destination =
        known.count(to) ? to + cls : std::string("?") + to.front() + cls;
    row(from, destination, id);
  };
  int id = 1001;
  for (const Lane& lane : kLanes) {
    warpPoint(lane.from, lane.to, lane.warpClass, id);
    if (lane.bothWays) warpPoint(lane.to, lane.from, lane.warpClass, id + 1);
    id += 2;
  }
  sqlite3_finalize(insert);
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, "commit");
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sample_galaxy OUTPUT_FOLDER\n");
    return 64;
  }
  const std::string folder = argv[1];
  WriteEmpire(folder + "/empire3.db", 3, kEmpire3);
  WriteEmpire(folder + "/empire7.db", 7, kEmpire7);
  return 0;
}
