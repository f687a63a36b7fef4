// Writes the bundled sample galaxy: the "Warp Points" tables of two empires (3 and 7)
// that know overlapping parts of one small warp point network, as Jet4 .mdb files (the
// players' format) and as SQLite copies. Run it again after
// changing the network; the output is the same on every run.
//
//   sample_galaxy OUTPUT_FOLDER

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "store/JetWriter.h"

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
    "Sol",     "Vega",     "Altair",    "Deneb",   "Rigel",    "Sirius", "Procyon",
    "Capella", "Arcturus", "Aldebaran", "Spica",   "Pollux",   "Castor", "Regulus",
    "Mira",    "Polaris",  "Antares",   "Canopus", "Achernar", "Hadar",  "Mimosa"};
const std::set<std::string> kEmpire7 = {
    "Antares", "Canopus", "Achernar", "Hadar",  "Mimosa",       "Bellatrix", "Alnilam", "Mintaka",
    "Saiph",   "Algol",   "Menkar",   "Hamal",  "Markab",       "Scheat",    "Enif",    "Sadr",
    "Albireo", "Kochab",  "Thuban",   "Shaula", "Hidden Reach", "Fomalhaut"};

const std::vector<Lane> kLanes = {
    {"Sol", "Vega", 'A', true},
    {"Sol", "Altair", 'B', true},
    {"Sol", "Sirius", 'E', true},
    {"Vega", "Deneb", 'C', true},
    {"Altair", "Deneb", 'A', true},
    {"Deneb", "Rigel", 'D', true},
    {"Altair", "Procyon", 'N', true},
    {"Sirius", "Procyon", 'B', true},
    {"Procyon", "Capella", 'F', true},
    {"Rigel", "Capella", 'A', true},
    {"Capella", "Arcturus", 'C', true},
    {"Arcturus", "Aldebaran", 'O', true},
    {"Aldebaran", "Spica", 'B', true},
    {"Spica", "Pollux", 'G', true},
    {"Pollux", "Castor", 'A', true},
    {"Castor", "Regulus", 'D', true},
    {"Regulus", "Mira", 'H', true},
    {"Mira", "Polaris", 'B', true},
    {"Polaris", "Antares", 'P', true},
    {"Spica", "Antares", 'I', true},
    {"Antares", "Canopus", 'C', true},
    {"Canopus", "Achernar", 'A', true},
    {"Achernar", "Hadar", 'J', true},
    {"Hadar", "Mimosa", 'B', true},
    {"Mimosa", "Bellatrix", 'D', true},
    {"Canopus", "Bellatrix", 'K', true},
    {"Bellatrix", "Alnilam", 'A', true},
    {"Alnilam", "Mintaka", 'Q', true},
    {"Mintaka", "Saiph", 'B', true},
    {"Saiph", "Algol", 'L', true},
    {"Algol", "Menkar", 'C', true},
    {"Menkar", "Hamal", 'A', true},
    {"Hamal", "Markab", 'M', true},
    {"Markab", "Scheat", 'B', true},
    {"Scheat", "Enif", 'E', true},
    {"Enif", "Sadr", 'A', true},
    {"Sadr", "Albireo", 'D', true},
    {"Albireo", "Kochab", 'B', true},
    {"Kochab", "Thuban", 'N', true},
    {"Thuban", "Shaula", 'C', true},
    {"Shaula", "Fomalhaut", 'A', true},
    {"Alnilam", "Algol", 'F', true},
    {"Hamal", "Sadr", 'G', true},
    {"Mimosa", "Fomalhaut", 'O', true},
    // The frontier: systems nobody has surveyed.
    {"Rigel", "Betelgeuse", 'E', true},
    {"Mira", "Alcor", 'B', true},
    {"Kochab", "Mizar", 'D', true},
    {"Enif", "Shedir", 'C', true},
    // Hidden Reach is entered only through a warp point that empire 3 has not explored
    // yet; empire 7 knows the system from the inside.
    {"Regulus", "Hidden Reach", 'B', false},
    {"Hidden Reach", "Thuban", 'A', false},
};

void Fail(const std::string& what) {
  std::fprintf(stderr, "sample_galaxy: %s\n", what.c_str());
  std::exit(1);
}

// The rows of one empire's "Warp Points" table: an empire has a row for every warp point
// in a system it surveyed; where the far side is not surveyed by it, the row says so with
// '?' and the first letter of that system.
std::vector<lanewright::store::Row> EmpireRows(int empire, const std::set<std::string>& known) {
  std::vector<lanewright::store::Row> rows;
  auto warpPoint = [&](const std::string& from, const std::string& to, char cls, int id) {
    if (!known.count(from)) return;
    const std::string destination =
        known.count(to) ? to + cls : std::string("?") + to.front() + cls;
    rows.push_back(
        {std::int64_t(rows.size() + 1), std::int64_t{empire}, from, destination, std::int64_t{id}});
  };
  int id = 1001;
  for (const Lane& lane : kLanes) {
    warpPoint(lane.from, lane.to, lane.warpClass, id);
    if (lane.bothWays) warpPoint(lane.to, lane.from, lane.warpClass, id + 1);
    id += 2;
  }
  return rows;
}

void WriteSqlite(const std::string& path, const std::vector<lanewright::store::Row>& rows) {
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  auto check = [&](int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE) Fail(path + ": " + what + ": " + sqlite3_errmsg(db));
  };
  check(sqlite3_open(path.c_str(), &db), "open");
  check(sqlite3_exec(db,
                     "BEGIN;"
                     "CREATE TABLE \"Warp Points\" (\"Index\" INTEGER, \"Empire\" INTEGER,"
                     " \"System\" TEXT, \"Destination\" TEXT, \"WP\" INTEGER);",
                     nullptr, nullptr, nullptr),
        "schema");
  sqlite3_stmt* insert = nullptr;
  check(sqlite3_prepare_v2(db, "INSERT INTO \"Warp Points\" VALUES (?1, ?2, ?3, ?4, ?5)", -1,
                           &insert, nullptr),
        "prepare");
  for (const auto& row : rows) {
    sqlite3_reset(insert);
    for (int i = 0; i < 5; ++i) {
      if (const auto* n = std::get_if<std::int64_t>(&row[i])) {
        sqlite3_bind_int64(insert, i + 1, *n);
      } else {
        const auto& text = std::get<std::string>(row[i]);
        sqlite3_bind_text(insert, i + 1, text.c_str(), -1, SQLITE_TRANSIENT);
      }
    }
    check(sqlite3_step(insert), "insert");
  }
  sqlite3_finalize(insert);
  check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  sqlite3_close(db);
}

void WriteJet(const std::string& path, const std::vector<lanewright::store::Row>& rows) {
  using namespace lanewright::store;
  std::remove(path.c_str());
  const JetTableSpec table{"Warp Points",
                           {{"Index", JetColumnType::LongInteger},
                            {"Empire", JetColumnType::LongInteger},
                            {"System", JetColumnType::Text, 50},
                            {"Destination", JetColumnType::Text, 50},
                            {"WP", JetColumnType::LongInteger}},
                           rows};
  const StoreError err = CreateJetDatabase(path, JetVersion::Jet4, {table});
  if (err.Failed()) Fail(err.reason);
}

void WriteEmpire(const std::string& folder, int empire, const std::set<std::string>& known) {
  const auto rows = EmpireRows(empire, known);
  const std::string base = folder + "/empire" + std::to_string(empire);
  WriteJet(base + ".mdb", rows);
  WriteSqlite(base + ".db", rows);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sample_galaxy OUTPUT_FOLDER\n");
    return 64;
  }
  const std::string folder = argv[1];
  WriteEmpire(folder, 3, kEmpire3);
  WriteEmpire(folder, 7, kEmpire7);
  return 0;
}
