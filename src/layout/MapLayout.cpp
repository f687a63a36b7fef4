#include "layout/MapLayout.h"

#include <algorithm>

namespace lanewright::layout {

Bounds BoundsOf(const std::vector<Point>& positions) {
  if (positions.empty()) return {};
  Bounds b{positions[0].x, positions[0].y, positions[0].x, positions[0].y};
  for (const Point& p : positions) {
    b.left = std::min(b.left, p.x);
    b.right = std::max(b.right, p.x);
    b.top = std::min(b.top, p.y);
    b.bottom = std::max(b.bottom, p.y);
  }
  return b;
}

MapGraph MapGraphOf(const WarpNetwork& network) {
  MapGraph graph;
  graph.nodes.resize(network.SystemCount());
  // A stub is reached only through unexplored warp points and left by none.
  std::vector<bool> reached(network.SystemCount()), reachedExplored(network.SystemCount());
  graph.edges.reserve(network.Links().size());
  for (const WarpLink& link : network.Links()) {
    graph.edges.push_back({link.system, link.destination});
    reached[link.destination] = true;
    if (!link.unexplored) reachedExplored[link.destination] = true;
  }
  // The name of an unexplored warp point whose identifier an explored one took is still a
  // name of the network (the lists offer it), but no link leads to it: a stub on its own.
  std::vector<bool> shadowed(network.SystemCount());
  for (const WarpLink& link : network.Shadowed())
    if (link.unexplored) shadowed[link.destination] = true;
  for (std::uint32_t id = 0; id < network.SystemCount(); ++id) {
    graph.nodes[id].name = std::string(network.Name(id));
    const bool stub =
        (reached[id] || shadowed[id]) && !reachedExplored[id] && !network.HasLinks(id);
    graph.nodes[id].kind = stub ? NodeKind::Stub : NodeKind::System;
  }
  return graph;
}

}  // namespace lanewright::layout
