#include "starmap/LoadEmpireDatabase.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>
#include <string_view>

#include "starmap/NameRules.h"

namespace lanewright {

LoadResult LoadEmpireDatabase(const FileChoice& choice, StarMap& starMap, EmpireRowSource& rows,
                              OutputBox& output) {
  output.Clear();
  starMap.databaseFiles.clear();
  if (!choice.names.empty()) {
    output.Append(fmt::format("multiple dbfiles on path {}\r\n", choice.first));
    for (const auto& name : choice.names) starMap.databaseFiles.insert(choice.first + "/" + name);
  } else {
    output.Append(fmt::format("one file selected: {}\r\n", choice.first));
    starMap.databaseFiles.insert(choice.first);
  }
  return ReadEmpireFiles(starMap, rows, output);
}

LoadResult LoadNamedFiles(const std::vector<std::string>& paths, StarMap& starMap,
                          EmpireRowSource& rows, OutputBox& output) {
  const std::set<std::string> distinct(paths.begin(), paths.end());
  if (distinct.size() == 1)
    return LoadEmpireDatabase(FileChoice{*distinct.begin(), {}}, starMap, rows, output);
  output.Clear();
  starMap.databaseFiles = distinct;
  return ReadEmpireFiles(starMap, rows, output);
}

LoadResult ReadEmpireFiles(StarMap& starMap, EmpireRowSource& rows, OutputBox& output) {
  LoadResult result;
  // Views into the files' own name pools (kept alive below) and the X-names made here.
  std::vector<std::shared_ptr<const EmpireRows>> files;
  std::vector<std::string_view> names;
  std::vector<std::string> xNames;
  for (const auto& path : starMap.databaseFiles) {
    output.Append(fmt::format("opening dbfile {}\r\n", path));
    std::shared_ptr<const EmpireRows> file = rows.Rows(path, result.error);
    if (!file) {
      output.Append(fmt::format("failed with hr={}", result.error.code));
      return result;
    }
    // Each name of the file once, whether it came as a system or as a destination.
    std::vector<bool> asSystem(file->Names().size()), asDestination(file->Names().size());
    bool emptyName = false;
    for (const WarpPoint& row : file->Rows()) {
      asSystem[row.system] = true;
      if (row.hasDestination) {
        asDestination[row.destination] = true;
      } else {
        emptyName = true;
      }
    }
    for (NameId id = 0; id < asSystem.size(); ++id) {
      const std::string_view name = file->Name(id);
      if (asSystem[id]) names.push_back(name);
      if (!asDestination[id]) continue;
      if (IsUnexplored(name)) {
        xNames.push_back(XName(name));
      } else if (!asSystem[id]) {
        names.push_back(name);
      }
    }
    if (emptyName) names.push_back({});
    for (const std::int32_t empire : file->Empires()) starMap.empires.insert(empire);
    for (const auto& [system, empire] : file->SystemEmpires())
      starMap.systemEmpire.Insert(file->Name(system), empire);
    if (file->SkippedRows() > 0) {
      output.Append(fmt::format("skipped {} unreadable rows in {}\r\n", file->SkippedRows(), path));
      result.notes.push_back(
          fmt::format("skipped {} unreadable rows in {}", file->SkippedRows(), path));
    }
    files.push_back(std::move(file));
  }
  names.insert(names.end(), xNames.begin(), xNames.end());
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  result.lists.names.assign(names.begin(), names.end());
  result.ok = true;
  return result;
}

}  // namespace lanewright
