#include "app/gui/MapModel.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "layout/LayoutParameters.h"

namespace lanewright::gui {
namespace {

// About this many nodes share a cell on average: fewer cells cost more per query, more
// cells cost memory and more cells per edge.
constexpr double kNodesPerCell = 4;
constexpr int kMaxCellsPerSide = 1024;
// An edge whose bounding box meets more cells than this is looked at by every query.
constexpr std::size_t kLongEdgeCells = 256;
// Room around the map for the marks drawn around nodes.
constexpr double kMargin = 24;

}  // namespace

MapModel::MapModel(std::shared_ptr<const WarpNetwork> network, const layout::MapGraph& graph,
                   const layout::MapLayout& layout)
    : network_(std::move(network)) {
  assert(layout.positions.size() == graph.nodes.size());
  assert(network_->SystemCount() == graph.nodes.size());
  const std::size_t n = graph.nodes.size();
  positions_.reserve(n);
  boxSizes_.reserve(n);
  labels_.reserve(n);
  stub_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const layout::MapNode& node = graph.nodes[i];
    positions_.emplace_back(layout.positions[i].x, layout.positions[i].y);
    const layout::Point box = layout::NodeBox(node);
    boxSizes_.emplace_back(box.x, box.y);
    widestBox_ = std::max(widestBox_, std::max(box.x, box.y));
    stub_[i] = node.kind == layout::NodeKind::Stub;
    labels_.push_back(
        QString::fromUtf8(node.name.data(), static_cast<qsizetype>(node.name.size())));
  }

  const auto links = network_->Links();
  assert(links.size() == graph.edges.size());
  edges_.reserve(links.size());
  for (const WarpLink& link : links)
    edges_.push_back({link.system, link.destination, link.warpClass, link.unexplored});

  // Edges per node, both ends, in one flat array.
  edgesAtStart_.assign(n + 1, 0);
  for (const Edge& e : edges_) {
    ++edgesAtStart_[e.from + 1];
    if (e.to != e.from) ++edgesAtStart_[e.to + 1];
  }
  for (std::size_t i = 0; i < n; ++i) edgesAtStart_[i + 1] += edgesAtStart_[i];
  edgesAt_.resize(edgesAtStart_[n]);
  std::vector<std::uint32_t> fill(edgesAtStart_.begin(), edgesAtStart_.end() - 1);
  for (std::uint32_t i = 0; i < edges_.size(); ++i) {
    edgesAt_[fill[edges_[i].from]++] = i;
    if (edges_[i].to != edges_[i].from) edgesAt_[fill[edges_[i].to]++] = i;
  }

  const layout::Bounds& b = layout.bounds;
  centres_ = n == 0 ? QRectF() : QRectF(QPointF(b.left, b.top), QPointF(b.right, b.bottom));
  bounds_ = centres_.adjusted(-widestBox_ / 2 - kMargin, -widestBox_ / 2 - kMargin,
                              widestBox_ / 2 + kMargin, widestBox_ / 2 + kMargin);
  BuildGrid();
}

QRectF MapModel::Box(NodeId node) const {
  const QPointF size = boxSizes_[node];
  return {positions_[node] - size / 2, QSizeF(size.x(), size.y())};
}

std::optional<MapModel::NodeId> MapModel::Find(std::string_view name) const {
  return network_->Find(name);
}

std::span<const std::uint32_t> MapModel::EdgesAt(NodeId node) const {
  return std::span<const std::uint32_t>(edgesAt_).subspan(
      edgesAtStart_[node], edgesAtStart_[node + 1] - edgesAtStart_[node]);
}

MapModel::CellRange MapModel::CellsOf(const QRectF& rect) const {
  const auto column = [this](double x) {
    return std::clamp(static_cast<int>(std::floor((x - centres_.left()) / cellSize_)), 0,
                      columns_ - 1);
  };
  const auto row = [this](double y) {
    return std::clamp(static_cast<int>(std::floor((y - centres_.top()) / cellSize_)), 0, rows_ - 1);
  };
  return {column(rect.left()), row(rect.top()), column(rect.right()), row(rect.bottom())};
}

void MapModel::BuildGrid() {
  const std::size_t n = positions_.size();
  const double area = std::max(centres_.width(), 1.0) * std::max(centres_.height(), 1.0);
  cellSize_ = std::sqrt(area * kNodesPerCell / static_cast<double>(std::max<std::size_t>(n, 1)));
  cellSize_ = std::max(
      {cellSize_, centres_.width() / kMaxCellsPerSide, centres_.height() / kMaxCellsPerSide, 1.0});
  columns_ = std::clamp(static_cast<int>(centres_.width() / cellSize_) + 1, 1, kMaxCellsPerSide);
  rows_ = std::clamp(static_cast<int>(centres_.height() / cellSize_) + 1, 1, kMaxCellsPerSide);
  const std::size_t cells = static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_);

  // Nodes by the cell of their centre (counting sort).
  const auto cellOf = [this](QPointF p) {
    const CellRange c = CellsOf(QRectF(p, p));
    return static_cast<std::size_t>(c.top) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(c.left);
  };
  nodeCellStart_.assign(cells + 1, 0);
  for (const QPointF& p : positions_) ++nodeCellStart_[cellOf(p) + 1];
  for (std::size_t i = 0; i < cells; ++i) nodeCellStart_[i + 1] += nodeCellStart_[i];
  nodeCells_.resize(n);
  std::vector<std::uint32_t> fill(nodeCellStart_.begin(), nodeCellStart_.end() - 1);
  for (std::uint32_t i = 0; i < n; ++i) nodeCells_[fill[cellOf(positions_[i])]++] = i;

  // Edges in every cell their bounding box meets; two passes over the same ranges.
  edgeCellStart_.assign(cells + 1, 0);
  const auto forEachCell = [this](const Edge& e, auto&& visit) {
    const CellRange c = CellsOf(QRectF(positions_[e.from], positions_[e.to]).normalized());
    const auto count = static_cast<std::size_t>(c.right - c.left + 1) *
                       static_cast<std::size_t>(c.bottom - c.top + 1);
    if (count > kLongEdgeCells) return false;
    for (int y = c.top; y <= c.bottom; ++y)
      for (int x = c.left; x <= c.right; ++x)
        visit(static_cast<std::size_t>(y) * static_cast<std::size_t>(columns_) +
              static_cast<std::size_t>(x));
    return true;
  };
  for (const Edge& e : edges_)
    forEachCell(e, [this](std::size_t cell) { ++edgeCellStart_[cell + 1]; });
  for (std::size_t i = 0; i < cells; ++i) edgeCellStart_[i + 1] += edgeCellStart_[i];
  edgeCells_.resize(edgeCellStart_[cells]);
  fill.assign(edgeCellStart_.begin(), edgeCellStart_.end() - 1);
  for (std::uint32_t i = 0; i < edges_.size(); ++i) {
    if (!forEachCell(edges_[i], [&](std::size_t cell) { edgeCells_[fill[cell]++] = i; }))
      longEdges_.push_back(i);
  }
  edgeSeen_.assign(edges_.size(), 0);
}

void MapModel::NodesIn(const QRectF& rect, std::vector<NodeId>& out) const {
  out.clear();
  if (positions_.empty()) return;
  const QRectF reach =
      rect.adjusted(-widestBox_ / 2, -widestBox_ / 2, widestBox_ / 2, widestBox_ / 2);
  if (!reach.intersects(centres_) && !centres_.contains(reach.topLeft())) return;
  const CellRange c = CellsOf(reach);
  for (int y = c.top; y <= c.bottom; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(columns_);
    for (std::size_t cell = row + static_cast<std::size_t>(c.left);
         cell <= row + static_cast<std::size_t>(c.right); ++cell)
      for (std::uint32_t i = nodeCellStart_[cell]; i < nodeCellStart_[cell + 1]; ++i)
        if (Box(nodeCells_[i]).intersects(rect)) out.push_back(nodeCells_[i]);
  }
}

void MapModel::EdgesIn(const QRectF& rect, std::vector<std::uint32_t>& out) const {
  out.clear();
  if (edges_.empty()) return;
  if (++query_ == 0) {
    std::fill(edgeSeen_.begin(), edgeSeen_.end(), 0);
    query_ = 1;
  }
  const auto meets = [&](std::uint32_t i) {
    const Edge& e = edges_[i];
    const QPointF a = positions_[e.from];
    const QPointF b = positions_[e.to];
    return std::max(a.x(), b.x()) >= rect.left() && std::min(a.x(), b.x()) <= rect.right() &&
           std::max(a.y(), b.y()) >= rect.top() && std::min(a.y(), b.y()) <= rect.bottom();
  };
  for (const std::uint32_t i : longEdges_)
    if (meets(i)) out.push_back(i);
  const QRectF reach = rect.intersected(centres_.adjusted(-1, -1, 1, 1));
  if (reach.isEmpty()) return;
  const CellRange c = CellsOf(reach);
  for (int y = c.top; y <= c.bottom; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(columns_);
    for (std::size_t cell = row + static_cast<std::size_t>(c.left);
         cell <= row + static_cast<std::size_t>(c.right); ++cell)
      for (std::uint32_t k = edgeCellStart_[cell]; k < edgeCellStart_[cell + 1]; ++k) {
        const std::uint32_t i = edgeCells_[k];
        if (edgeSeen_[i] == query_) continue;
        edgeSeen_[i] = query_;
        if (meets(i)) out.push_back(i);
      }
  }
}

std::optional<MapModel::NodeId> MapModel::NodeAt(QPointF point, double radius) const {
  std::vector<NodeId> near;
  NodesIn(QRectF(point - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius)), near);
  std::optional<NodeId> best;
  double bestRank = std::numeric_limits<double>::infinity();
  for (const NodeId node : near) {
    const QPointF d = positions_[node] - point;
    const double distance = std::hypot(d.x(), d.y());
    const bool inBox = Box(node).contains(point);
    if (!inBox && distance > radius) continue;
    // A box that holds the point beats a centre nearby; then systems beat stubs.
    const double rank = distance + (inBox ? 0 : 2e7) + (stub_[node] ? 1e7 : 0);
    if (rank < bestRank) {
      bestRank = rank;
      best = node;
    }
  }
  return best;
}

}  // namespace lanewright::gui
