#pragma once

#include <string>
#include <vector>

#include "starmap/EmpireRows.h"
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
  SystemLists lists;               // filled only when every file was read
  store::StoreError error;         // the failure that stopped the load, in words
  std::vector<std::string> notes;  // further things worth telling the user (skipped rows)
};

// The load after a confirmed file choice: empties the output box, writes the choice's
// header line, replaces starMap.databaseFiles and reads every file through rows.
LoadResult LoadEmpireDatabase(const FileChoice& choice, StarMap& starMap, EmpireRowSource& rows,
                              OutputBox& output);

// The load of files named on a command line: one distinct path is loaded as a dialog's
// single choice ("one file selected: ..."); several are read as one set without a header
// line, as they may lie in different folders.
LoadResult LoadNamedFiles(const std::vector<std::string>& paths, StarMap& starMap,
                          EmpireRowSource& rows, OutputBox& output);

// The reading part of the load, over starMap.databaseFiles as they are: one
// "opening dbfile" line per file, rows into the star map, and the lists at the end. A file
// that cannot be read (or turns out damaged part-way) stops the load: the lists stay empty,
// what earlier files added to the star map stays.
LoadResult ReadEmpireFiles(StarMap& starMap, EmpireRowSource& rows, OutputBox& output);

}  // namespace lanewright
