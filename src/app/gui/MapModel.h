#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "layout/MapLayout.h"
#include "starmap/WarpNetwork.h"

namespace lanewright::gui {

// A laid-out warp network as the map draws it: where each node goes, its box, and a grid
// over the map so that drawing and hit tests look only at what lies in the region asked
// about. Node i is the network's system i (MapGraphOf keeps the numbering), edge i its
// link i. Immutable once built.
class MapModel {
 public:
  using NodeId = std::uint32_t;

  struct Edge {
    NodeId from = 0;
    NodeId to = 0;
    char warpClass = '\0';
    bool unexplored = false;
  };

  // Precondition: graph is MapGraphOf(*network) and layout has a position per node.
  MapModel(std::shared_ptr<const WarpNetwork> network, const layout::MapGraph& graph,
           const layout::MapLayout& layout);

  std::size_t NodeCount() const { return positions_.size(); }
  QPointF Position(NodeId node) const { return positions_[node]; }
  // The box the layout kept free for the node, centred on its position.
  QRectF Box(NodeId node) const;
  bool IsStub(NodeId node) const { return stub_[node]; }
  const QString& Label(NodeId node) const { return labels_[node]; }
  std::string_view Name(NodeId node) const { return network_->Name(node); }
  std::optional<NodeId> Find(std::string_view name) const;

  std::span<const Edge> Edges() const { return edges_; }
  // The edges that leave or enter node.
  std::span<const std::uint32_t> EdgesAt(NodeId node) const;

  // Node centres, with room for the widest box and the marks drawn around nodes.
  QRectF Bounds() const { return bounds_; }

  // The nodes whose box meets rect, and the edges whose bounding box meets it, each once.
  void NodesIn(const QRectF& rect, std::vector<NodeId>& out) const;
  void EdgesIn(const QRectF& rect, std::vector<std::uint32_t>& out) const;

  // The node under point: whose box holds it, or failing that the nearest centre within
  // radius; a system wins over a stub.
  std::optional<NodeId> NodeAt(QPointF point, double radius) const;

 private:
  struct CellRange {
    int left, top, right, bottom;
  };
  CellRange CellsOf(const QRectF& rect) const;
  void BuildGrid();

  std::shared_ptr<const WarpNetwork> network_;
  std::vector<QPointF> positions_;
  std::vector<QPointF> boxSizes_;
  std::vector<bool> stub_;
  std::vector<QString> labels_;
  std::vector<Edge> edges_;
  std::vector<std::uint32_t> edgesAtStart_, edgesAt_;
  QRectF centres_;
  QRectF bounds_;
  double widestBox_ = 0;

  // A uniform grid; each cell lists the nodes centred in it and the edges whose bounding box
  // meets it. Edges spanning very many cells are kept apart and always looked at.
  double cellSize_ = 1;
  int columns_ = 1, rows_ = 1;
  std::vector<std::uint32_t> nodeCellStart_, nodeCells_;
  std::vector<std::uint32_t> edgeCellStart_, edgeCells_;
  std::vector<std::uint32_t> longEdges_;
  // Marks edges already reported by one EdgesIn call (the grid lists an edge in every cell
  // it meets).
  mutable std::vector<std::uint32_t> edgeSeen_;
  mutable std::uint32_t query_ = 0;
};

}  // namespace lanewright::gui
