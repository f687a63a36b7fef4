#include "app/gui/MainDialog.h"

#include <fmt/format.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCollator>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cassert>
#include <utility>

#include "app/gui/AboutDialog.h"
#include "app/gui/ConvoyDialog.h"
#include "export/RangeCommands.h"
#include "orders/StoreRoute.h"
#include "route/FindRoute.h"
#include "starmap/LoadEmpireDatabase.h"

namespace lanewright::gui {
namespace {

constexpr int kDefaultRange = 5;

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
  resize(860, 560);
}

MainDialog::~MainDialog() = default;

void MainDialog::BuildWidgets() {
  auto* central = new QWidget(this);
  setCentralWidget(central);

  // Created in the order the Tab key walks them.
  fromList_ = MakeList("fromList", QAbstractItemView::SingleSelection, central);
  toList_ = MakeList("toList", QAbstractItemView::SingleSelection, central);
  auto* byJumps = MakeButton("Calculate by Jumps", "byJumpsButton", central);
  auto* byClass = MakeButton("Calculate by WP-Class", "byClassButton", central);
  auto* byFuel = MakeButton("Calculate by Fuel Usage", "byFuelButton", central);
  outputEdit_ = new QPlainTextEdit(central);
  outputEdit_->setObjectName(QStringLiteral("outputBox"));
  outputEdit_->setReadOnly(true);
  outputEdit_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  outputEdit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // A report line (the separator, a long jump line) stays one line.
  outputEdit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  outputEdit_->setTabChangesFocus(true);
  visitList_ = MakeList("visitList", QAbstractItemView::SingleSelection, central);
  // Each click toggles an entry, as in the Avoid list of the game's own tools.
  avoidList_ = MakeList("avoidList", QAbstractItemView::MultiSelection, central);
  auto* exportButton = MakeButton("Export to GraphViz", "exportButton", central);
  rangeSpin_ = new QSpinBox(central);
  rangeSpin_->setObjectName(QStringLiteral("rangeSpin"));
  rangeSpin_->setRange(0, 999);
  rangeSpin_->setValue(kDefaultRange);
  rangeSpin_->setAlignment(Qt::AlignRight);
  allSystemsCheck_ = new QCheckBox(QStringLiteral("All systems"), central);
  allSystemsCheck_->setObjectName(QStringLiteral("allSystemsCheck"));
  auto* findButton = MakeButton("Find Systems in Range", "findInRangeButton", central);
  yellowCirclesCheck_ = new QCheckBox(QStringLiteral("Yellow Circles"), central);
  yellowCirclesCheck_->setObjectName(QStringLiteral("yellowCirclesCheck"));

  QWidget* const tabOrder[] = {
      fromList_,          toList_,    byJumps,      byClass,    byFuel,           outputEdit_,
      visitList_,         avoidList_, exportButton, rangeSpin_, allSystemsCheck_, findButton,
      yellowCirclesCheck_};
  for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  auto* rangeBox = new QGroupBox(QStringLiteral("Range"), central);
  auto* rangeLayout = new QGridLayout(rangeBox);
  rangeLayout->addWidget(rangeSpin_, 0, 0);
  rangeLayout->addWidget(allSystemsCheck_, 0, 1);
  rangeLayout->addWidget(findButton, 1, 0, 1, 2);

  auto* pathBox = new QGroupBox(QStringLiteral("Path"), central);
  auto* pathLayout = new QVBoxLayout(pathBox);
  pathLayout->addWidget(byJumps);
  pathLayout->addWidget(byClass);
  pathLayout->addWidget(byFuel);

  auto* graphBox = new QGroupBox(QStringLiteral("GraphViz"), central);
  auto* graphLayout = new QVBoxLayout(graphBox);
  graphLayout->addWidget(yellowCirclesCheck_);
  graphLayout->addWidget(exportButton);

  auto* commands = new QVBoxLayout;
  commands->setContentsMargins(0, 0, 0, 0);
  commands->addWidget(rangeBox);
  commands->addWidget(pathBox);
  commands->addWidget(graphBox);
  commands->addStretch();

  // Four equal columns: the lists across the top; below them the output box under the
  // first three and the commands under the Avoid list. Only the output box grows in height.
  auto* grid = new QGridLayout(central);
  grid->addWidget(MakeLabel("From:", central), 0, 0);
  grid->addWidget(MakeLabel("To:", central), 0, 1);
  grid->addWidget(MakeLabel("Visit:", central), 0, 2);
  grid->addWidget(MakeLabel("Avoid:", central), 0, 3);
  grid->addWidget(fromList_, 1, 0);
  grid->addWidget(toList_, 1, 1);
  grid->addWidget(visitList_, 1, 2);
  grid->addWidget(avoidList_, 1, 3);
  grid->addWidget(outputEdit_, 2, 0, 1, 3);
  grid->addLayout(commands, 2, 3);
  for (int column = 0; column < 4; ++column) grid->setColumnStretch(column, 1);
  grid->setRowStretch(2, 1);
  for (QListWidget* list : {fromList_, toList_, visitList_, avoidList_}) list->setFixedHeight(150);

  statusLine_ = new QLabel(this);
  statusLine_->setObjectName(QStringLiteral("statusLine"));
  statusLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->addWidget(statusLine_, 1);

  connect(byJumps, &QPushButton::clicked, this, [this] { RouteCommand(RouteMode::ByJumps); });
  connect(byClass, &QPushButton::clicked, this, [this] { RouteCommand(RouteMode::ByClass); });
  connect(byFuel, &QPushButton::clicked, this, [this] { RouteCommand(RouteMode::ByFuel); });
  connect(findButton, &QPushButton::clicked, this, &MainDialog::FindSystemsInRange);
  connect(exportButton, &QPushButton::clicked, this, &MainDialog::ExportGraphViz);
}

void MainDialog::BuildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* open = file->addAction(QStringLiteral("&Open"), this, &MainDialog::OpenFiles);
  open->setObjectName(QStringLiteral("openAction"));
  open->setShortcut(QKeySequence::Open);
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
  quit->setObjectName(QStringLiteral("quitAction"));
  quit->setShortcut(QKeySequence::Quit);

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
  if (!result.ok) {
    ShowStatus(
        QStringLiteral("Could not load the empire files: %1").arg(FromUtf8(result.error.reason)));
    return;
  }
  FillSorted(fromList_, result.lists.names);
  FillSorted(toList_, result.lists.names, kAnyUnsurveyed);
  FillSorted(visitList_, result.lists.names, kNoVisit);
  FillSorted(avoidList_, result.lists.names);
  QString status = QStringLiteral("Loaded %1 file(s): %2 systems.")
                       .arg(starMap_.databaseFiles.size())
                       .arg(result.lists.names.size());
  for (const auto& note : result.notes)
    status += QStringLiteral(" ") + FromUtf8(note) + QStringLiteral(".");
  ShowStatus(status);
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

void MainDialog::ShowStatus(const QString& text) { statusLine_->setText(text); }

void MainDialog::RouteCommand(RouteMode mode) {
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  const auto from = Selection(fromList_);
  const auto to = Selection(toList_);
  RoutePlan plan;
  {
    WaitCursor wait;
    plan = lanewright::RouteCommand(starMap_, planner_, from, to, Selection(visitList_),
                                    AvoidSelection(), mode, *output_);
  }
  if (!from || !to) {
    ShowStatus(QStringLiteral("Choose a system in From and in To first."));
  } else if (plan.error.Failed()) {
    ShowStatus(
        QStringLiteral("Could not read the empire files: %1").arg(FromUtf8(plan.error.reason)));
  } else if (!plan.AllFound()) {
    const auto missing = std::count_if(plan.directions.begin(), plan.directions.end(),
                                       [](const RouteDirection& d) { return !d.Found(); });
    ShowStatus(QStringLiteral("No route found in %1 of %2 directions.")
                   .arg(missing)
                   .arg(plan.directions.size()));
  } else {
    ShowStatus(QString());
  }
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
    ShowStatus(QStringLiteral("Choose a starting system in From first."));
  } else if (error.Failed()) {
    ShowStatus(QStringLiteral("Could not read the empire files: %1").arg(FromUtf8(error.reason)));
  } else {
    ShowStatus(QString());
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
    ShowStatus(QStringLiteral("Choose a starting system in From first."));
  } else if (result.error.Failed()) {
    ShowStatus(QStringLiteral("The map was not written: %1").arg(FromUtf8(result.error.reason)));
  } else {
    ShowStatus(QStringLiteral("Map written to %1.").arg(FromUtf8(*target)));
  }
}

void MainDialog::StoreRoute() {
  const auto showOutput = qScopeGuard([this] { output_->Show(); });
  const auto from = Selection(fromList_);
  const auto to = Selection(toList_);
  const std::optional<std::string> visit = Selection(visitList_);
  starMap_.avoidSystems = AvoidSelection();
  if (!from || !to) {
    output_->SetText("not all selected.");
    ShowStatus(QStringLiteral("Choose a system in From and in To first."));
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
    ShowStatus(FromUtf8(message));
    return;
  }

  ConvoyDialog dialog(starMap_.empires, DefaultConvoyName(*from, *to), *turnEntry, this);
  dialogs_.Exec(dialog);
  const ConvoyValues& values = dialog.values();
  if (values.cancelled) return;

  StoreRouteResult result;
  {
    WaitCursor wait;
    RouteRequest request;
    request.from = *from;
    request.stops = StopsFromVisit(visit);
    request.to = *to;
    result = lanewright::StoreRoute(starMap_, planner_, request, values, *turnEntry, *output_);
  }
  if (result.plan.error.Failed()) {
    ShowStatus(QStringLiteral("No orders were stored: could not read the empire files: %1")
                   .arg(FromUtf8(result.plan.error.reason)));
  } else if (result.storeError.Failed()) {
    ShowStatus(
        QStringLiteral("Could not store the orders: %1").arg(FromUtf8(result.storeError.reason)));
  } else if (result.stored) {
    ShowStatus(
        QStringLiteral("Stored %1 orders in the turn entry database.").arg(result.ordersStored));
  } else {
    ShowStatus(QStringLiteral("No route found; no orders were stored."));
  }
}

void MainDialog::ShowAbout() {
  AboutDialog about(this);
  dialogs_.Exec(about);
}

}  // namespace lanewright::gui
