#pragma once

#include <cstddef>

#include "layout/LayoutWire.h"
#include "layout/MapLayout.h"

namespace lanewright::layout {

// Cached layouts are trusted only for the same request (its hash is kept with them), so a
// change of engine, attributes or boxes is noticed by itself. Bump this when where nodes go
// changes in a way the request does not show (how the child builds the graph, the
// coordinates it returns): cached layouts of another version are then laid out again.
inline constexpr int kLayoutVersion = 1;

// From this many nodes on, sfdp places them. neato draws small maps a little more evenly,
// but its stress layout grows with the square of the node count: measured here, it takes
// twice sfdp's time at 500 nodes and four times at 1,000 (before overlap removal, which
// costs both the same).
inline constexpr std::size_t kSfdpFromNodes = 500;

// Past this many nodes overlap removal stops after a fixed number of passes: full removal
// takes about five minutes for 25,000 nodes here, twenty passes forty seconds, and what is
// left overlapping is a few points between labels that a map of that size shows only when
// zoomed in close.
inline constexpr std::size_t kFullOverlapRemovalUpTo = 10000;

// The room the layout keeps for a node, in points (x: width, y: height): a system's box fits
// its name in the map's label font, a stub is a small mark. The map draws within it.
Point NodeBox(const MapNode& node);

// The request for laying out graph. Precondition: every edge refers to a node of graph.
LayoutRequest MakeLayoutRequest(const MapGraph& graph);

}  // namespace lanewright::layout
