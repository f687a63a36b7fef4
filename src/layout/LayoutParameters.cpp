#include "layout/LayoutParameters.h"

#include <algorithm>
#include <cassert>

namespace lanewright::layout {
namespace {

// A system's box is roughly the size of its name in the map's label font (about 10 pt, so
// 6 pt per character, plus a margin), so that overlap removal keeps labels apart.
// Stubs are drawn as small marks and get a small box.
constexpr double kPointsPerChar = 6;
constexpr double kLabelMargin = 8;
constexpr double kLabelHeight = 14;
constexpr double kStubSize = 8;
constexpr double kPointsPerInch = 72;

std::size_t CharacterCount(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

Point NodeBox(const MapNode& node) {
  if (node.kind == NodeKind::Stub) return {kStubSize, kStubSize};
  return {kPointsPerChar * static_cast<double>(CharacterCount(node.name)) + kLabelMargin,
          kLabelHeight};
}

LayoutRequest MakeLayoutRequest(const MapGraph& graph) {
  LayoutRequest request;
  const bool large = graph.nodes.size() >= kSfdpFromNodes;
  request.engine = large ? "sfdp" : "neato";
  request.graphAttributes = {
      // A fixed seed: the same galaxy always gets the same map.
      {"start", "1"},
      // Removes overlaps by moving nodes only as far as needed, keeping the shape.
      {"overlap", graph.nodes.size() > kFullOverlapRemovalUpTo ? "prism20" : "prism"},
      // Room around each box, in points, so that neighbouring labels do not touch.
      {"sep", "+4"},
      // The map draws straight edges itself; GraphViz need not route them.
      {"splines", "false"},
  };
  request.nodeSizes.reserve(graph.nodes.size());
  for (const MapNode& node : graph.nodes) {
    const Point box = NodeBox(node);
    request.nodeSizes.push_back({box.x / kPointsPerInch, box.y / kPointsPerInch});
  }

  // Where nodes go depends only on which pairs are joined: one undirected link per pair.
  request.links.reserve(graph.edges.size());
  for (const MapEdge& edge : graph.edges) {
    assert(edge.from < graph.nodes.size() && edge.to < graph.nodes.size());
    if (edge.from != edge.to)
      request.links.emplace_back(std::min(edge.from, edge.to), std::max(edge.from, edge.to));
  }
  std::sort(request.links.begin(), request.links.end());
  request.links.erase(std::unique(request.links.begin(), request.links.end()), request.links.end());
  return request;
}

}  // namespace lanewright::layout
