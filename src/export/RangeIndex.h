#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
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
  // The links leaving each system, in ascending identifier order. Hashed: the searches
  // only look names up, and the listings sort what they print.
  std::unordered_map<std::string_view, std::vector<const WarpLink*>> bySystem;

  // The links leaving system (none for a name that is no system).
  const std::vector<const WarpLink*>& LinksFrom(std::string_view system) const;
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
