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
class QListWidget;
class QPlainTextEdit;
class QSpinBox;

namespace lanewright::gui {

// Opens the turn entry database afresh for one Store Route run.
using TurnEntryStoreFactory = std::function<std::unique_ptr<TurnEntryStore>()>;

// The main window: the four system lists, the output box and the commands. It owns the
// star map for its whole life. Every command runs to its end before the window responds
// again, as the core functions it calls are synchronous.
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

  void OpenFiles();
  void RouteCommand(RouteMode mode);
  void FindSystemsInRange();
  void ExportGraphViz();
  void StoreRoute();
  void ShowAbout();

 private:
  void BuildWidgets();
  void BuildMenu();
  void Load(const FileChoice& choice);
  void LoadPaths(const std::vector<std::string>& paths);
  void ShowLoadResult(const LoadResult& result);
  std::optional<std::string> Selection(const QListWidget* list) const;
  std::set<std::string> AvoidSelection() const;
  void ShowStatus(const QString& text);

  Dialogs& dialogs_;
  TurnEntryStoreFactory turnEntry_;
  std::string dataFolder_;
  std::string lastExportTarget_;
  StarMap starMap_;
  // Rows of the loaded files, read again only when a file changed; the route graph of the
  // last request, kept while its rows and the avoid set stay the same.
  EmpireRowSource rows_;
  RoutePlanner planner_{rows_};

  QListWidget* fromList_ = nullptr;
  QListWidget* toList_ = nullptr;
  QListWidget* visitList_ = nullptr;
  QListWidget* avoidList_ = nullptr;
  QPlainTextEdit* outputEdit_ = nullptr;
  QSpinBox* rangeSpin_ = nullptr;
  QCheckBox* allSystemsCheck_ = nullptr;
  QCheckBox* yellowCirclesCheck_ = nullptr;
  QLabel* statusLine_ = nullptr;
  std::unique_ptr<WidgetOutputBox> output_;
};

}  // namespace lanewright::gui
