#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/gui/Dialogs.h"
#include "app/gui/WidgetOutputBox.h"
#include "orders/TurnEntryStore.h"
#include "route/FindRoute.h"
#include "route/RouteMode.h"
#include "starmap/EmpireRows.h"
#include "starmap/LoadEmpireDatabase.h"
#include "starmap/StarMap.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QSplitter;

namespace lanewright::gui {

class MapPanel;
enum class MapAction;

// Opens the turn entry database afresh for one Store Route run.
using TurnEntryStoreFactory = std::function<std::unique_ptr<TurnEntryStore>()>;

// The main window: the four system lists with their filter boxes, the Stops list, the
// output box and the commands, and beside them the map. It owns the star map for its whole
// life. Every command runs to its end before the window responds again, as the core
// functions it calls are synchronous; only the map's layout runs on meanwhile, in a child
// process. Window geometry, splitters and the recent file sets are kept in QSettings.
class MainDialog final : public QMainWindow {
  Q_OBJECT

 public:
  // dialogs must outlive the window; dataFolder is where the open dialog starts.
  MainDialog(Dialogs& dialogs, TurnEntryStoreFactory turnEntry, std::string dataFolder,
             QWidget* parent = nullptr);
  ~MainDialog() override;

  // Loads files when there are any, else asks for them. False when the user cancelled
  // that first question: the program then ends without showing the window.
  bool Start(const std::vector<std::string>& files);

  const StarMap& starMap() const { return starMap_; }
  MapPanel* map() const { return map_; }

  void OpenFiles();
  void RouteCommand(RouteMode mode);
  void FindSystemsInRange();
  void ExportGraphViz();
  void StoreRoute();
  void ShowAbout();
  void ExportMap();
  void CopyOutput();
  void SaveOutput();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  void BuildMenu();
  void Load(const FileChoice& choice);
  void LoadPaths(const std::vector<std::string>& paths);
  void ShowLoadResult(const LoadResult& result);
  void ShowMap();
  std::optional<std::string> Selection(const QListWidget* list) const;
  std::set<std::string> AvoidSelection() const;
  // The status line; names and paths in text are shown escaped (see Printable).
  void ShowStatus(const std::string& text);

  // The Stops list, when it holds entries, stands in for the Visit selection.
  std::vector<std::string> Stops() const;
  std::vector<std::string> RequestStops() const;
  bool UseBestOrder() const;
  void AddStop(const std::string& name);
  void MoveStop(int by);
  void UpdateStopButtons();
  // Drops stops the loaded lists no longer hold; returns their names.
  std::vector<std::string> DropMissingStops(const SystemLists& lists);

  void UpdateMapMarks();
  void OnMapAction(MapAction action, const std::string& name);
  bool SelectEntry(QListWidget* list, const std::string& name);

  void RememberFiles();
  void UpdateRecentMenu();
  void OpenRecent(const QStringList& paths);
  void SaveSettings();

  Dialogs& dialogs_;
  TurnEntryStoreFactory turnEntry_;
  std::string dataFolder_;
  std::string lastExportTarget_;
  std::string lastMapExport_;
  std::string lastOutputSave_;
  StarMap starMap_;
  // Rows of the loaded files, read again only when a file changed; the route graph of the
  // last request, kept while its rows and the avoid set stay the same.
  EmpireRowSource rows_;
  RoutePlanner planner_{rows_};

  QListWidget* fromList_ = nullptr;
  QListWidget* toList_ = nullptr;
  QListWidget* visitList_ = nullptr;
  QListWidget* avoidList_ = nullptr;
  std::vector<std::pair<QLineEdit*, QListWidget*>> filters_;
  QListWidget* stopsList_ = nullptr;
  QPushButton* addStopButton_ = nullptr;
  QPushButton* removeStopButton_ = nullptr;
  QPushButton* stopUpButton_ = nullptr;
  QPushButton* stopDownButton_ = nullptr;
  QCheckBox* bestOrderCheck_ = nullptr;
  QPlainTextEdit* outputEdit_ = nullptr;
  QSpinBox* rangeSpin_ = nullptr;
  QCheckBox* allSystemsCheck_ = nullptr;
  QCheckBox* yellowCirclesCheck_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QSplitter* mainSplitter_ = nullptr;
  QSplitter* controlsSplitter_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  MapPanel* map_ = nullptr;
  std::unique_ptr<WidgetOutputBox> output_;
};

}  // namespace lanewright::gui
