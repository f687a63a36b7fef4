// The windows, driven as a user would, with the file dialogs and the turn entry database
// answered in code.

#include <QtTest>
#include <QtWidgets>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <utility>

#include "app/gui/AboutDialog.h"
#include "app/gui/ConvoyDialog.h"
#include "app/gui/Dialogs.h"
#include "app/gui/MainDialog.h"
#include "app/gui/MapPanel.h"
#include "route/RouteGraph.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

using namespace lanewright;
using namespace lanewright::gui;
using lanewright::testing::EmpireRow;

namespace {

class StubDialogs final : public Dialogs {
 public:
  std::optional<FileChoice> fileAnswer;  // given once; empty: cancelled
  int fileQuestions = 0;
  std::string lastFolder;
  std::optional<std::string> exportAnswer, saveAnswer;
  std::function<void(QDialog&)> onExec;
  QStringList execTitles;

  std::optional<FileChoice> ChooseEmpireFiles(QWidget*, const std::string& folder) override {
    ++fileQuestions;
    lastFolder = folder;
    return std::exchange(fileAnswer, std::nullopt);
  }
  std::optional<std::string> ChooseExportTarget(QWidget*, const std::string&) override {
    return exportAnswer;
  }
  std::optional<std::string> ChooseSaveFile(QWidget*, const QString&, const std::string&,
                                            const QString&) override {
    return saveAnswer;
  }
  int Exec(QDialog& dialog) override {
    execTitles.push_back(dialog.windowTitle());
    dialog.show();
    if (onExec) onExec(dialog);
    if (dialog.isVisible()) dialog.reject();
    return dialog.result();
  }
};

struct TurnEntryData {
  std::map<std::int32_t, std::int32_t> highest;
  std::map<std::int32_t, std::vector<std::int32_t>> fleets;
  bool usable = true;
  std::vector<OrderRow> inserted;
  int fleetQueries = 0;
};

// Each Store Route run opens a store of its own; they all share the test's data.
class FakeTurnEntry final : public TurnEntryStore {
 public:
  explicit FakeTurnEntry(TurnEntryData& data) : d_(data) {}
  std::int32_t HighestOrderNumber(std::int32_t empire, store::StoreError&) override {
    return d_.highest[empire];
  }
  std::vector<std::int32_t> ListFleets(std::int32_t empire, store::StoreError&) override {
    ++d_.fleetQueries;
    return d_.fleets[empire];
  }
  bool InsertOrders(std::int32_t empire, const DecideRows& decide,
                    store::StoreError& err) override {
    std::vector<std::int32_t> taken;
    if (d_.highest[empire] > 0) taken.push_back(d_.highest[empire]);
    const std::vector<OrderRow> rows = decide(taken, err);
    if (err.Failed()) return false;
    d_.inserted.insert(d_.inserted.end(), rows.begin(), rows.end());
    return true;
  }
  bool Check(store::StoreError& err) override {
    if (!d_.usable) err = {store::E_FAIL, "/data/turn.mdb: no such file"};
    return d_.usable;
  }

 private:
  TurnEntryData& d_;
};

template <typename T>
T* Child(QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(QString::fromUtf8(name));
  if (!child) qFatal("no child %s", name);
  return child;
}

// Three routes from Alpha to Beta, each the cheapest in one mode: direct by class M (jumps),
// over Gamma by class A (class), over Delta and Epsilon by class Q (fuel); all go both ways.
const std::vector<EmpireRow> kEmpire3 = {
    {1, 3, "Alpha", "BetaM", 1},      {1, 3, "Beta", "AlphaM", 2},
    {1, 3, "Alpha", "GammaA", 3},     {1, 3, "Gamma", "AlphaA", 4},
    {1, 3, "Gamma", "BetaA", 5},      {1, 3, "Beta", "GammaA", 6},
    {1, 3, "Alpha", "DeltaQ", 7},     {1, 3, "Delta", "AlphaQ", 8},
    {1, 3, "Delta", "EpsilonQ", 9},   {1, 3, "Epsilon", "DeltaQ", 10},
    {1, 3, "Epsilon", "BetaQ", 11},   {1, 3, "Beta", "EpsilonQ", 12},
    {1, 3, "Alpha", "aardvarkB", 13}, {1, 3, "aardvark", "AlphaB", 14},
    {1, 3, "aardvark", "?CC", 15}};
const std::vector<EmpireRow> kEmpire7 = {{1, 7, "Beta", "OmegaD", 16},
                                         {1, 7, "Omega", "BetaD", 17}};

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TempDir> dir_;
  std::string empire3_;
  StubDialogs dialogs_;
  TurnEntryData turnData_;
  FakeTurnEntry turnEntry_{turnData_};
  std::unique_ptr<MainDialog> window_;

  // A shown main window that has loaded both empire files through the open dialog.
  void OpenWindow() {
    dialogs_.fileAnswer = {FileChoice{dir_->path().string(), {"empire3.db", "empire7.db"}}};
    QVERIFY(window_->Start({}));
    window_->show();
  }
  QString Output() { return Child<QPlainTextEdit>(window_.get(), "outputBox")->toPlainText(); }
  QString Status() { return Child<QLabel>(window_.get(), "statusLine")->text(); }
  enum Which { kAll, kVisible, kSelected };
  QStringList Entries(const char* list, Which which = kAll) {
    QStringList texts;
    auto* widget = Child<QListWidget>(window_.get(), list);
    for (int i = 0; i < widget->count(); ++i) {
      const QListWidgetItem* item = widget->item(i);
      if (which == kAll || (which == kVisible ? !item->isHidden() : item->isSelected()))
        texts << item->text();
    }
    return texts;
  }
  // A click on the entry, as the user makes it: in the Avoid list it adds to the selection.
  void Select(const char* list, const QString& text) {
    auto* widget = Child<QListWidget>(window_.get(), list);
    const auto items = widget->findItems(text, Qt::MatchExactly);
    QVERIFY2(items.size() == 1, qPrintable(text));
    widget->scrollToItem(items.front());
    QTest::mouseClick(widget->viewport(), Qt::LeftButton, {},
                      widget->visualItemRect(items.front()).center());
    QVERIFY(items.front()->isSelected());
  }
  void Route(const char* button = nullptr) {
    Select("fromList", "Alpha");
    Select("toList", "Beta");
    if (button) Click(button);
  }
  void Click(const char* button) { Child<QPushButton>(window_.get(), button)->click(); }
  void Trigger(const char* action) { Child<QAction>(window_.get(), action)->trigger(); }

  MapView* View() { return window_->map()->view(); }
  const MapModel& Model() { return *window_->map()->scene()->model(); }
  MapModel::NodeId Node(const char* name) { return Model().Find(name).value(); }
  void WaitForMap() { QTRY_VERIFY_WITH_TIMEOUT(window_->map()->HasMap(), 30000); }
  // The entry of the menu a click on a system of the map opens.
  QAction* MenuEntry(const char* system, const char* action) {
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, {},
                      View()->mapFromScene(Model().Position(Node(system))));
    QMenu* menu = View()->systemMenu();
    return menu ? menu->findChild<QAction*>(QString::fromUtf8(action)) : nullptr;
  }
  void MapMenu(const char* system, const char* action) {
    QAction* entry = MenuEntry(system, action);
    QVERIFY2(entry && entry->isEnabled(), action);
    entry->trigger();
    View()->systemMenu()->close();
  }
  void AddStops(const QStringList& names) {
    for (const QString& name : names) {
      Select("visitList", name);
      Click("addStopButton");
    }
  }

 private slots:
  void initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    dir_ = std::make_unique<testing::TempDir>();
    // Settings and cached layouts go to the test's folder, never into the home folder.
    QCoreApplication::setOrganizationName(QStringLiteral("Lanewright"));
    QCoreApplication::setApplicationName(QStringLiteral("gui_test"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir_->File("config")));
    qputenv("XDG_CACHE_HOME", dir_->File("cache").c_str());
    empire3_ = dir_->File("empire3.db");
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, empire3_, kEmpire3);
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, dir_->File("empire7.db"), kEmpire7);
  }

  void init() {
    dialogs_ = StubDialogs{};
    turnData_ = TurnEntryData{};
    window_ = std::make_unique<MainDialog>(
        dialogs_, [this] { return std::make_unique<FakeTurnEntry>(turnData_); }, "/data/kolven");
  }

  void cleanup() { window_.reset(); }

  // Cancelling the first file dialog ends quietly; files named on the command line load
  // without a question; failures name the file; recent files are remembered.
  void startWithoutAndWithFilesAndRemembered() {
    QVERIFY(!window_->Start({}));
    QCOMPARE(dialogs_.lastFolder, std::string("/data/kolven"));
    QVERIFY(!window_->isVisible());
    QVERIFY(window_->Start({dir_->File("missing\x1b[2J.db")}));
    QCOMPARE(dialogs_.fileQuestions, 1);
    QVERIFY(Output().endsWith("failed with hr=-2147467259"));
    QVERIFY(Entries("fromList").isEmpty());
    // The status line shows the name's escape sequence, and does not pass it on.
    QVERIFY2(Status().contains("missing\\x1b[2J.db"), qPrintable(Status()));

    const std::string copy = dir_->File("copy.db");
    std::filesystem::copy_file(empire3_, copy);
    QVERIFY(window_->Start({copy}));
    QVERIFY(!Entries("fromList").contains("Omega"));
    std::filesystem::remove(copy);
    Route("byJumpsButton");
    QVERIFY2(Status().contains("copy.db"), qPrintable(Status()));

    // The last sets of files, the window's size and its splitters outlive the window.
    QSettings().clear();
    OpenWindow();
    QVERIFY(window_->Start({empire3_}));
    window_->resize(1000, 700);
    auto* splitter = Child<QSplitter>(window_.get(), "mainSplitter");
    splitter->setSizes({520, 480});
    const QList<int> sizes = splitter->sizes();
    window_->close();

    init();
    window_->show();
    QCOMPARE(window_->size(), QSize(1000, 700));
    QCOMPARE(Child<QSplitter>(window_.get(), "mainSplitter")->sizes(), sizes);
    const QString folder = QString::fromStdString(dir_->path().string());
    const auto recent = Child<QMenu>(window_.get(), "recentMenu")->actions();
    QCOMPARE(recent.size(), 2);
    QCOMPARE(recent[0]->text(), "empire3.db (" + folder + ")");
    QCOMPARE(recent[1]->text(), "empire3.db, empire7.db (" + folder + ")");
    recent[1]->trigger();
    QVERIFY(Output().startsWith("multiple dbfiles on path " + folder + "\n"));
  }

  // The lists come in the desktop's order and can be filtered; each route button plans the
  // round trip in its own mode once both ends are chosen; Find in Range needs only the start.
  void listsRouteAndRangeButtonsAndFilters() {
    OpenWindow();
    QCOMPARE(window_->windowTitle(), "Lanewright V2.19");
    // Case does not decide the order: the lower-case name comes first.
    const QStringList systems = {"aardvark", "Alpha", "Beta",  "Delta",
                                 "Epsilon",  "Gamma", "Omega", "XC"};
    QCOMPARE(Entries("fromList"), systems);
    QCOMPARE(Entries("avoidList"), systems);
    QVERIFY(Entries("toList").contains("XX") && Entries("visitList").contains("[none]"));
    QCOMPARE(Child<QSpinBox>(window_.get(), "rangeSpin")->value(), 5);

    const QString before = Output();
    Trigger("openAction");  // cancelled: the loaded files stay
    QCOMPARE(dialogs_.fileQuestions, 2);
    QCOMPARE(Output(), before);
    QCOMPARE(window_->starMap().empires, (std::set<std::int32_t>{3, 7}));

    Click("findInRangeButton");
    QCOMPARE(Output(), "Please select starting point in first list.");
    Select("fromList", "Alpha");
    Click("byClassButton");
    QCOMPARE(Output(), "not all selected.");
    Select("toList", "Beta");
    const std::pair<const char*, QString> buttons[] = {
        {"byJumpsButton", "Length: 1 WPs: 13 Fuel Modifer: 144"},
        {"byClassButton", "Length: 2 WPs: 2 Fuel Modifer: 2"},
        {"byFuelButton", "Length: 3 WPs: 51 Fuel Modifer: 0"}};
    for (const auto& [button, costs] : buttons) {
      Click(button);
      QCOMPARE(Output().count("Costs for trip: " + costs + "\n"), 2);  // both ways
      QVERIFY(!Output().contains('\r'));
    }
    QVERIFY(Status().isEmpty());

    Child<QSpinBox>(window_.get(), "rangeSpin")->setValue(2);
    Child<QCheckBox>(window_.get(), "allSystemsCheck")->setChecked(true);
    Click("findInRangeButton");
    QVERIFY2(Output().startsWith("Alpha(0)\nBeta(1)\n") && Output().contains("Epsilon(2)\n"),
             qPrintable(Output()));

    // Filters hide entries but keep selections.
    Select("avoidList", "Gamma");
    Select("avoidList", "Delta");
    Child<QLineEdit>(window_.get(), "fromFilter")->setText("EP");
    Child<QLineEdit>(window_.get(), "avoidFilter")->setText("ta");
    Child<QLineEdit>(window_.get(), "toFilter")->setText("nothing");
    QCOMPARE(Entries("fromList", kVisible), QStringList{"Epsilon"});
    QCOMPARE(Entries("avoidList", kVisible), (QStringList{"Beta", "Delta"}));
    QCOMPARE(Entries("toList", kVisible), QStringList{"XX"});  // not a name: never filtered away
    QCOMPARE(Entries("fromList", kSelected), QStringList{"Alpha"});
    QCOMPARE(Entries("avoidList", kSelected), (QStringList{"Delta", "Gamma"}));
    Click("byClassButton");
    QVERIFY(Output().startsWith("Alpha -> Beta\n\n"));
    QCOMPARE(window_->starMap().avoidSystems, (std::set<std::string>{"Delta", "Gamma"}));
    // A reload keeps filtering; emptying the filter shows everything again.
    OpenWindow();
    QCOMPARE(Entries("fromList", kVisible), QStringList{"Epsilon"});
    Child<QLineEdit>(window_.get(), "fromFilter")->clear();
    QCOMPARE(Entries("fromList", kVisible), Entries("fromList"));
  }

  // The map shows every system of the files, draws both directions of a route where the
  // systems are, and marks what the lists select; its menu sets the lists.
  void mapShowsSystemsRouteAndMarksAndSetsTheLists() {
    OpenWindow();
    WaitForMap();
    for (const QString& name : Entries("fromList"))
      QVERIFY2(Model().Find(name.toStdString()), qPrintable(name));
    QCOMPARE(Model().Edges().size(), kEmpire3.size() + kEmpire7.size());

    // Without Delta the fuel-free route is closed: the next cheapest goes over Gamma.
    Select("avoidList", "Delta");
    Route("byFuelButton");
    const MapScene::Shown& shown = window_->map()->scene()->shown();
    const auto [alpha, beta, gamma] = std::tuple(Node("Alpha"), Node("Beta"), Node("Gamma"));
    QVERIFY(shown.routeJumps == decltype(shown.routeJumps)({{{alpha, gamma}, {gamma, beta}},
                                                            {{beta, gamma}, {gamma, alpha}}}));
    QVERIFY(shown.from == alpha && shown.to == beta);
    QVERIFY(shown.avoided[Node("Delta")] && !shown.avoided[gamma]);
    QVERIFY(window_->map()->FindSystem("psil"));  // the only name that holds it
    QCOMPARE(shown.found, Node("Epsilon"));
    QVERIFY(QLineF(View()->mapToScene(View()->viewport()->rect().center()),
                   Model().Position(Node("Epsilon")))
                .length() < 2);

    // On screen: beside the middle of its longest jump each direction shows its own colour.
    const QImage image = View()->viewport()->grab().toImage();
    for (std::size_t d = 0; d < 2; ++d) {
      QLineF longest;
      for (const auto& [a, b] : shown.routeJumps[d]) {
        const QLineF line(View()->mapFromScene(Model().Position(a)),
                          View()->mapFromScene(Model().Position(b)));
        if (line.length() > longest.length()) longest = line;
      }
      const QPointF along = longest.unitVector().p2() - longest.p1();
      const QPointF at = longest.center() - along * 8 + QPointF(-along.y(), along.x()) * 3;
      const QColor pixel = image.pixelColor(at.toPoint()), wanted = MapScene::DirectionColour(d);
      QVERIFY2(
          std::abs(pixel.red() - wanted.red()) < 60 && std::abs(pixel.blue() - wanted.blue()) < 60,
          qPrintable(pixel.name()));
    }

    // A click on a system offers what the lists offer and sets exactly what they show.
    Child<QSpinBox>(window_.get(), "rangeSpin")->setValue(1);
    MapMenu("Gamma", "routeFromAction");
    QCOMPARE(Entries("fromList", kSelected), QStringList{"Gamma"});
    MapMenu("XC", "routeToAction");  // the stub of an unexplored warp point
    QCOMPARE(Entries("toList", kSelected), QStringList{"XC"});
    MapMenu("Gamma", "addStopAction");
    QCOMPARE(Entries("stopsList"), QStringList{"Gamma"});
    for (const char* system : {"Delta", "Omega"}) MapMenu(system, "avoidAction");  // Delta: off
    QCOMPARE(Entries("avoidList", kSelected), QStringList{"Omega"});
    MapMenu("Beta", "rangeAction");
    QCOMPARE(Entries("fromList", kSelected), QStringList{"Beta"});
    QCOMPARE(Output(), "Alpha (M: 2)\nGamma (A: 6)\nEpsilon (Q: 12)\n");

    QCOMPARE(shown.stops, std::vector<MapModel::NodeId>{gamma});
    // Only a route to it makes sense for a stub; the menu says what Avoid will do.
    QVERIFY(!MenuEntry("XC", "routeFromAction")->isEnabled());
    QCOMPARE(MenuEntry("Omega", "avoidAction")->text(), "Do not avoid");
    View()->systemMenu()->close();
  }

  // For any region the map's grid finds what looking at every system and warp point finds,
  // long warp points included; a click finds the system whose box it hits.
  void mapIndexAgreesWithLookingAtEverything() {
    std::mt19937 random(7);
    const auto below = [&](int n) { return static_cast<int>(random() % n); };
    constexpr int kSide = 45, kCount = kSide * kSide;
    const auto name = [](int i) { return "N" + std::to_string(i); };
    std::vector<EmpireRow> rows;
    for (int i = 0; i < kCount; ++i) {
      rows.push_back({1, 3, name(i), name(i % kSide + 1 < kSide ? i + 1 : i - 1) + "C", 2 * i + 1});
      rows.push_back({1, 3, name(i), name((i + kSide) % kCount) + "D", 2 * i + 2});
    }
    for (int i = 0; i < 40; ++i)  // long warp points and unexplored ones
      rows.push_back({1, 3, name(below(kCount)),
                      (i % 2 ? "?" + std::to_string(i) : name(below(kCount))) + "E", 100000 + i});
    const std::string path = dir_->File("grid.db");
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, path, rows);
    store::StoreError err;
    const std::shared_ptr<const EmpireRows> files[] = {ReadEmpireRows(path, err)};
    QVERIFY(files[0]);
    const auto network = std::make_shared<const RouteGraph>(BuildRouteGraph(files, {}));
    const layout::MapGraph graph = layout::MapGraphOf(*network);
    layout::MapLayout placed;
    for (std::size_t i = 0; i < graph.nodes.size(); ++i)  // boxes never overlap
      placed.positions.push_back({(i % 60) * 90.0 + below(30), (i / 60) * 40.0 + below(15)});
    placed.bounds = layout::BoundsOf(placed.positions);
    const MapModel model(network, graph, placed);

    std::vector<std::uint32_t> found, edges, nodes;
    for (int query = 0; query < 300; ++query) {
      const QRectF rect{below(6000) - 300.0, below(2200) - 200.0, 1.0 + below(3000),
                        1.0 + below(1000)};
      edges.clear(), nodes.clear();
      // Edges are found by their bounding box, which may have no width or height.
      for (std::uint32_t e = 0; e < model.Edges().size(); ++e) {
        const MapModel::Edge& edge = model.Edges()[e];
        const QRectF a = QRectF(model.Position(edge.from), model.Position(edge.to)).normalized();
        if (a.right() >= rect.left() && a.left() <= rect.right() && a.bottom() >= rect.top() &&
            a.top() <= rect.bottom())
          edges.push_back(e);
      }
      for (std::uint32_t n = 0; n < model.NodeCount(); ++n)
        if (model.Box(n).intersects(rect)) nodes.push_back(n);
      for (const auto& [query, want] :
           {std::pair{&MapModel::EdgesIn, &edges}, std::pair{&MapModel::NodesIn, &nodes}}) {
        (model.*query)(rect, found);
        std::sort(found.begin(), found.end());
        QCOMPARE(found, *want);
      }
    }
    for (MapModel::NodeId n = 0; n < model.NodeCount(); n += 7) {
      const QRectF box = model.Box(n);
      const QPointF inside(box.left() + box.width() * below(100) / 100.0,
                           box.top() + box.height() * below(100) / 100.0);
      QCOMPARE(model.NodeAt(inside, 1), std::optional<MapModel::NodeId>(n));
    }
    QCOMPARE(model.NodeAt({-500, -500}, 20), std::nullopt);
    // Near a stub, a system a little farther away is meant.
    const QPointF s = model.Position(*model.Find("X1"));
    const auto away = [&](MapModel::NodeId n) { return QLineF(s, model.Position(n)).length(); };
    MapModel::NodeId system = 0;
    for (MapModel::NodeId n = 0; n < model.NodeCount(); ++n)
      if (!model.IsStub(n) && away(n) < away(system)) system = n;
    const QPointF t = model.Position(system);
    QCOMPARE(model.NodeAt(s + (t - s) * 0.35, away(system)), std::optional(system));
  }

  // While the Stops list holds entries the route buttons visit them instead of the Visit
  // selection, in their order or in the best one.
  void stopsListStandsInForTheVisitSelectionAndHoldsUpTo32() {
    OpenWindow();
    auto* add = Child<QPushButton>(window_.get(), "addStopButton");
    QVERIFY(!add->isEnabled());
    Select("visitList", "[none]");
    QVERIFY(!add->isEnabled());
    AddStops({"Delta", "Gamma", "Omega", "Gamma"});
    QVERIFY(Status().contains("Gamma is a stop already"));
    QCOMPARE(Entries("stopsList"), (QStringList{"Delta", "Gamma", "Omega"}));
    QVERIFY(!Child<QPushButton>(window_.get(), "stopDownButton")->isEnabled());  // Omega, last
    for (int i = 0; i < 2; ++i) Click("stopUpButton");
    QVERIFY(!Child<QPushButton>(window_.get(), "stopUpButton")->isEnabled());
    QCOMPARE(Entries("stopsList"), (QStringList{"Omega", "Delta", "Gamma"}));
    Click("removeStopButton");
    Select("stopsList", "Delta");
    Click("stopDownButton");
    QCOMPARE(Entries("stopsList"), (QStringList{"Gamma", "Delta"}));

    Select("visitList", "Epsilon");
    Route("byJumpsButton");
    QVERIFY2(Output().startsWith("Alpha -> Beta via Gamma, Delta\n\n"), qPrintable(Output()));
    QVERIFY(Status().contains("Stops list"));
    Child<QCheckBox>(window_.get(), "bestOrderCheck")->setChecked(true);
    Route("byJumpsButton");
    QVERIFY(Output().startsWith("Alpha -> Beta via Delta, Gamma\n\n"));

    // With no stops left the Visit selection counts again.
    for (int i = 0; i < 2; ++i) Click("removeStopButton");
    Route("byJumpsButton");
    QVERIFY(Output().startsWith("Alpha -> Beta via Epsilon\n\n"));
    QVERIFY(!Status().contains("Stops list"));

    // At most 32 stops; past 12 the best order is a heuristic's, which Store Route says; the
    // orders of every leg are stored in one go; a reload drops stops no longer loaded.
    std::vector<EmpireRow> chain;
    const auto name = [](int i) { return QStringLiteral("S%1").arg(i, 2, 10, QChar('0')); };
    for (int i = 0; i + 1 < 40; ++i) {
      chain.push_back({1, 3, name(i).toStdString(), name(i + 1).toStdString() + "A", 2 * i + 1});
      chain.push_back({1, 3, name(i + 1).toStdString(), name(i).toStdString() + "A", 2 * i + 2});
    }
    const std::string path = dir_->File("chain.db");
    testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, path, chain);
    QVERIFY(window_->Start({path}));
    QStringList stops;
    for (int i = 1; i <= 33; ++i) stops << name(i);
    AddStops(stops);
    QVERIFY2(Status().contains("at most 32 stops"), qPrintable(Status()));
    QCOMPARE(Entries("stopsList"), stops.mid(0, 32));
    Select("stopsList", name(32));
    for (int i = 32; i > 13; --i) Click("removeStopButton");  // the last is current after each
    QCOMPARE(Entries("stopsList"), stops.mid(0, 13));

    Child<QCheckBox>(window_.get(), "bestOrderCheck")->setChecked(true);
    Select("fromList", name(0));
    Select("toList", name(39));
    dialogs_.onExec = [](QDialog& dialog) {
      QVERIFY(Child<QLabel>(&dialog, "stopsNote")->text().endsWith(", in the best order."));
      Child<QPushButton>(&dialog, "okButton")->click();
    };
    Trigger("storeRouteAction");
    QVERIFY2(Status().contains("order not proven best"), qPrintable(Status()));
    QVERIFY(turnData_.inserted.size() > 39);

    OpenWindow();
    QVERIFY(Entries("stopsList").isEmpty());
    QVERIFY2(Status().contains("Dropped stops no longer in the files: S01, S02, "),
             qPrintable(Status()));
  }

  // The map is laid out by a child process: the window stays usable meanwhile; Cancel ends
  // it and caches nothing; a failure is told; a reload takes the cached layout at once.
  void layoutRunsAsideFailsAndIsCached() {
    std::filesystem::remove_all(dir_->File("cache"));
    const auto program = [this](const std::string& script) {
      const std::string path = dir_->File("fake-layout");
      testing::WriteFile(path, "#!/bin/sh\n" + script + "\n");
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
      layout::LayoutOptions options;
      options.program = path;
      options.startTimeoutMs = 300;
      window_->map()->SetLayoutOptions(options);
    };
    program(R"(exec 4>"$2"; printf L >&4; exec sleep 60)");
    OpenWindow();
    QTRY_VERIFY(Child<QLabel>(window_.get(), "layoutProgressLabel")->text().contains("placing"));
    QVERIFY(Child<QProgressBar>(window_.get(), "layoutProgress")->isVisible());
    Route("byJumpsButton");
    QVERIFY(Output().startsWith("Alpha -> Beta\n"));
    Click("layoutCancelButton");
    QVERIFY(!window_->map()->LayoutRunning() && !window_->map()->HasMap());
    QVERIFY(Child<QLabel>(window_.get(), "mapMessage")->text().contains("cancelled") &&
            Status().contains("cancelled"));

    program("exit 1");
    Click("layoutRetryButton");
    QTRY_VERIFY(Status().contains("could not be laid out"));
    QVERIFY(Status().contains("did not start") &&
            Child<QLabel>(window_.get(), "mapMessage")->text().contains("did not start"));

    window_->map()->SetLayoutOptions({});
    Click("layoutRetryButton");
    WaitForMap();
    const QPointF alpha = Model().Position(Node("Alpha"));
    OpenWindow();
    QVERIFY(window_->map()->HasMap());  // at once, from the cache
    QCOMPARE(Model().Position(Node("Alpha")), alpha);
  }

  // Output copy, save and exports; the About box; Enter does nothing, Escape and Quit close.
  void outputsAboutBoxAndKeys() {
    OpenWindow();
    WaitForMap();
    Route("byJumpsButton");
    Trigger("copyOutputAction");
    QCOMPARE(QGuiApplication::clipboard()->text(), Output());
    dialogs_.saveAnswer = dir_->File("route.txt");
    Trigger("saveOutputAction");
    QCOMPARE(QString::fromStdString(testing::ReadFile(*dialogs_.saveAnswer)), Output());
    dialogs_.saveAnswer = dir_->File("no-such-folder/route.txt");
    Trigger("saveOutputAction");
    QVERIFY(Status().contains("not saved"));

    dialogs_.saveAnswer = dir_->File("map.png");
    Trigger("exportMapAction");
    QCOMPARE(QImage(QString::fromStdString(*dialogs_.saveAnswer)).size(),
             View()->viewport()->size());
    dialogs_.saveAnswer = dir_->File("map.svg");
    Trigger("exportMapAction");
    const std::string svg = testing::ReadFile(*dialogs_.saveAnswer);
    QVERIFY(svg.find("<svg") != std::string::npos && svg.find("</svg>") != std::string::npos);
    QVERIFY2(Status().contains("map.svg"), qPrintable(Status()));

    // The galaxy export asks for its target first.
    const std::string target = dir_->File("galaxy.map");
    QString before = Output();
    Click("exportButton");  // cancelled
    QCOMPARE(Output(), before);
    QVERIFY(!std::filesystem::exists(target));

    dialogs_.exportAnswer = target;
    Click("exportButton");
    QVERIFY(Output().startsWith(QString::fromStdString("Data saved to file " + target + ".\n")));
    QVERIFY(testing::ReadFile(target).find("fillcolor") == std::string::npos);
    Child<QCheckBox>(window_.get(), "yellowCirclesCheck")->setChecked(true);
    Click("exportButton");
    QVERIFY(testing::ReadFile(target).find("fillcolor") != std::string::npos);

    dialogs_.onExec = [](QDialog& dialog) {
      const QString label = Child<QLabel>(&dialog, "noticeLabel")->text();
      QVERIFY(label.startsWith("\nLanewright V2.19\n\n"));
      QVERIFY(label.endsWith("\n\nFind a path in the Starmere universe\n"));
      const QString help = Child<QPlainTextEdit>(&dialog, "helpText")->toPlainText();
      QVERIFY(help.startsWith("This little program calculates the shortest path"));
      Child<QPushButton>(&dialog, "okButton")->click();
      QVERIFY(!dialog.isVisible());
    };
    Trigger("aboutAction");
    QCOMPARE(dialogs_.execTitles, QStringList{"About"});
    AboutDialog about;
    about.show();
    QTest::keyClick(&about, Qt::Key_Escape);
    QVERIFY(!about.isVisible());

    QApplication::setActiveWindow(window_.get());
    before = Output();
    for (const char* name : {"fromList", "byJumpsButton", "rangeSpin", "outputBox"}) {
      QWidget* widget = Child<QWidget>(window_.get(), name);
      widget->setFocus();
      QTest::keyClick(widget, Qt::Key_Return);
      QTest::keyClick(widget, Qt::Key_Enter);
      QCOMPARE(Output(), before);
      QVERIFY(window_->isVisible());
    }
    // In a filter box holding text Escape empties it; after that it closes the window.
    auto* filter = Child<QLineEdit>(window_.get(), "toFilter");
    filter->setFocus();
    QTest::keyClicks(filter, "Be");
    QTest::keyClick(filter, Qt::Key_Escape);
    QVERIFY(filter->text().isEmpty() && window_->isVisible());
    QTest::keyClick(filter, Qt::Key_Escape);
    QVERIFY(!window_->isVisible());
    window_->show();
    Trigger("quitAction");
    QVERIFY(!window_->isVisible());
  }

  // Store Route stops while a list has no selection, when its dialog is cancelled and when
  // the turn entry database cannot be used; otherwise it writes the convoy's orders.
  void storeRoute() {
    turnData_.highest = {{3, 230}};
    OpenWindow();
    Select("avoidList", "Gamma");
    Select("fromList", "Alpha");
    Trigger("storeRouteAction");
    QCOMPARE(Output(), "not all selected.");

    Select("toList", "Beta");
    dialogs_.onExec = [](QDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); };
    Trigger("storeRouteAction");
    QCOMPARE(Output(), "not all selected.");
    QVERIFY(turnData_.inserted.empty());

    dialogs_.onExec = [](QDialog& dialog) {
      QCOMPARE(Child<QLineEdit>(&dialog, "nameField")->text(), "Alpha -> Beta");
      QCOMPARE(Child<QSpinBox>(&dialog, "startOrderField")->value(), 240);
      Child<QPushButton>(&dialog, "okButton")->click();
    };
    Trigger("storeRouteAction");
    QCOMPARE(dialogs_.execTitles, QStringList(2, "Generate Convoy Route"));
    QCOMPARE(window_->starMap().avoidSystems, std::set<std::string>{"Gamma"});
    const auto rows = std::exchange(turnData_.inserted, {});
    QCOMPARE(rows.size(), std::size_t{4});  // CNVR, MOVE, WARP, CNVR
    QVERIFY(Output().startsWith("3, CNVR, 240, Alpha -> Beta\n"));
    QVERIFY(Status().contains("4 orders"));

    turnData_.usable = false;
    Trigger("storeRouteAction");
    QCOMPARE(dialogs_.execTitles.size(), 2);  // no dialog this time
    QVERIFY(Output().contains("/data/turn.mdb: no such file") &&
            Status().contains("/data/turn.mdb: no such file"));
    QVERIFY(turnData_.inserted.empty());
  }

  // The convoy dialog on its own: modes, empire reloads, what OK hands back, refusals.
  void convoyDialog() {
    turnData_.fleets = {{3, {11, 12}}, {7, {70}}};
    ConvoyDialog dialog({3, 7}, "n", turnEntry_);
    dialog.show();
    auto* fleets = Child<QComboBox>(&dialog, "fleetList");
    auto* empires = Child<QComboBox>(&dialog, "empireList");
    auto* start = Child<QSpinBox>(&dialog, "startOrderField");
    auto* strategies = Child<QComboBox>(&dialog, "strategyList");
    QCOMPARE(empires->currentText(), "3");
    QCOMPARE(start->value(), 10);  // an empire without orders
    QCOMPARE(strategies->currentText(), "by Jump");
    QVERIFY(Child<QRadioButton>(&dialog, "convoyRadio")->isChecked());
    QVERIFY(!fleets->isEnabled() && !Child<QLabel>(&dialog, "fleetLabel")->isEnabled());
    QCOMPARE(turnData_.fleetQueries, 0);

    Child<QRadioButton>(&dialog, "moveRadio")->click();
    QVERIFY(fleets->isEnabled() && fleets->count() == 2);
    QCOMPARE(fleets->currentText(), "11");

    Child<QRadioButton>(&dialog, "backSurveyRadio")->click();  // the fleets stay as they are
    QCOMPARE(turnData_.fleetQueries, 1);
    QCOMPARE(fleets->count(), 2);

    Child<QRadioButton>(&dialog, "convoyRadio")->click();
    QVERIFY(fleets->count() == 0 && !fleets->isEnabled());

    // Another empire in Convoy mode: a new start number, still no fleets.
    turnData_.highest = {{7, 500}};
    empires->setFocus();
    QTest::keyClick(empires, Qt::Key_Down);
    QCOMPARE(start->value(), 510);
    QCOMPARE(fleets->count(), 0);

    Child<QRadioButton>(&dialog, "surveyRadio")->click();
    QCOMPARE(fleets->currentText(), "70");

    // Choosing the same empire again puts the computed number back.
    start->setValue(77);
    emit empires->activated(empires->currentIndex());
    QCOMPARE(start->value(), 510);

    // A fifth digit does not fit.
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "12345");
    strategies->setFocus();
    QTest::keyClick(strategies, Qt::Key_End);
    Child<QPushButton>(&dialog, "okButton")->click();
    const ConvoyValues& values = dialog.values();
    QVERIFY(values.empire == 7 && values.fleet == "70" && values.strategy == RouteMode::ByFuel);
    QVERIFY(values.startOrder == 1234 && !values.defaultStartOrder);
    QVERIFY(!values.cancelled && !values.convoy && values.survey && !values.backSurvey);

    ConvoyDialog empty({}, "n", turnEntry_);  // OK without an empire cancels
    empty.accept();
    QVERIFY(empty.values().cancelled);
    QCOMPARE(empty.values().empire, 9999);

    turnData_.fleets = {{3, {}}};
    ConvoyDialog fleetless({3}, "n", turnEntry_);
    fleetless.show();
    auto* ok = Child<QPushButton>(&fleetless, "okButton");
    Child<QRadioButton>(&fleetless, "moveRadio")->click();
    QVERIFY(!ok->isEnabled() &&
            Child<QLabel>(&fleetless, "problemLabel")->text().contains("no fleets"));
    Child<QRadioButton>(&fleetless, "convoyRadio")->click();
    QVERIFY(ok->isEnabled());
    QTest::keyClick(&fleetless, Qt::Key_Escape);
    QVERIFY(!fleetless.isVisible() && fleetless.values().cancelled);

    // A computed start past the field's 9999 is not shown cut: the field stays empty, a note
    // says why and OK waits for a number. Untouched, the computed number is the default.
    turnData_.highest = {{3, 9995}, {7, 40}};
    const std::string longName(51, 'n');
    ConvoyDialog big({3, 7}, longName, turnEntry_);
    big.show();
    ok = Child<QPushButton>(&big, "okButton");
    start = Child<QSpinBox>(&big, "startOrderField");
    QVERIFY(Child<QLabel>(&big, "nameNote")->isVisible());
    QVERIFY(!ok->isEnabled() && start->text().isEmpty());
    QVERIFY(Child<QLabel>(&big, "startOrderNote")->text().contains("10005"));
    start->setFocus();
    QTest::keyClicks(start, "500");
    QVERIFY(ok->isEnabled());
    QVERIFY(!Child<QLabel>(&big, "startOrderNote")->isVisible());
    empires = Child<QComboBox>(&big, "empireList");
    empires->setCurrentIndex(1);
    emit empires->activated(1);
    QCOMPARE(start->value(), 50);
    ok->click();
    QVERIFY(big.values().defaultStartOrder && big.values().startOrder == 50);
  }
};

QTEST_MAIN(GuiTest)
#include "gui_test.moc"
