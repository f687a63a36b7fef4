#include "app/gui/MapView.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace lanewright::gui {
namespace {

constexpr double kMaxZoom = 12;
// How far a press may move and still be a click rather than a drag, in pixels.
constexpr int kClickSlack = 4;
// How close to a system a click must be to mean it, in pixels.
constexpr double kHitPixels = 8;
// The zoom a search centres a system at when the view shows no names.
constexpr double kFoundZoom = 1.25;

}  // namespace

MapView::MapView(MapScene* scene, QWidget* parent) : QGraphicsView(scene, parent), scene_(scene) {
  setObjectName(QStringLiteral("mapView"));
  setDragMode(QGraphicsView::ScrollHandDrag);
  setTransformationAnchor(QGraphicsView::NoAnchor);
  setResizeAnchor(QGraphicsView::AnchorViewCenter);
  // Panning moves the drawn map and draws only the strip that comes into view; the marks
  // and the route are drawn over the kept map.
  setCacheMode(QGraphicsView::CacheBackground);
  setOptimizationFlag(QGraphicsView::DontAdjustForAntialiasing, true);
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
}

double MapView::FitZoom() const {
  const MapModel* model = scene_->model();
  const QRectF rect = model ? model->Bounds() : QRectF();
  if (rect.isEmpty()) return 1;
  const QSize size = viewport()->size();
  return std::max(1e-4,
                  0.98 * std::min(size.width() / rect.width(), size.height() / rect.height()));
}

void MapView::SetZoom(double zoom) {
  const QPointF centre = mapToScene(viewport()->rect().center());
  zoom = std::clamp(zoom, std::min(FitZoom() / 4, kMaxZoom), kMaxZoom);
  setTransform(QTransform::fromScale(zoom, zoom));
  centerOn(centre);
  resetCachedContent();
}

void MapView::ZoomAround(double factor, QPoint pos) {
  const QPointF anchor = mapToScene(pos);
  const QPointF centre = mapToScene(viewport()->rect().center());
  const double before = Zoom();
  SetZoom(before * factor);
  // Keep anchor under pos: the centre moves towards it by the share the zoom took away.
  const double kept = before / Zoom();
  centerOn(anchor + (centre - anchor) * kept);
  fitted_ = false;
}

void MapView::Fit() {
  SetZoom(FitZoom());
  if (const MapModel* model = scene_->model()) centerOn(model->Bounds().center());
  fitted_ = true;
}

void MapView::CentreOn(MapScene::NodeId node) {
  const MapModel* model = scene_->model();
  if (!model || node >= model->NodeCount()) return;
  if (Zoom() < kFoundZoom) SetZoom(kFoundZoom);
  centerOn(model->Position(node));
  fitted_ = false;
}

void MapView::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0) return;
  ZoomAround(std::pow(1.0015, delta), event->position().toPoint());
  event->accept();
}

void MapView::keyPressEvent(QKeyEvent* event) {
  const QPoint centre = viewport()->rect().center();
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomAround(1.25, centre);
      break;
    case Qt::Key_Minus:
      ZoomAround(0.8, centre);
      break;
    default:
      QGraphicsView::keyPressEvent(event);
  }
}

void MapView::resizeEvent(QResizeEvent* event) {
  QGraphicsView::resizeEvent(event);
  if (fitted_) Fit();
}

void MapView::mousePressEvent(QMouseEvent* event) {
  pressPos_ = event->position().toPoint();
  QGraphicsView::mousePressEvent(event);
}

void MapView::mouseReleaseEvent(QMouseEvent* event) {
  QGraphicsView::mouseReleaseEvent(event);
  const QPoint pos = event->position().toPoint();
  if ((pos - pressPos_).manhattanLength() > kClickSlack) {
    fitted_ = false;  // dragged
    return;
  }
  const MapModel* model = scene_->model();
  if (!model) return;
  if (const auto node = model->NodeAt(mapToScene(pos), kHitPixels / Zoom())) OpenMenu(*node, pos);
}

void MapView::OpenMenu(MapScene::NodeId node, QPoint pos) {
  const MapModel* model = scene_->model();
  if (!model || node >= model->NodeCount()) return;
  if (menu_) menu_->close();
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("systemMenu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  const std::string name(model->Name(node));
  QAction* title = menu->addAction(model->Label(node));
  title->setEnabled(false);
  menu->addSeparator();
  // An unexplored warp point leads somewhere nobody has seen: only a route to it makes sense.
  const bool system = !model->IsStub(node);
  const struct {
    const char* text;
    const char* objectName;
    MapAction action;
    bool enabled;
  } entries[] = {
      {"Route from here", "routeFromAction", MapAction::RouteFrom, system},
      {"Route to here", "routeToAction", MapAction::RouteTo, true},
      {"Add as stop", "addStopAction", MapAction::AddStop, system},
      {scene_->IsAvoided(node) ? "Do not avoid" : "Avoid", "avoidAction", MapAction::ToggleAvoid,
       system},
      {"Systems in range from here", "rangeAction", MapAction::RangeFrom, system},
  };
  for (const auto& entry : entries) {
    QAction* action = menu->addAction(QString::fromUtf8(entry.text));
    action->setObjectName(QString::fromUtf8(entry.objectName));
    action->setEnabled(entry.enabled);
    connect(action, &QAction::triggered, this,
            [this, what = entry.action, name] { emit SystemAction(what, name); });
  }
  menu_ = menu;
  menu->popup(viewport()->mapToGlobal(pos));
}

}  // namespace lanewright::gui
