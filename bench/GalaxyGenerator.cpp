#include "GalaxyGenerator.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>

namespace lanewright::bench {
namespace {

struct Row {
  std::int32_t empire;
  std::string system;
  std::string destination;
  std::int32_t warpPointId;
};

struct DbClose {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalize {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

void Exec(sqlite3* db, const char* sql, const std::string& path) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error(fmt::format("{}: {}", path, sqlite3_errmsg(db)));
}

void WriteEmpireFile(const std::string& path, const std::vector<Row>& rows) {
  std::remove(path.c_str());
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, DbClose> db(raw);
  if (rc != SQLITE_OK) throw std::runtime_error(fmt::format("{}: cannot create", path));
  Exec(db.get(), "PRAGMA journal_mode=OFF", path);
  Exec(db.get(), "BEGIN", path);
  Exec(db.get(),
       "CREATE TABLE \"Warp Points\" (\"Index\" INTEGER, \"Empire\" INTEGER, \"System\" TEXT, "
       "\"Destination\" TEXT, \"WP\" INTEGER)",
       path);
  sqlite3_stmt* rawStmt = nullptr;
  if (sqlite3_prepare_v2(db.get(), "INSERT INTO \"Warp Points\" VALUES (?, ?, ?, ?, ?)", -1,
                         &rawStmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(fmt::format("{}: {}", path, sqlite3_errmsg(db.get())));
  std::unique_ptr<sqlite3_stmt, StmtFinalize> stmt(rawStmt);
  int index = 0;
  for (const Row& row : rows) {
    sqlite3_reset(stmt.get());
    sqlite3_bind_int(stmt.get(), 1, ++index);
    sqlite3_bind_int(stmt.get(), 2, row.empire);
    sqlite3_bind_text(stmt.get(), 3, row.system.data(), static_cast<int>(row.system.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(stmt.get(), 4, row.destination.data(),
                      static_cast<int>(row.destination.size()), SQLITE_STATIC);
    sqlite3_bind_int(stmt.get(), 5, row.warpPointId);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE)
      throw std::runtime_error(fmt::format("{}: {}", path, sqlite3_errmsg(db.get())));
  }
  Exec(db.get(), "COMMIT", path);
}

}  // namespace

std::string GalaxySystemName(int x, int y) { return fmt::format("Star {:03}-{:03}", x, y); }

Galaxy WriteGalaxy(const std::string& folder, const GalaxyOptions& options) {
  // About two links per system (right, down, sometimes diagonal), each two warp points.
  const int side = std::max(2, static_cast<int>(std::lround(std::sqrt(options.warpPoints / 4.4))));
  const int empires = std::max(1, options.empires);
  std::mt19937 rng(options.seed);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  // Low classes are common, high ones rare.
  std::discrete_distribution<int> classOf({9, 9, 8, 8, 7, 6, 5, 4, 3, 3, 2, 2, 1, 2, 1, 1, 1});

  std::vector<std::vector<Row>> files(empires);
  auto empireOf = [&](int x) { return std::min(empires - 1, x * empires / side); };
  std::int32_t nextId = 1;
  int rows = 0;
  auto addRow = [&](int x, int y, int toX, int toY, char warpClass, std::int32_t id) {
    const int owner = empireOf(x);
    std::string destination =
        chance(rng) < options.unexploredShare ? fmt::format("?{}", id) : GalaxySystemName(toX, toY);
    destination += warpClass;
    Row row{owner + 1, GalaxySystemName(x, y), std::move(destination), id};
    if (empires > 1 && chance(rng) < options.sharedShare) {
      const int other = (owner + 1) % empires;
      files[other].push_back(Row{other + 1, row.system, row.destination, id});
      ++rows;
    }
    files[owner].push_back(std::move(row));
    ++rows;
  };
  auto link = [&](int x, int y, int toX, int toY) {
    const char warpClass = static_cast<char>('A' + classOf(rng));
    addRow(x, y, toX, toY, warpClass, nextId++);
    addRow(toX, toY, x, y, warpClass, nextId++);
  };
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      if (x + 1 < side && chance(rng) < 0.9) link(x, y, x + 1, y);
      if (y + 1 < side && chance(rng) < 0.9) link(x, y, x, y + 1);
      if (x + 1 < side && y + 1 < side && chance(rng) < 0.4) link(x, y, x + 1, y + 1);
    }
  }

  Galaxy galaxy;
  galaxy.side = side;
  galaxy.rows = rows;
  galaxy.corner = GalaxySystemName(0, 0);
  galaxy.farCorner = GalaxySystemName(side - 1, side - 1);
  for (int e = 0; e < empires; ++e) {
    galaxy.files.push_back(fmt::format("{}/empire{:02}.db", folder, e + 1));
    WriteEmpireFile(galaxy.files.back(), files[e]);
  }
  return galaxy;
}

const Galaxy& GalaxyOfSize(int warpPoints, const std::string& tag) {
  static std::map<std::pair<int, std::string>, Galaxy> galaxies;
  auto it = galaxies.find({warpPoints, tag});
  if (it == galaxies.end()) {
    const auto folder =
        std::filesystem::temp_directory_path() / fmt::format("lanewright-{}-{}", tag, warpPoints);
    std::filesystem::create_directories(folder);
    GalaxyOptions options;
    options.warpPoints = warpPoints;
    it = galaxies.emplace(std::pair{warpPoints, tag}, WriteGalaxy(folder.string(), options)).first;
  }
  return it->second;
}

std::vector<std::string> GalaxyFiles(const std::string& what, const std::string& scratch) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  if (fs::is_directory(what)) {
    for (const auto& entry : fs::directory_iterator(what))
      if (entry.path().extension() == ".db") files.push_back(fs::absolute(entry.path()).string());
    std::sort(files.begin(), files.end());
    return files;
  }
  GalaxyOptions options;
  options.warpPoints = std::stoi(what);
  const fs::path folder = fs::path(scratch) / ("galaxy-" + what);
  fs::create_directories(folder);
  return WriteGalaxy(folder.string(), options).files;
}

}  // namespace lanewright::bench
