#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "app/gui/MapScene.h"
#include "app/gui/MapView.h"
#include "layout/LayoutJob.h"
#include "starmap/WarpNetwork.h"

class QCompleter;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QStackedWidget;
class QTimer;

namespace lanewright::gui {

// The map beside the classic controls: the view with a find box and a Fit button, and
// while the layout runs a busy bar with the elapsed time and a Cancel button. The layout
// runs in a child process (LayoutJob), so the window stays usable meanwhile.
class MapPanel final : public QWidget {
  Q_OBJECT

 public:
  explicit MapPanel(QWidget* parent = nullptr);
  ~MapPanel() override;

  void SetLayoutOptions(layout::LayoutOptions options) { options_ = std::move(options); }

  // Lays out network (from the cache of key when it holds it) and shows it; a layout still
  // running for an earlier network is ended.
  void ShowNetwork(std::shared_ptr<const WarpNetwork> network, std::optional<layout::CacheKey> key);
  // No map, and why.
  void ShowMessage(const QString& text);

  void SetMarks(MapMarks marks) { scene_->SetMarks(std::move(marks)); }
  void SetRoute(const RoutePlan& plan) { scene_->SetRoute(plan); }

  // Saves what the view shows: SVG when path ends in .svg, else an image in the format its
  // suffix names (PNG when it names none). False, with failure saying why, when it cannot.
  bool ExportView(const QString& path, std::string& failure);

  bool HasMap() const { return scene_->model() != nullptr; }
  bool LayoutRunning() const;
  MapScene* scene() const { return scene_; }
  MapView* view() const { return view_; }

  // Centres the system of that name (or the only one whose name starts so, ignoring case).
  bool FindSystem(const QString& text);

 signals:
  void SystemAction(lanewright::gui::MapAction action, const std::string& name);
  // Something for the status line: a failed or cancelled layout, a search without result.
  void Problem(const std::string& text);

 private:
  void StartJob();
  void PollJob();
  void EndJob();
  void ShowProgress();
  void CancelJob();

  layout::LayoutOptions options_;
  std::shared_ptr<const WarpNetwork> network_;
  std::optional<layout::CacheKey> key_;
  std::unique_ptr<layout::LayoutJob> job_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* timer_ = nullptr;

  MapScene* scene_;
  MapView* view_;
  QStackedWidget* pages_;
  QLabel* message_;
  QPushButton* retryButton_;
  QProgressBar* progressBar_;
  QLabel* progressLabel_;
  QPushButton* cancelButton_;
  QLineEdit* findBox_;
  QCompleter* completer_;
  QPushButton* fitButton_;
};

}  // namespace lanewright::gui
