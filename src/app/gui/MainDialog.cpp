#include "app/gui/MainDialog.h"

#include <fmt/format.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cassert>
#include <utility>

#include "app/gui/AboutDialog.h"
#include "app/gui/ClearOnEscape.h"
#include "app/gui/ConvoyDialog.h"
#include "app/gui/MapPanel.h"
#include "export/RangeCommands.h"
#include "orders/StoreRoute.h"
#include "route/FindRoute.h"
#include "route/StopOrder.h"
#include "starmap/LoadEmpireDatabase.h"
#include "store/Printable.h"

namespace lanewright::gui {
namespace {

constexpr int kDefaultRange = 5;
constexpr int kRecentSets = 8;
const QString kRecentKey = QStringLiteral("recentFiles");
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kMainSplitterKey = QStringLiteral("window/mainSplitter");
const QString kControlsSplitterKey = QStringLiteral("window/controlsSplitter");

// The wait cursor for as long as a command reads files.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QListWidget* MakeList(const char* objectName, QAbstractItemView::SelectionMode mode,
                      QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromUtf8(objectName));
  list->setSelectionMode(mode);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list->setMinimumHeight(90);
  return list;
}

QPushButton* MakeButton(const char* text, const char* objectName, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(QString::fromUtf8(objectName));
  return button;
}

QLabel* MakeLabel(const char* text, QWidget* parent) {
  return new QLabel(QString::fromUtf8(text), parent);
}

QLineEdit* MakeFilter(const char* objectName, QWidget* parent) {
  auto* filter = new QLineEdit(parent);
  filter->setObjectName(QString::fromUtf8(objectName));
  filter->setPlaceholderText(QStringLiteral("Filter"));
  filter->setClearButtonEnabled(true);
  ClearOnEscape(filter);
  return filter;
}

// "XX" and "[none]" are not names: a filter never hides them.
bool IsSpecialEntry(const QString& text) {
  return text == FromUtf8(std::string(kAnyUnsurveyed)) || text == FromUtf8(std::string(kNoVisit));
}

// Hidden entries keep their selection, so a filter never changes what a command uses.
void ApplyFilter(QListWidget* list, const QString& text) {
  for (int i = 0; i < list->count(); ++i) {
    QListWidgetItem* item = list->item(i);
    item->setHidden(!text.isEmpty() && !IsSpecialEntry(item->text()) &&
                    !item->text().contains(text, Qt::CaseInsensitive));
  }
}

// The lists sort as the user's desktop does: by locale, ignoring case. (The star map keeps
// its byte order; only the view differs.)
void FillSorted(QListWidget* list, const std::vector<std::string>& entries,
                std::string_view extra = {}) {
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(entries.size() + 1));
  if (!extra.empty()) texts.push_back(FromUtf8(std::string(extra)));
  for (const auto& entry : entries) texts.push_back(FromUtf8(entry));
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(texts.begin(), texts.end(), [&collator](const QString& a, const QString& b) {
    return collator.compare(a, b) < 0;
  });
  list->addItems(texts);
}

// The text as a file on this platform writes it: every line end "\r\n" on Windows, "\n"
// elsewhere; the bytes of the names as they are.
std::string WithPlatformLineEnds(const std::string& text) {
#ifdef Q_OS_WIN
  constexpr std::string_view kLineEnd = "\r\n";
#else
  constexpr std::string_view kLineEnd = "\n";
#endif
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') {
      out += kLineEnd;
    } else {
      out += text[i];
    }
  }
  return out;
}

// How a recent set of files shows in the menu: its file names, and their folder when they
// share one.
QString RecentEntryText(const QStringList& paths) {
  QStringList names;
  QString folder = QFileInfo(paths.front()).absolutePath();
  for (const QString& path : paths) {
    names.push_back(QFileInfo(path).fileName());
    if (QFileInfo(path).absolutePath() != folder) folder.clear();
  }
  QString text = folder.isEmpty() ? paths.join(QStringLiteral(", "))
                                  : QStringLiteral("%1 (%2)").arg(names.join(QStringLiteral(", ")),
                                                                  QDir::toNativeSeparators(folder));
  return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

MainDialog::MainDialog(Dialogs& dialogs, TurnEntryStoreFactory turnEntry, std::string dataFolder,
                       QWidget* parent)
    : QMainWindow(parent),
      dialogs_(dialogs),
      turnEntry_(std::move(turnEntry)),
      dataFolder_(std::move(dataFolder)) {
  setObjectName(QStringLiteral("mainDialog"));
  setWindowTitle(QStringLiteral("Lanewright V2.19"));
  BuildWidgets();
  BuildMenu();
  output_ = std::make_unique<WidgetOutputBox>(*outputEdit_);

  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  resize(1440, 860);
  QSettings settings;
  restoreGeometry(settings.value(kGeometryKey).toByteArray());
  mainSplitter_->restoreState(settings.value(kMainSplitterKey).toByteArray());
  controlsSplitter_->restoreState(settings.value(kControlsSplitterKey).toByteArray());
  UpdateRecentMenu();
  UpdateStopButtons();
}

MainDialog::~MainDialog() = default;

void MainDialog::BuildWidgets() {
  mainSplitter_ = new QSplitter(Qt::Horizontal, this);
  mainSplitter_->setObjectName(QStringLiteral("mainSplitter"));
  setCentralWidget(mainSplitter_);
  controlsSplitter_ = new QSplitter(Qt::Vertical, mainSplitter_);
  controlsSplitter_->setObjectName(QStringLiteral("controlsSplitter"));
  auto* listsPane = new QWidget(controlsSplitter_);
  auto* outputPane = new QWidget(controlsSplitter_);
  map_ = new MapPanel(mainSplitter_);

  // Created in the order the Tab key walks them.
  fromList_ = MakeList("fromList", QAbstractItemView::SingleSelection, listsPane);
  toList_ = MakeList("toList", QAbstractItemView::SingleSelection, listsPane);
  auto* byJumps = MakeButton("Calculate by Jumps", "byJumpsButton", outputPane);
  auto* byClass = MakeButton("Calculate by WP-Class", "byClassButton", outputPane);
  auto* byFuel = MakeButton("Calculate by Fuel Usage", "byFuelButton", outputPane);
  outputEdit_ = new QPlainTextEdit(outputPane);
  outputEdit_->setObjectName(QStringLiteral("outputBox"));
  outputEdit_->setReadOnly(true);
  outputEdit_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  outputEdit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // A report line (the separator, a long jump line) stays one line.
  outputEdit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  outputEdit_->setTabChangesFocus(true);
  visitList_ = MakeList("visitList", QAbstractItemView::SingleSelection, listsPane);
  // Each click toggles an entry, as in the Avoid list of the game's own tools.
  avoidList_ = MakeList("avoidList", QAbstractItemView::MultiSelection, listsPane);
  auto* exportButton = MakeButton("Export to GraphViz", "exportButton", outputPane);
  rangeSpin_ = new QSpinBox(outputPane);
  rangeSpin_->setObjectName(QStringLiteral("rangeSpin"));
  rangeSpin_->setRange(0, 999);
  rangeSpin_->setValue(kDefaultRange);
  rangeSpin_->setAlignment(Qt::AlignRight);
  allSystemsCheck_ = new QCheckBox(QStringLiteral("All systems"), outputPane);
  allSystemsCheck_->setObjectName(QStringLiteral("allSystemsCheck"));
  auto* findButton = MakeButton("Find Systems in Range", "findInRangeButton", outputPane);
  yellowCirclesCheck_ = new QCheckBox(QStringLiteral("Yellow Circles"), outputPane);
  yellowCirclesCheck_->setObjectName(QStringLiteral("yellowCirclesCheck"));

  stopsList_ = MakeList("stopsList", QAbstractItemView::SingleSelection, listsPane);
  stopsList_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  stopsList_->setMinimumHeight(50);
  stopsList_->setToolTip(
      QStringLiteral("When it holds stops, the route buttons and Store Route visit them instead "
                     "of the Visit selection."));
  addStopButton_ = MakeButton("Add", "addStopButton", listsPane);
  removeStopButton_ = MakeButton("Remove", "removeStopButton", listsPane);
  stopUpButton_ = MakeButton("Up", "stopUpButton", listsPane);
  stopDownButton_ = MakeButton("Down", "stopDownButton", listsPane);
  bestOrderCheck_ = new QCheckBox(QStringLiteral("Best order"), listsPane);
  bestOrderCheck_->setObjectName(QStringLiteral("bestOrderCheck"));

  QWidget* const tabOrder[] = {
      fromList_,          toList_,    byJumps,      byClass,    byFuel,           outputEdit_,
      visitList_,         avoidList_, exportButton, rangeSpin_, allSystemsCheck_, findButton,
      yellowCirclesCheck_};
  for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  auto* rangeBox = new QGroupBox(QStringLiteral("Range"), outputPane);
  auto* rangeLayout = new QGridLayout(rangeBox);
  rangeLayout->addWidget(rangeSpin_, 0, 0);
  rangeLayout->addWidget(allSystemsCheck_, 0, 1);
  rangeLayout->addWidget(findButton, 1, 0, 1, 2);

  auto* pathBox = new QGroupBox(QStringLiteral("Path"), outputPane);
  auto* pathLayout = new QVBoxLayout(pathBox);
  pathLayout->addWidget(byJumps);
  pathLayout->addWidget(byClass);
  pathLayout->addWidget(byFuel);

  auto* graphBox = new QGroupBox(QStringLiteral("GraphViz"), outputPane);
  auto* graphLayout = new QVBoxLayout(graphBox);
  graphLayout->addWidget(yellowCirclesCheck_);
  graphLayout->addWidget(exportButton);

  auto* commands = new QVBoxLayout;
  commands->setContentsMargins(0, 0, 0, 0);
  commands->addWidget(rangeBox);
  commands->addWidget(pathBox);
  commands->addWidget(graphBox);
  commands->addStretch();

  // Four equal columns: the lists with their filters across the top, the Stops list under
  // Visit; below them the output box under the first three and the commands under Avoid.
  // The lists and the output box grow with the window.
  auto* lists = new QGridLayout(listsPane);
  lists->setContentsMargins(6, 6, 6, 0);
  const struct {
    const char* label;
    const char* filter;
    QListWidget* list;
  } columns[] = {{"From:", "fromFilter", fromList_},
                 {"To:", "toFilter", toList_},
                 {"Visit:", "visitFilter", visitList_},
                 {"Avoid:", "avoidFilter", avoidList_}};
  for (int column = 0; column < 4; ++column) {
    QLineEdit* filter = MakeFilter(columns[column].filter, listsPane);
    QListWidget* list = columns[column].list;
    filters_.emplace_back(filter, list);
    lists->addWidget(MakeLabel(columns[column].label, listsPane), 0, column);
    lists->addWidget(filter, 1, column);
    // The Visit list shares its column with the Stops list.
    lists->addWidget(list, 2, column, list == visitList_ ? 1 : 2, 1);
    lists->setColumnStretch(column, 1);
    connect(filter, &QLineEdit::textChanged, list,
            [list](const QString& text) { ApplyFilter(list, text); });
  }
  lists->setRowStretch(2, 3);
  lists->setRowStretch(3, 2);

  auto* stopsBox = new QGridLayout;
  stopsBox->setContentsMargins(0, 4, 0, 0);
  stopsBox->addWidget(MakeLabel("Stops:", listsPane), 0, 0, 1, 2);
  stopsBox->addWidget(stopsList_, 1, 0, 1, 2);
  stopsBox->addWidget(addStopButton_, 2, 0);
  stopsBox->addWidget(removeStopButton_, 2, 1);
  stopsBox->addWidget(stopUpButton_, 3, 0);
  stopsBox->addWidget(stopDownButton_, 3, 1);
  stopsBox->addWidget(bestOrderCheck_, 4, 0, 1, 2);
  stopsBox->setRowStretch(1, 1);
  lists->addLayout(stopsBox, 3, 2);

  // The classic controls keep their order; what is new follows them.
  QWidget* last = yellowCirclesCheck_;
  for (const auto& [filter, list] : filters_) {
    setTabOrder(last, filter);
    last = filter;
  }
  for (QWidget* widget :
       std::initializer_list<QWidget*>{stopsList_, addStopButton_, removeStopButton_, stopUpButton_,
                                       stopDownButton_, bestOrderCheck_, map_}) {
    setTabOrder(last, widget);
    last = widget;
  }

  auto* outputGrid = new QGridLayout(outputPane);
  outputGrid->setContentsMargins(6, 0, 6, 6);
  outputGrid->addWidget(outputEdit_, 0, 0, 1, 3);
  outputGrid->addLayout(commands, 0, 3);
  for (int column = 0; column < 4; ++column) outputGrid->setColumnStretch(column, 1);

  controlsSplitter_->setStretchFactor(0, 1);
  controlsSplitter_->setStretchFactor(1, 1);
  mainSplitter_->setStretchFactor(0, 0);
  mainSplitter_->setStretchFactor(1, 1);
  mainSplitter_->setSizes({660, 780});

  statusLine_ = new QLabel(this);
  statusLine_->setObjectName(QStringLiteral("statusLine"));
  statusLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->addWidget(statusLine_, 1);

  connect(byJumps, &QPushButton::clicked, this, [this] { RouteCommand(RouteMode::ByJumps); });
  connect(byClass, &QPushButton::clicked, this, [this] { RouteCommand(RouteMode::ByClass); });
  connect(byFuel, &QPushButton::clicked, this, [this] { RouteCommand(RouteMode::ByFuel); });
  connect(findButton, &QPushButton::clicked, this, &MainDialog::FindSystemsInRange);
  connect(exportButton, &QPushButton::clicked, this, &MainDialog::ExportGraphViz);

  connect(addStopButton_, &QPushButton::clicked, this, [this] {
    if (const auto visit = Selection(visitList_)) AddStop(*visit);
  });
  connect(removeStopButton_, &QPushButton::clicked, this, [this] {
    delete stopsList_->takeItem(stopsList_->currentRow());
    UpdateStopButtons();
    UpdateMapMarks();
  });
  connect(stopUpButton_, &QPushButton::clicked, this, [this] { MoveStop(-1); });
  connect(stopDownButton_, &QPushButton::clicked, this, [this] { MoveStop(+1); });
  connect(stopsList_, &QListWidget::itemSelectionChanged, this, &MainDialog::UpdateStopButtons);
  connect(visitList_, &QListWidget::itemSelectionChanged, this, &MainDialog::UpdateStopButtons);
  for (QListWidget* list : {fromList_, toList_, visitList_, avoidList_})
    connect(list, &QListWidget::itemSelectionChanged, this, &MainDialog::UpdateMapMarks);
  connect(map_, &MapPanel::SystemAction, this, &MainDialog::OnMapAction);
  connect(map_, &MapPanel::Problem, this, &MainDialog::ShowStatus);
}

void MainDialog::BuildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* open = file->addAction(QStringLiteral("&Open"), this, &MainDialog::OpenFiles);
  open->setObjectName(QStringLiteral("openAction"));
  open->setShortcut(QKeySequence::Open);
  recentMenu_ = file->addMenu(QStringLiteral("Open &Recent"));
  recentMenu_->setObjectName(QStringLiteral("recentMenu"));
  QAction* exportMap =
      file->addAction(QStringLiteral("&Export Map..."), this, &MainDialog::ExportMap);
  exportMap->setObjectName(QStringLiteral("exportMapAction"));
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
  quit->setObjectName(QStringLiteral("quitAction"));
  quit->setShortcut(QKeySequence::Quit);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  QAction* copy = edit->addAction(QStringLiteral("&Copy Output"), this, &MainDialog::CopyOutput);
  copy->setObjectName(QStringLiteral("copyOutputAction"));
  QAction* save = edit->addAction(QStringLiteral("&Save Output..."), this, &MainDialog::SaveOutput);
  save->setObjectName(QStringLiteral("saveOutputAction"));
  save->setShortcut(QKeySequence::Save);

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  QAction* store = tools->addAction(QStringLiteral("Store &Route"), this, &MainDialog::StoreRoute);
  store->setObjectName(QStringLiteral("storeRouteAction"));

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* about = help->addAction(QStringLiteral("&About"), this, &MainDialog::ShowAbout);
  about->setObjectName(QStringLiteral("aboutAction"));
}

bool MainDialog::Start(const std::vector<std::string>& files) {
  if (!files.empty()) {
    LoadPaths(files);
  } else {
    const auto choice = dialogs_.ChooseEmpireFiles(nullptr, dataFolder_);
    if (!choice) return false;
    Load(*choice);
  }
  fromList_->setFocus();
  return true;
}

void MainDialog::OpenFiles() {
  const auto choice = dialogs_.ChooseEmpireFiles(this, dataFolder_);
  if (choice) Load(*choice);
}

void MainDialog::Load(const FileChoice& choice) {
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  for (QListWidget* list : {fromList_, toList_, visitList_, avoidList_}) list->clear();
  rangeSpin_->setValue(kDefaultRange);
  WaitCursor wait;
  ShowLoadResult(LoadEmpireDatabase(choice, starMap_, rows_, *output_));
}

// Files named on the command line are loaded as the command line loads them.
void MainDialog::LoadPaths(const std::vector<std::string>& paths) {
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  std::vector<std::string> absolute;
  for (const auto& path : paths)
    absolute.push_back(QFileInfo(FromUtf8(path)).absoluteFilePath().toStdString());
  for (QListWidget* list : {fromList_, toList_, visitList_, avoidList_}) list->clear();
  rangeSpin_->setValue(kDefaultRange);
  WaitCursor wait;
  ShowLoadResult(LoadNamedFiles(absolute, starMap_, rows_, *output_));
}

void MainDialog::ShowLoadResult(const LoadResult& result) {
  map_->SetRoute(RoutePlan{});
  if (!result.ok) {
    map_->ShowMessage(QStringLiteral("No map: the empire files could not be loaded."));
    UpdateMapMarks();
    ShowStatus("Could not load the empire files: " + result.error.reason);
    return;
  }
  FillSorted(fromList_, result.lists.names);
  FillSorted(toList_, result.lists.names, kAnyUnsurveyed);
  FillSorted(visitList_, result.lists.names, kNoVisit);
  FillSorted(avoidList_, result.lists.names);
  for (const auto& [filter, list] : filters_) ApplyFilter(list, filter->text());
  std::string status = fmt::format("Loaded {} file(s): {} systems.", starMap_.databaseFiles.size(),
                                   result.lists.names.size());
  for (const auto& note : result.notes) status += " " + note + ".";
  const std::vector<std::string> dropped = DropMissingStops(result.lists);
  if (!dropped.empty())
    status += fmt::format(" Dropped stops no longer in the files: {}.", fmt::join(dropped, ", "));
  RememberFiles();
  ShowMap();
  UpdateMapMarks();
  ShowStatus(status);
}

// The whole network, as routes see it with nothing avoided; the layout is cached under
// the identities of the rows the load read, so a reload of unchanged files takes it from
// there.
void MainDialog::ShowMap() {
  store::StoreError error;
  std::vector<layout::CacheKey::File> files;
  for (const auto& path : starMap_.databaseFiles) {
    const auto rows = rows_.Rows(path, error);
    if (!rows) break;
    files.push_back({rows->Path(), rows->Identity()});
  }
  const auto network = error.Failed() ? nullptr : planner_.Graph(starMap_.databaseFiles, {}, error);
  if (!network) {
    map_->ShowMessage(QStringLiteral("No map: the empire files could not be read."));
    return;
  }
  map_->ShowNetwork(network, layout::CacheKey(std::move(files)));
}

std::optional<std::string> MainDialog::Selection(const QListWidget* list) const {
  // The selection, not the current item: a focused list has a current row without
  // anything being selected.
  const QList<QListWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  return selected.front()->text().toStdString();
}

std::set<std::string> MainDialog::AvoidSelection() const {
  std::set<std::string> names;
  for (const QListWidgetItem* item : avoidList_->selectedItems())
    names.insert(item->text().toStdString());
  return names;
}

void MainDialog::ShowStatus(const std::string& text) {
  statusLine_->setText(FromUtf8(store::Printable(text)));
}

std::vector<std::string> MainDialog::Stops() const {
  std::vector<std::string> stops;
  for (int i = 0; i < stopsList_->count(); ++i)
    stops.push_back(stopsList_->item(i)->text().toStdString());
  return stops;
}

std::vector<std::string> MainDialog::RequestStops() const {
  std::vector<std::string> stops = Stops();
  return stops.empty() ? StopsFromVisit(Selection(visitList_)) : stops;
}

// The best order applies to the Stops list only; the core leaves fewer than two stops as
// they are.
bool MainDialog::UseBestOrder() const {
  return stopsList_->count() > 0 && bestOrderCheck_->isChecked();
}

void MainDialog::AddStop(const std::string& name) {
  if (name == kNoVisit) return;
  if (static_cast<std::size_t>(stopsList_->count()) >= kMaxStops) {
    ShowStatus(fmt::format("{} is not added: at most {} stops.", name, kMaxStops));
    return;
  }
  if (!stopsList_->findItems(FromUtf8(name), Qt::MatchExactly).isEmpty()) {
    ShowStatus(fmt::format("{} is a stop already.", name));
    return;
  }
  stopsList_->addItem(FromUtf8(name));
  stopsList_->setCurrentRow(stopsList_->count() - 1);
  UpdateStopButtons();
  UpdateMapMarks();
  ShowStatus(
      fmt::format("{} stop(s): the route buttons and Store Route use them instead of the "
                  "Visit selection.",
                  stopsList_->count()));
}

void MainDialog::MoveStop(int by) {
  const int row = stopsList_->currentRow();
  const int target = row + by;
  if (row < 0 || target < 0 || target >= stopsList_->count()) return;
  QListWidgetItem* item = stopsList_->takeItem(row);
  stopsList_->insertItem(target, item);
  stopsList_->setCurrentRow(target);
  UpdateStopButtons();
  UpdateMapMarks();
}

void MainDialog::UpdateStopButtons() {
  const auto visit = Selection(visitList_);
  addStopButton_->setEnabled(visit && *visit != kNoVisit);
  const int row = stopsList_->selectedItems().isEmpty() ? -1 : stopsList_->currentRow();
  removeStopButton_->setEnabled(row >= 0);
  stopUpButton_->setEnabled(row > 0);
  stopDownButton_->setEnabled(row >= 0 && row + 1 < stopsList_->count());
}

std::vector<std::string> MainDialog::DropMissingStops(const SystemLists& lists) {
  std::vector<std::string> dropped;
  for (int i = stopsList_->count() - 1; i >= 0; --i) {
    const std::string name = stopsList_->item(i)->text().toStdString();
    if (lists.Contains(name)) continue;
    dropped.insert(dropped.begin(), name);
    delete stopsList_->takeItem(i);
  }
  UpdateStopButtons();
  return dropped;
}

void MainDialog::UpdateMapMarks() {
  MapMarks marks;
  marks.from = Selection(fromList_);
  marks.to = Selection(toList_);
  marks.stops = RequestStops();
  marks.avoid = AvoidSelection();
  map_->SetMarks(std::move(marks));
}

bool MainDialog::SelectEntry(QListWidget* list, const std::string& name) {
  const auto items = list->findItems(FromUtf8(name), Qt::MatchExactly);
  if (items.isEmpty()) {
    ShowStatus(fmt::format("{} is not in the list.", name));
    return false;
  }
  list->setCurrentItem(items.front(), QItemSelectionModel::ClearAndSelect);
  list->scrollToItem(items.front());
  return true;
}

// The map's menu sets exactly what the lists would, so that the two never disagree.
void MainDialog::OnMapAction(MapAction action, const std::string& name) {
  switch (action) {
    case MapAction::RouteFrom:
      SelectEntry(fromList_, name);
      break;
    case MapAction::RouteTo:
      SelectEntry(toList_, name);
      break;
    case MapAction::AddStop:
      AddStop(name);
      break;
    case MapAction::ToggleAvoid: {
      const auto items = avoidList_->findItems(FromUtf8(name), Qt::MatchExactly);
      if (!items.isEmpty()) items.front()->setSelected(!items.front()->isSelected());
      break;
    }
    case MapAction::RangeFrom:
      if (SelectEntry(fromList_, name)) FindSystemsInRange();
      break;
  }
}

void MainDialog::RouteCommand(RouteMode mode) {
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  const auto from = Selection(fromList_);
  const auto to = Selection(toList_);
  RoutePlan plan;
  {
    WaitCursor wait;
    plan = lanewright::RouteCommand(starMap_, planner_, from, to, RequestStops(), UseBestOrder(),
                                    AvoidSelection(), mode, *output_);
  }
  map_->SetRoute(plan);
  std::string status;
  if (!from || !to) {
    status = "Choose a system in From and in To first.";
  } else if (plan.error.Failed()) {
    status = "Could not read the empire files: " + plan.error.reason;
  } else if (!plan.AllFound()) {
    const auto missing = std::count_if(plan.directions.begin(), plan.directions.end(),
                                       [](const RouteDirection& d) { return !d.Found(); });
    status = fmt::format("No route found in {} of {} directions.", missing, plan.directions.size());
  }
  if (from && to && stopsList_->count() > 0)
    status += fmt::format("{}Through the {} stop(s) of the Stops list, not the Visit selection.",
                          status.empty() ? "" : " ", stopsList_->count());
  ShowStatus(status);
}

void MainDialog::FindSystemsInRange() {
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  const auto start = Selection(fromList_);
  store::StoreError error;
  {
    WaitCursor wait;
    error = lanewright::FindSystemsInRange(starMap_, rows_, start, AvoidSelection(),
                                           rangeSpin_->value(), allSystemsCheck_->isChecked(),
                                           *output_);
  }
  if (!start) {
    ShowStatus("Choose a starting system in From first.");
  } else if (error.Failed()) {
    ShowStatus("Could not read the empire files: " + error.reason);
  } else {
    ShowStatus({});
  }
}

void MainDialog::ExportGraphViz() {
  const auto target = dialogs_.ChooseExportTarget(this, lastExportTarget_);
  if (!target) return;
  lastExportTarget_ = *target;
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  const auto start = Selection(fromList_);
  ExportResult result;
  {
    WaitCursor wait;
    result = lanewright::ExportGraphViz(starMap_, rows_, start, AvoidSelection(),
                                        yellowCirclesCheck_->isChecked(), *target, *output_);
  }
  if (!start) {
    ShowStatus("Choose a starting system in From first.");
  } else if (result.error.Failed()) {
    ShowStatus("The map was not written: " + result.error.reason);
  } else {
    ShowStatus(fmt::format("Map written to {}.", *target));
  }
}

void MainDialog::StoreRoute() {
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  const auto from = Selection(fromList_);
  const auto to = Selection(toList_);
  const std::vector<std::string> stops = RequestStops();
  const bool bestOrder = UseBestOrder();
  starMap_.avoidSystems = AvoidSelection();
  if (!from || !to) {
    output_->SetText("not all selected.");
    ShowStatus("Choose a system in From and in To first.");
    return;
  }

  assert(turnEntry_);
  const std::unique_ptr<TurnEntryStore> turnEntry = turnEntry_();
  store::StoreError error;
  bool usable = false;
  {
    WaitCursor wait;
    usable = turnEntry->Check(error);
  }
  // Told now rather than after the player has filled in the dialog.
  if (!usable) {
    const std::string message =
        fmt::format("Could not open the turn entry database: {}", error.reason);
    output_->SetText(message + "\r\n");
    ShowStatus(message);
    return;
  }

  ConvoyDialog dialog(starMap_.empires, DefaultConvoyName(*from, *to), *turnEntry, this);
  dialog.ShowStops(stops, bestOrder);
  dialogs_.Exec(dialog);
  const ConvoyValues& values = dialog.values();
  if (values.cancelled) return;

  StoreRouteResult result;
  {
    WaitCursor wait;
    RouteRequest request;
    request.from = *from;
    request.stops = stops;
    request.to = *to;
    request.bestOrder = bestOrder;
    result = lanewright::StoreRoute(starMap_, planner_, request, values, *turnEntry, *output_);
  }
  map_->SetRoute(result.plan);
  const bool notProven = std::any_of(result.plan.directions.begin(), result.plan.directions.end(),
                                     [](const RouteDirection& d) { return d.orderNotProvenBest; });
  if (result.plan.error.Failed()) {
    ShowStatus("No orders were stored: could not read the empire files: " +
               result.plan.error.reason);
  } else if (result.storeError.Failed()) {
    ShowStatus("Could not store the orders: " + result.storeError.reason);
  } else if (result.stored) {
    ShowStatus(fmt::format("Stored {} orders in the turn entry database{}.", result.ordersStored,
                           notProven ? "; the order of the stops is found by a heuristic, "
                                       "order not proven best"
                                     : ""));
  } else {
    ShowStatus("No route found; no orders were stored.");
  }
}

void MainDialog::ShowAbout() {
  AboutDialog about(this);
  dialogs_.Exec(about);
}

void MainDialog::ExportMap() {
  if (!map_->HasMap()) {
    ShowStatus("There is no map to export yet.");
    return;
  }
  const auto target =
      dialogs_.ChooseSaveFile(this, QStringLiteral("Export Map"), lastMapExport_,
                              QStringLiteral("PNG image (*.png);;SVG drawing (*.svg)"));
  if (!target) return;
  lastMapExport_ = *target;
  std::string failure;
  if (map_->ExportView(FromUtf8(*target), failure)) {
    ShowStatus(fmt::format("Map view saved to {}.", *target));
  } else {
    ShowStatus("The map view was not saved: " + failure);
  }
}

void MainDialog::CopyOutput() {
  QApplication::clipboard()->setText(outputEdit_->toPlainText());
  ShowStatus("The output is on the clipboard.");
}

void MainDialog::SaveOutput() {
  const auto target = dialogs_.ChooseSaveFile(this, QStringLiteral("Save Output"), lastOutputSave_,
                                              QStringLiteral("Text files (*.txt);;All files (*)"));
  if (!target) return;
  lastOutputSave_ = *target;
  const std::string text = WithPlatformLineEnds(output_->Text());
  QSaveFile file(FromUtf8(*target));
  const bool saved = file.open(QIODevice::WriteOnly) &&
                     file.write(text.data(), static_cast<qint64>(text.size())) ==
                         static_cast<qint64>(text.size()) &&
                     file.commit();
  if (saved) {
    ShowStatus(fmt::format("Output saved to {}.", *target));
  } else {
    ShowStatus(fmt::format("The output was not saved to {}: {}", *target,
                           file.errorString().toStdString()));
  }
}

namespace {

// The recent sets, the last loaded first; each set is its paths.
QList<QStringList> ReadRecent(QSettings& settings) {
  QList<QStringList> recent;
  const int count = settings.beginReadArray(kRecentKey);
  for (int i = 0; i < count; ++i) {
    settings.setArrayIndex(i);
    const QStringList paths = settings.value(QStringLiteral("files")).toStringList();
    if (!paths.isEmpty()) recent.push_back(paths);
  }
  settings.endArray();
  return recent;
}

void WriteRecent(QSettings& settings, const QList<QStringList>& recent) {
  settings.remove(kRecentKey);
  settings.beginWriteArray(kRecentKey, static_cast<int>(recent.size()));
  for (int i = 0; i < recent.size(); ++i) {
    settings.setArrayIndex(i);
    settings.setValue(QStringLiteral("files"), recent[i]);
  }
  settings.endArray();
}

}  // namespace

void MainDialog::RememberFiles() {
  QStringList paths;
  for (const auto& path : starMap_.databaseFiles) paths.push_back(FromUtf8(path));
  QSettings settings;
  QList<QStringList> recent = ReadRecent(settings);
  recent.removeAll(paths);
  recent.prepend(paths);
  while (recent.size() > kRecentSets) recent.removeLast();
  WriteRecent(settings, recent);
  UpdateRecentMenu();
}

void MainDialog::UpdateRecentMenu() {
  recentMenu_->clear();
  QSettings settings;
  for (const QStringList& paths : ReadRecent(settings)) {
    QAction* action = recentMenu_->addAction(RecentEntryText(paths));
    connect(action, &QAction::triggered, this, [this, paths] { OpenRecent(paths); });
  }
  recentMenu_->setEnabled(!recentMenu_->isEmpty());
}

// A set opens as the open dialog would give it: one file on its own, several files of one
// folder as that folder and their names; files of several folders as the command line
// gives them.
void MainDialog::OpenRecent(const QStringList& paths) {
  std::vector<std::string> files;
  for (const QString& path : paths) files.push_back(path.toStdString());
  const QString folder = QFileInfo(paths.front()).absolutePath();
  const bool oneFolder = std::all_of(paths.begin(), paths.end(), [&](const QString& path) {
    return QFileInfo(path).absolutePath() == folder;
  });
  if (oneFolder) {
    Load(*MakeFileChoice(files));
  } else {
    LoadPaths(files);
  }
}

void MainDialog::SaveSettings() {
  QSettings settings;
  settings.setValue(kGeometryKey, saveGeometry());
  settings.setValue(kMainSplitterKey, mainSplitter_->saveState());
  settings.setValue(kControlsSplitterKey, controlsSplitter_->saveState());
}

void MainDialog::closeEvent(QCloseEvent* event) {
  SaveSettings();
  QMainWindow::closeEvent(event);
}

}  // namespace lanewright::gui
