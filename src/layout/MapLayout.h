#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "starmap/WarpNetwork.h"

namespace lanewright::layout {

// The warp network as the map draws it: systems, plus one small stub per unexplored warp
// point (named by its X-name), joined by one directed edge per warp point. Several edges
// between the same two nodes, and loops, are allowed; the layout only cares whether two
// nodes are joined at all.
enum class NodeKind : std::uint8_t { System = 0, Stub = 1 };

struct MapNode {
  std::string name;
  NodeKind kind = NodeKind::System;
};

struct MapEdge {
  std::uint32_t from = 0;  // node indices
  std::uint32_t to = 0;
};

struct MapGraph {
  std::vector<MapNode> nodes;
  std::vector<MapEdge> edges;
};

// The map of a network: a node per system, in the network's numbering, an edge per warp
// point (edge i is link i). The names of unexplored warp points, which no explored warp
// point enters and none leaves, are stubs.
MapGraph MapGraphOf(const WarpNetwork& network);

struct Point {
  double x = 0;
  double y = 0;
};

// Scene coordinates in points, y growing downwards as on screen.
struct Bounds {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

// Where every node of a MapGraph goes: positions[i] is the centre of nodes[i].
struct MapLayout {
  std::vector<Point> positions;
  Bounds bounds;       // of the node centres; the map adds room for its labels
  std::string engine;  // the GraphViz layout engine that placed the nodes
  bool fromCache = false;
  // Largest resident size of the layout process in KiB, 0 when read from the cache.
  std::uint64_t peakMemoryKiB = 0;
};

// The box around the given positions (all zero for none).
Bounds BoundsOf(const std::vector<Point>& positions);

}  // namespace lanewright::layout
