#pragma once

#include <string>
#include <vector>

#include "starmap/OutputBox.h"
#include "starmap/StarMap.h"
#include "store/ResultCodes.h"

namespace lanewright {

// What the file dialog delivered: one full path (names empty), or a folder and the names
// chosen in it.
struct FileChoice {
  std::string first;
  std::vector<std::string> names;
};

struct LoadResult {
  bool ok = false;
  SystemLists lists;               // filled only when every file opened
  store::StoreError error;         // the failure that stopped the load, in words
  std::vector<std::string> notes;  // further things worth telling the user (skipped rows, damage)
};

// The load after a confirmed file choice: empties the output box, writes the choice's
// header line, replaces starMap.databaseFiles and reads every file.
LoadResult LoadEmpireDatabase(const FileChoice& choice, StarMap& starMap, OutputBox& output);

// The reading part of the load, over starMap.databaseFiles as they are: one
// "opening dbfile" line per file, rows into the star map, and the lists at the end.
LoadResult ReadEmpireFiles(StarMap& starMap, OutputBox& output);

}  // namespace lanewright
