#pragma once

#include <set>
#include <string>

#include "starmap/EmpireRows.h"
#include "starmap/OutputBox.h"
#include "starmap/WarpNetwork.h"
#include "store/ResultCodes.h"

namespace lanewright {

// The warp points of the loaded files as the range listing and the map export see them (see
// NetworkRules::Use::Range): one link per identifier, the links leaving each system, and the
// unexplored warp points an explored one of the same identifier shadowed.
using RangeIndex = WarpNetwork;

// Builds the index over every file of databaseFiles (in the set's order), leaving out the
// warp points that lie in or lead to a name of avoidSystems. When a file cannot be read the
// output box text becomes "failed with hr=%d" and the error says which file and why.
store::StoreError BuildRangeIndex(const std::set<std::string>& databaseFiles,
                                  const std::set<std::string>& avoidSystems, EmpireRowSource& rows,
                                  RangeIndex& index, OutputBox& output);

}  // namespace lanewright
