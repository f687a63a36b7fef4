#pragma once

#include <QColor>
#include <QFont>
#include <QGraphicsScene>
#include <QLineF>
#include <QStaticText>
#include <array>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/gui/MapModel.h"
#include "route/RoutePlan.h"

namespace lanewright::gui {

// What the lists have selected, as the map marks it. Names, so that marks set before the
// map is laid out (or for names it does not have) are kept and shown once they can be.
struct MapMarks {
  std::optional<std::string> from;
  std::optional<std::string> to;
  std::vector<std::string> stops;
  std::set<std::string> avoid;
};

// The map: the network drawn as the scene's background (by level of detail, only what is
// exposed), with the marks and the last route as items on top of it. Scene units are the
// layout's points; the scene reaches well beyond the map so that the view can centre any
// part of it.
class MapScene final : public QGraphicsScene {
  Q_OBJECT

 public:
  using NodeId = MapModel::NodeId;

  // Below this zoom (device pixels per point) systems are dots without names: their names
  // would be smaller than 8 pixels.
  static constexpr double kLabelZoom = 0.9;

  explicit MapScene(QObject* parent = nullptr);
  ~MapScene() override;

  // Null: no map.
  void SetModel(std::shared_ptr<const MapModel> model);
  const MapModel* model() const { return model_.get(); }

  void SetMarks(MapMarks marks);
  // An empty plan clears the route.
  void SetRoute(const RoutePlan& plan);
  // The system a search found, ringed until the next search.
  void SetFound(std::optional<NodeId> node);

  // The marks and the route as nodes of the current model (empty without one).
  struct Shown {
    std::optional<NodeId> from, to, found;
    std::vector<NodeId> stops;
    std::vector<bool> avoided;  // per node
    // Per direction the jumps drawn (node pairs), and the stops in the order travelled there.
    std::vector<std::vector<std::pair<NodeId, NodeId>>> routeJumps;
    std::vector<NodeId> routeStops;
  };
  const Shown& shown() const { return shown_; }
  bool IsAvoided(NodeId node) const { return node < shown_.avoided.size() && shown_.avoided[node]; }

  // The colour of warp points of a class letter; the map's key shows the same.
  static QColor ClassColour(char warpClass);
  static QColor DirectionColour(std::size_t direction);

 protected:
  void drawBackground(QPainter* painter, const QRectF& rect) override;

 private:
  class MarksItem;
  class RouteItem;
  static constexpr std::size_t kClassBuckets = 18;  // A..Q, then every other letter

  void Resolve();
  // Far enough around the map for the marks, which are drawn in device pixels.
  QRectF OverlayRect() const;
  void DrawEdges(QPainter& painter, const QRectF& rect, double zoom) const;
  void DrawNodes(QPainter& painter, const QRectF& rect, double zoom) const;
  void DrawNodeList(QPainter& painter, const std::vector<NodeId>& nodes, double zoom) const;
  const QStaticText& Label(NodeId node) const;
  // Draws a system's name centred in its box, narrowed when the box is too narrow for it.
  void DrawLabel(QPainter& painter, NodeId node) const;

  std::shared_ptr<const MapModel> model_;
  MapMarks marks_;
  // The route as names, kept across a new model.
  std::vector<std::vector<std::pair<std::string, std::string>>> routeNames_;
  std::vector<std::string> routeStopNames_;
  std::optional<NodeId> found_;
  Shown shown_;
  MarksItem* marksItem_ = nullptr;
  RouteItem* routeItem_ = nullptr;

  // The whole map's explored warp points by class, for drawing it all at once.
  std::array<std::vector<QLineF>, kClassBuckets> allLines_;
  std::vector<QLineF> allUnexplored_;
  // Scratch space of one drawing (the map is drawn from the GUI thread only).
  mutable std::array<std::vector<QLineF>, kClassBuckets> lines_;
  mutable std::vector<QLineF> unexplored_;
  mutable std::vector<std::uint32_t> edgeScratch_;
  mutable std::vector<NodeId> nodeScratch_;
  // Per node, laid out when first drawn: drawing laid-out text costs a fraction of drawing
  // a string, which makes up most of a drawing where names show.
  mutable std::vector<std::optional<QStaticText>> labels_;
  QFont labelFont_;
};

}  // namespace lanewright::gui
