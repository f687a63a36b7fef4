#pragma once

#include <QGraphicsView>
#include <QMenu>
#include <QPointer>
#include <string>

#include "app/gui/MapScene.h"

namespace lanewright::gui {

// What a click on a system offers.
enum class MapAction { RouteFrom, RouteTo, AddStop, ToggleAvoid, RangeFrom };

// The map on screen: the wheel zooms around the cursor, dragging pans, a click on a system
// opens a menu of what to do with it.
class MapView final : public QGraphicsView {
  Q_OBJECT

 public:
  explicit MapView(MapScene* scene, QWidget* parent = nullptr);

  MapScene* mapScene() const { return scene_; }
  // Device pixels per point of the map.
  double Zoom() const { return transform().m11(); }
  void SetZoom(double zoom);
  // Zooms by factor keeping the map point under pos (viewport coordinates) where it is.
  void ZoomAround(double factor, QPoint pos);
  // The whole map in the view.
  void Fit();
  // Centres node, zoomed in far enough for names when the view is zoomed out further.
  void CentreOn(MapScene::NodeId node);
  // The menu of the last click on a system while it is open (tests trigger its actions).
  QMenu* systemMenu() const { return menu_; }

 signals:
  void SystemAction(lanewright::gui::MapAction action, const std::string& name);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  double FitZoom() const;
  // The menu for node at pos (viewport coordinates).
  void OpenMenu(MapScene::NodeId node, QPoint pos);

  MapScene* scene_;
  QPoint pressPos_;
  bool fitted_ = true;  // the view shows the whole map and keeps doing so when resized
  QPointer<QMenu> menu_;
};

}  // namespace lanewright::gui
