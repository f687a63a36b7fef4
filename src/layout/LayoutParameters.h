#pragma once

#include <cstddef>

#include "layout/LayoutWire.h"
#include "layout/MapLayout.h"

namespace lanewright::layout {

// Bump whenever a change here changes where nodes go: cached layouts made under another
// version are then laid out again instead of being shown.
inline constexpr int kLayoutVersion = 1;

// From this many nodes on, sfdp places them: neato's stress layout grows with the square
// of the node count and takes seconds where sfdp takes a fraction of one.
inline constexpr std::size_t kSfdpFromNodes = 400;

// The request for laying out graph. Precondition: every edge refers to a node of graph.
LayoutRequest MakeLayoutRequest(const MapGraph& graph);

}  // namespace lanewright::layout
