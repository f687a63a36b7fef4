#include "app/gui/MapScene.h"

#include <QGraphicsItem>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionGraphicsItem>
#include <algorithm>
#include <cmath>

namespace lanewright::gui {
namespace {

const QColor kBackground(0xfb, 0xfb, 0xf8);
const QColor kDot(0x2f, 0x3b, 0x52);
const QColor kStub(0x8a, 0x8a, 0x8a);
const QColor kBoxFill(0xff, 0xfe, 0xf4);
const QColor kBoxBorder(0x7d, 0x85, 0x94);
const QColor kText(0x15, 0x18, 0x20);
const QColor kUnexplored(0x80, 0x80, 0x80);
const QColor kAvoidedFill(0xde, 0xde, 0xde);
const QColor kAvoidedText(0x9a, 0x9a, 0x9a);
const QColor kAvoidedEdge(0xc4, 0xc4, 0xc4);
const QColor kFromRing(0x1a, 0x9e, 0x3a);
const QColor kToRing(0xd6, 0x27, 0x28);
const QColor kStopRing(0xf0, 0x8c, 0x00);
const QColor kFoundRing(0xe0, 0xb0, 0x00);

// Antialiased lines and arrowheads cost three times as much as plain ones (measured: 2,000
// warp points 17 ms against 6 ms); a view showing this many is zoomed out far enough that
// they would not look much better.
constexpr std::size_t kAntialiasBelow = 800;
constexpr double kLabelPixels = 9;  // the label font, in points of the map
constexpr double kStubRadius = 3;
constexpr double kStubLabelZoom = 1.5;
constexpr double kArrowLength = 7;
constexpr double kArrowHalfWidth = 2.8;

QFont LabelFont(double pixels) {
  QFont font;
  font.setPixelSize(static_cast<int>(pixels));
  // Advances measured once then scale with the zoom.
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

std::size_t Bucket(char warpClass) {
  return warpClass >= 'A' && warpClass <= 'Q' ? static_cast<std::size_t>(warpClass - 'A') : 17;
}

QColor BucketColour(std::size_t bucket) {
  return MapScene::ClassColour(bucket < 17 ? static_cast<char>('A' + bucket) : '?');
}

double Zoom(const QPainter& painter) {
  return QStyleOptionGraphicsItem::levelOfDetailFromTransform(painter.worldTransform());
}

// Where a line from far ends on the border of a box of half-size (hw, hh) around centre.
QPointF BorderPoint(QPointF centre, QPointF far, double hw, double hh) {
  const QPointF d = far - centre;
  const double ax = std::abs(d.x()), ay = std::abs(d.y());
  if (ax < 1e-9 && ay < 1e-9) return centre;
  const double t = std::min(ax > 1e-9 ? hw / ax : 1e300, ay > 1e-9 ? hh / ay : 1e300);
  return centre + d * std::min(t, 1.0);
}

}  // namespace

// Avoided systems greyed, and rings around the selected ones; drawn in device pixels so
// that they stay visible at every zoom.
class MapScene::MarksItem final : public QGraphicsItem {
 public:
  explicit MarksItem(MapScene& scene) : scene_(scene) { setZValue(2); }
  QRectF boundingRect() const override { return scene_.OverlayRect(); }
  void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;
  // Before the map, and so the bounding rectangle, changes.
  void Reshape() { prepareGeometryChange(); }

 private:
  MapScene& scene_;
};

// The last route: each direction in its own colour, on its own side of the warp points it
// takes, with the stops numbered in the order travelled.
class MapScene::RouteItem final : public QGraphicsItem {
 public:
  explicit RouteItem(MapScene& scene) : scene_(scene) { setZValue(1); }
  QRectF boundingRect() const override { return scene_.OverlayRect(); }
  void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;
  // Before the map, and so the bounding rectangle, changes.
  void Reshape() { prepareGeometryChange(); }

 private:
  MapScene& scene_;
};

MapScene::MapScene(QObject* parent) : QGraphicsScene(parent), labelFont_(LabelFont(kLabelPixels)) {
  setItemIndexMethod(QGraphicsScene::NoIndex);
  marksItem_ = new MarksItem(*this);
  routeItem_ = new RouteItem(*this);
  addItem(marksItem_);
  addItem(routeItem_);
}

MapScene::~MapScene() = default;

QColor MapScene::ClassColour(char warpClass) {
  const std::size_t bucket = Bucket(warpClass);
  if (bucket >= 17) return {0x90, 0x90, 0x90};
  // From blue (A) through green and orange to crimson (Q).
  const int hue = (215 - static_cast<int>(bucket) * 15 + 360) % 360;
  return QColor::fromHsv(hue, 200, 190);
}

QColor MapScene::DirectionColour(std::size_t direction) {
  return direction == 0 ? QColor(0xe8, 0x59, 0x0c, 215) : QColor(0x1c, 0x6e, 0xd6, 215);
}

QRectF MapScene::OverlayRect() const {
  if (!model_) return {};
  const QRectF b = model_->Bounds();
  const double m = std::max(b.width(), b.height());
  return b.adjusted(-m, -m, m, m);
}

void MapScene::SetModel(std::shared_ptr<const MapModel> model) {
  marksItem_->Reshape();
  routeItem_->Reshape();
  model_ = std::move(model);
  for (auto& lines : allLines_) lines.clear();
  allUnexplored_.clear();
  labels_.clear();
  if (model_) {
    for (const MapModel::Edge& e : model_->Edges()) {
      if (e.from == e.to) continue;
      const QLineF line(model_->Position(e.from), model_->Position(e.to));
      (e.unexplored ? allUnexplored_ : allLines_[Bucket(e.warpClass)]).push_back(line);
    }
    labels_.resize(model_->NodeCount());
    // Room around the map, so that any system can be centred in the view.
    setSceneRect(OverlayRect());
  } else {
    setSceneRect(QRectF(0, 0, 1, 1));
  }
  found_.reset();
  Resolve();
  invalidate(sceneRect(), QGraphicsScene::BackgroundLayer);
  update();
}

void MapScene::SetMarks(MapMarks marks) {
  marks_ = std::move(marks);
  Resolve();
  marksItem_->update();
}

void MapScene::SetRoute(const RoutePlan& plan) {
  routeNames_.clear();
  routeStopNames_.clear();
  for (const RouteDirection& direction : plan.directions) {
    auto& jumps = routeNames_.emplace_back();
    for (const RouteLeg& leg : direction.legs)
      for (const RouteJump& jump : leg.jumps) jumps.emplace_back(jump.system, jump.destination);
  }
  if (!plan.directions.empty()) routeStopNames_ = plan.directions.front().stops;
  Resolve();
  routeItem_->update();
}

void MapScene::SetFound(std::optional<NodeId> node) {
  found_ = node;
  Resolve();
  marksItem_->update();
}

void MapScene::Resolve() {
  shown_ = Shown{};
  if (!model_) return;
  const auto find = [this](const std::optional<std::string>& name) -> std::optional<NodeId> {
    return name ? model_->Find(*name) : std::nullopt;
  };
  shown_.from = find(marks_.from);
  shown_.to = find(marks_.to);
  if (found_ && *found_ < model_->NodeCount()) shown_.found = found_;
  for (const auto& stop : marks_.stops)
    if (const auto node = model_->Find(stop)) shown_.stops.push_back(*node);
  shown_.avoided.assign(model_->NodeCount(), false);
  for (const auto& name : marks_.avoid)
    if (const auto node = model_->Find(name)) shown_.avoided[*node] = true;
  for (const auto& jumps : routeNames_) {
    auto& shownJumps = shown_.routeJumps.emplace_back();
    for (const auto& [from, to] : jumps) {
      const auto a = model_->Find(from);
      const auto b = model_->Find(to);
      if (a && b) shownJumps.emplace_back(*a, *b);
    }
  }
  for (const auto& stop : routeStopNames_)
    if (const auto node = model_->Find(stop)) shown_.routeStops.push_back(*node);
}

const QStaticText& MapScene::Label(NodeId node) const {
  std::optional<QStaticText>& label = labels_[node];
  if (!label) {
    label.emplace(model_->Label(node));
    label->setTextFormat(Qt::PlainText);
    label->prepare(QTransform(), labelFont_);
  }
  return *label;
}

void MapScene::DrawLabel(QPainter& painter, NodeId node) const {
  const QStaticText& label = Label(node);
  const QSizeF size = label.size();
  const QPointF centre = model_->Position(node);
  const double room = model_->Box(node).width() - 3;
  if (size.width() <= room) {
    painter.drawStaticText(centre - QPointF(size.width(), size.height()) / 2, label);
    return;
  }
  const QTransform kept = painter.transform();
  painter.translate(centre);
  painter.scale(room / size.width(), 1);
  painter.drawStaticText(-QPointF(size.width(), size.height()) / 2, label);
  painter.setTransform(kept);
}

void MapScene::drawBackground(QPainter* painter, const QRectF& rect) {
  painter->fillRect(rect, kBackground);
  if (!model_) return;
  const double zoom = Zoom(*painter);
  painter->save();
  DrawEdges(*painter, rect, zoom);
  DrawNodes(*painter, rect, zoom);
  painter->restore();
}

void MapScene::DrawEdges(QPainter& painter, const QRectF& rect, double zoom) const {
  const MapModel& m = *model_;
  const bool whole = rect.contains(m.Bounds());
  const auto* lines = &allLines_;
  const auto* unexplored = &allUnexplored_;
  std::size_t count = m.Edges().size();
  if (!whole) {
    m.EdgesIn(rect, edgeScratch_);
    for (auto& bucket : lines_) bucket.clear();
    unexplored_.clear();
    for (const std::uint32_t i : edgeScratch_) {
      const MapModel::Edge& e = m.Edges()[i];
      if (e.from == e.to) continue;
      const QLineF line(m.Position(e.from), m.Position(e.to));
      (e.unexplored ? unexplored_ : lines_[Bucket(e.warpClass)]).push_back(line);
    }
    lines = &lines_;
    unexplored = &unexplored_;
    count = edgeScratch_.size();
  }
  painter.setRenderHint(QPainter::Antialiasing, count < kAntialiasBelow);
  QPen pen;
  pen.setCosmetic(true);
  pen.setWidthF(zoom < 1.5 ? 1.0 : 1.6);
  for (std::size_t b = 0; b < kClassBuckets; ++b) {
    if ((*lines)[b].empty()) continue;
    pen.setColor(BucketColour(b));
    painter.setPen(pen);
    painter.drawLines((*lines)[b].data(), static_cast<int>((*lines)[b].size()));
  }
  if (!unexplored->empty()) {
    pen.setColor(kUnexplored);
    pen.setStyle(Qt::DashLine);
    painter.setPen(pen);
    painter.drawLines(unexplored->data(), static_cast<int>(unexplored->size()));
  }
  if (zoom < kLabelZoom) return;

  // Arrowheads where each warp point enters its destination's box.
  painter.setPen(Qt::NoPen);
  std::array<QPainterPath, kClassBuckets> heads;
  const auto addHead = [&](std::uint32_t i) {
    const MapModel::Edge& e = m.Edges()[i];
    if (e.from == e.to || e.unexplored) return;
    const QPointF a = m.Position(e.from);
    const QPointF b = m.Position(e.to);
    const QRectF box = m.IsStub(e.to) ? QRectF() : m.Box(e.to);
    const QPointF tip = m.IsStub(e.to) ? BorderPoint(b, a, kStubRadius, kStubRadius)
                                       : BorderPoint(b, a, box.width() / 2, box.height() / 2);
    const QLineF along(tip, a);
    if (along.length() < kArrowLength * 1.5) return;
    const QPointF u = (a - tip) / along.length();
    const QPointF n(-u.y(), u.x());
    const QPointF base = tip + u * kArrowLength;
    QPainterPath& path = heads[Bucket(e.warpClass)];
    path.moveTo(tip);
    path.lineTo(base + n * kArrowHalfWidth);
    path.lineTo(base - n * kArrowHalfWidth);
    path.closeSubpath();
  };
  if (whole) {
    for (std::uint32_t i = 0; i < m.Edges().size(); ++i) addHead(i);
  } else {
    for (const std::uint32_t i : edgeScratch_) addHead(i);
  }
  for (std::size_t b = 0; b < kClassBuckets; ++b)
    if (!heads[b].isEmpty()) painter.fillPath(heads[b], BucketColour(b));
}

void MapScene::DrawNodes(QPainter& painter, const QRectF& rect, double zoom) const {
  const MapModel& m = *model_;
  nodeScratch_.clear();
  if (rect.contains(m.Bounds())) {
    for (NodeId i = 0; i < m.NodeCount(); ++i) nodeScratch_.push_back(i);
  } else {
    m.NodesIn(rect, nodeScratch_);
  }
  DrawNodeList(painter, nodeScratch_, zoom);
}

void MapScene::DrawNodeList(QPainter& painter, const std::vector<NodeId>& nodes,
                            double zoom) const {
  const MapModel& m = *model_;
  painter.setPen(Qt::NoPen);
  if (zoom < kLabelZoom) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    std::vector<QRectF> systems, stubs;
    systems.reserve(nodes.size());
    // Dots shrink as the map does, so that a whole galaxy still shows its warp points;
    // stubs go first.
    const double dotPixels = std::clamp(zoom * 10, 1.5, 4.0);
    const double stubPixels = zoom * 5 >= 1 ? std::min(zoom * 5, 2.5) : 0;
    for (const NodeId node : nodes) {
      const QPointF p = m.Position(node);
      const double size = (m.IsStub(node) ? stubPixels : dotPixels) / zoom;
      if (size > 0)
        (m.IsStub(node) ? stubs : systems)
            .emplace_back(p.x() - size / 2, p.y() - size / 2, size, size);
    }
    painter.setBrush(kStub);
    painter.drawRects(stubs.data(), static_cast<int>(stubs.size()));
    painter.setBrush(kDot);
    painter.drawRects(systems.data(), static_cast<int>(systems.size()));
    return;
  }

  // Plain boxes, drawn together: rounded ones cost a path each.
  painter.setRenderHint(QPainter::Antialiasing, false);
  QPen border(kBoxBorder);
  border.setCosmetic(true);
  painter.setPen(border);
  painter.setBrush(kBoxFill);
  std::vector<QRectF> boxes;
  boxes.reserve(nodes.size());
  for (const NodeId node : nodes)
    if (!m.IsStub(node)) boxes.push_back(m.Box(node));
  painter.drawRects(boxes.data(), static_cast<int>(boxes.size()));
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setBrush(Qt::white);
  QPen stubPen(kStub);
  stubPen.setCosmetic(true);
  painter.setPen(stubPen);
  for (const NodeId node : nodes)
    if (m.IsStub(node)) painter.drawEllipse(m.Position(node), kStubRadius, kStubRadius);

  painter.setPen(kText);
  painter.setFont(labelFont_);
  for (const NodeId node : nodes)
    if (!m.IsStub(node)) DrawLabel(painter, node);
  if (zoom >= kStubLabelZoom) {
    painter.setPen(kStub);
    painter.setFont(LabelFont(kLabelPixels - 2));
    for (const NodeId node : nodes) {
      if (!m.IsStub(node)) continue;
      const QPointF p = m.Position(node);
      painter.drawText(QRectF(p.x() + kStubRadius + 1, p.y() - 6, 200, 12),
                       Qt::AlignLeft | Qt::AlignVCenter, m.Label(node));
    }
  }
}

void MapScene::MarksItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
  const MapModel* m = scene_.model();
  if (!m) return;
  const Shown& shown = scene_.shown();
  const double zoom = Zoom(*painter);
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, true);

  // Avoided systems and the warp points into and out of them, greyed.
  QPen grey(kAvoidedEdge);
  grey.setCosmetic(true);
  grey.setWidthF(2);
  std::vector<NodeId> avoided;
  for (NodeId node = 0; node < shown.avoided.size(); ++node)
    if (shown.avoided[node]) avoided.push_back(node);
  painter->setPen(grey);
  for (const NodeId node : avoided)
    for (const std::uint32_t i : m->EdgesAt(node)) {
      const MapModel::Edge& e = m->Edges()[i];
      painter->drawLine(m->Position(e.from), m->Position(e.to));
    }
  painter->setPen(Qt::NoPen);
  painter->setBrush(kAvoidedFill.darker(115));
  for (const NodeId node : avoided) {
    if (zoom >= kLabelZoom) continue;
    const double size = 6 / zoom;
    const QPointF p = m->Position(node);
    painter->drawRect(QRectF(p.x() - size / 2, p.y() - size / 2, size, size));
  }
  if (zoom >= kLabelZoom) {
    QPen border(kAvoidedText);
    border.setCosmetic(true);
    painter->setFont(scene_.labelFont_);
    for (const NodeId node : avoided) {
      painter->setPen(border);
      painter->setBrush(kAvoidedFill);
      if (m->IsStub(node)) {
        painter->drawEllipse(m->Position(node), kStubRadius, kStubRadius);
        continue;
      }
      painter->drawRect(m->Box(node));
      painter->setPen(kAvoidedText);
      scene_.DrawLabel(*painter, node);
    }
  }

  // Rings, in device pixels.
  const QTransform toDevice = painter->worldTransform();
  painter->resetTransform();
  painter->setBrush(Qt::NoBrush);
  const auto ring = [&](NodeId node, const QColor& colour, double grow) {
    QPen pen(colour);
    pen.setWidthF(2.5);
    painter->setPen(pen);
    if (zoom >= kLabelZoom && !m->IsStub(node)) {
      const QRectF box = toDevice.mapRect(m->Box(node)).adjusted(-grow, -grow, grow, grow);
      painter->drawRoundedRect(box, 4, 4);
    } else {
      painter->drawEllipse(toDevice.map(m->Position(node)), 6 + grow, 6 + grow);
    }
  };
  for (const NodeId node : shown.stops) ring(node, kStopRing, 3);
  if (shown.to) ring(*shown.to, kToRing, 3);
  if (shown.from) ring(*shown.from, kFromRing, 3);
  if (shown.found) ring(*shown.found, kFoundRing, 7);
  painter->restore();
}

void MapScene::RouteItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
  const MapModel* m = scene_.model();
  if (!m) return;
  const Shown& shown = scene_.shown();
  if (shown.routeJumps.empty()) return;
  const QTransform toDevice = painter->worldTransform();
  painter->save();
  painter->resetTransform();
  painter->setRenderHint(QPainter::Antialiasing, true);
  for (std::size_t d = 0; d < shown.routeJumps.size(); ++d) {
    const QColor colour = MapScene::DirectionColour(d);
    QPen pen(colour);
    pen.setWidthF(4);
    pen.setCapStyle(Qt::RoundCap);
    QPainterPath heads;
    for (const auto& [from, to] : shown.routeJumps[d]) {
      const QPointF a = toDevice.map(m->Position(from));
      const QPointF b = toDevice.map(m->Position(to));
      const QLineF line(a, b);
      if (line.length() < 1e-6) continue;
      const QPointF u = (b - a) / line.length();
      // Each direction keeps to its right, so a way back over the same warp points shows.
      const QPointF side = QPointF(-u.y(), u.x()) * 3.0;
      painter->setPen(pen);
      painter->drawLine(a + side, b + side);
      if (line.length() > 28) {
        const QPointF mid = (a + b) / 2 + side + u * 4;
        const QPointF n(-u.y(), u.x());
        heads.moveTo(mid);
        heads.lineTo(mid - u * 9 + n * 5);
        heads.lineTo(mid - u * 9 - n * 5);
        heads.closeSubpath();
      }
    }
    painter->fillPath(heads, colour.darker(130));
  }
  // The systems on the route over it, so that their names stay readable.
  std::vector<NodeId> nodes;
  for (const auto& jumps : shown.routeJumps)
    for (const auto& [from, to] : jumps) nodes.insert(nodes.end(), {from, to});
  std::sort(nodes.begin(), nodes.end());
  nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
  painter->setTransform(toDevice);
  scene_.DrawNodeList(*painter, nodes, Zoom(*painter));
  painter->resetTransform();
  QFont font;
  font.setPixelSize(10);
  font.setBold(true);
  painter->setFont(font);
  for (std::size_t k = 0; k < shown.routeStops.size(); ++k) {
    const QPointF c = toDevice.map(m->Position(shown.routeStops[k]));
    painter->setPen(Qt::white);
    painter->setBrush(kStopRing.darker(110));
    const QRectF disc(c.x() + 6, c.y() - 18, 16, 16);
    painter->drawEllipse(disc);
    painter->drawText(disc, Qt::AlignCenter, QString::number(k + 1));
  }
  painter->restore();
}

}  // namespace lanewright::gui
