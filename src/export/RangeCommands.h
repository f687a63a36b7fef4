#pragma once

#include <optional>
#include <set>
#include <string>

#include "starmap/EmpireRows.h"
#include "starmap/OutputBox.h"
#include "starmap/StarMap.h"
#include "store/ResultCodes.h"

namespace lanewright {

// "Find Systems in Range": without a start the output box says "Please select starting
// point in first list." (avoidSystems unchanged); otherwise avoidSystems becomes
// avoidSelection and the systems within jumps (0..999) of the start are listed (N = 1: the
// warp points leaving it). The error is set when an empire file could not be read.
store::StoreError FindSystemsInRange(StarMap& starMap, EmpireRowSource& rows,
                                     const std::optional<std::string>& startSystem,
                                     const std::set<std::string>& avoidSelection, int jumps,
                                     bool allSystems, OutputBox& output);

struct ExportResult {
  store::StoreError error;  // the empire file or the target file that failed, in words
  bool written = false;
};

// "Export to GraphViz" after the save dialog chose targetPath: avoidSystems becomes
// avoidSelection; without a start the output box says "Please select starting point in
// first list."; otherwise the map is written to targetPath (replacing it, never leaving a
// half-written file; a FIFO or a device is written into) and the output box tells how to
// draw it. With a descriptor (>= 0), the map goes there instead (the command line's
// standard output), and targetPath is only the name the output box gives it.
ExportResult ExportGraphViz(StarMap& starMap, EmpireRowSource& rows,
                            const std::optional<std::string>& startSystem,
                            const std::set<std::string>& avoidSelection, bool yellowCircles,
                            const std::string& targetPath, OutputBox& output, int descriptor = -1);

}  // namespace lanewright
