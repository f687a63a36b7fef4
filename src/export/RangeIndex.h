#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "route/WarpLink.h"
#include "starmap/OutputBox.h"
#include "store/ResultCodes.h"

namespace lanewright {

// The warp points of the loaded files as the range listing and the map export see them:
// one link per identifier, and the links leaving each system.
//
// bySystem points into links, so an index is moved, never copied.
struct RangeIndex {
  RangeIndex() = default;
  RangeIndex(RangeIndex&&) = default;
  RangeIndex& operator=(RangeIndex&&) = default;
  RangeIndex(const RangeIndex&) = delete;
  RangeIndex& operator=(const RangeIndex&) = delete;

  std::map<std::int32_t, WarpLink> links;
  // Unexplored warp points whose identifier an explored one took. They give no link, but
  // the map export still draws their names.
  std::vector<WarpLink> shadowed;
  // Among equal systems the links keep ascending identifier order.
  std::multimap<std::string_view, const WarpLink*> bySystem;
};

// Reads every file of databaseFiles (in the set's order) and indexes its warp points,
// leaving out those that lie in or lead to a name of avoidSystems (compared with the
// destination as stored, so "?..." never matches an X-name) and rows without a
// destination. On an open failure the output box text becomes "failed with hr=%d" and
// the error says which file and why; index is then incomplete and must not be used.
store::StoreError BuildRangeIndex(const std::set<std::string>& databaseFiles,
                                  const std::set<std::string>& avoidSystems, RangeIndex& index,
                                  OutputBox& output);

// The name the range listing gives an unexplored warp point: the character after the
// '?' followed by the identifier ("?CC", 417 gives "C417").
std::string UnexploredName(std::string_view rawDestination, std::int32_t warpPointId);

}  // namespace lanewright
