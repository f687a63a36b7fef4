#include "starmap/LoadEmpireDatabase.h"

#include <fmt/format.h>

#include <set>

#include "starmap/EmpireDatabase.h"
#include "starmap/NameRules.h"

namespace lanewright {

LoadResult LoadEmpireDatabase(const FileChoice& choice, StarMap& starMap, OutputBox& output) {
  output.Clear();
  starMap.databaseFiles.clear();
  if (!choice.names.empty()) {
    output.Append(fmt::format("multiple dbfiles on path {}\r\n", choice.first));
    for (const auto& name : choice.names) starMap.databaseFiles.insert(choice.first + "/" + name);
  } else {
    output.Append(fmt::format("one file selected: {}\r\n", choice.first));
    starMap.databaseFiles.insert(choice.first);
  }
  return ReadEmpireFiles(starMap, output);
}

LoadResult ReadEmpireFiles(StarMap& starMap, OutputBox& output) {
  LoadResult result;
  std::set<std::string> systemNames;
  for (const auto& path : starMap.databaseFiles) {
    EmpireDatabase db;
    db.record.dbFile = path;
    output.Append(fmt::format("opening dbfile {}\r\n", path));
    const store::HResult hr = db.Open();
    if (hr != store::S_OK) {
      output.Append(fmt::format("failed with hr={}", hr));
      result.error = db.error();
      return result;
    }
    store::HResult next;
    while ((next = db.MoveNext()) == store::S_OK) {
      const WarpPoint& row = db.record;
      systemNames.insert(row.system);
      systemNames.insert(DestinationName(row.destination));
      starMap.empires.insert(row.empire);
      starMap.systemEmpire.emplace(row.system, row.empire);
    }
    if (next < 0) result.notes.push_back(db.error().reason + "; reading stopped there");
    if (db.SkippedRows() > 0) {
      output.Append(fmt::format("skipped {} unreadable rows in {}\r\n", db.SkippedRows(), path));
      result.notes.push_back(
          fmt::format("skipped {} unreadable rows in {}", db.SkippedRows(), path));
    }
    db.Release();
  }
  result.lists.visit.push_back("[none]");
  result.lists.to.push_back("XX");
  for (const auto& name : systemNames) {
    result.lists.from.push_back(name);
    result.lists.to.push_back(name);
    result.lists.visit.push_back(name);
    result.lists.avoid.push_back(name);
  }
  result.ok = true;
  return result;
}

}  // namespace lanewright
