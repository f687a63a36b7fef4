#include "app/gui/MapPanel.h"

#include <fmt/format.h>

#include <QCompleter>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QStringListModel>
#include <QSvgGenerator>
#include <QTimer>
#include <QVBoxLayout>

#include "app/gui/ClearOnEscape.h"

namespace lanewright::gui {
namespace {

constexpr int kProgressIntervalMs = 250;

// The key to the colours: class letters from A to Q, and the two directions of a route.
QString Legend() {
  QString text = QStringLiteral("A");
  for (char c = 'A'; c <= 'Q'; ++c)
    text += QStringLiteral("<span style='color:%1'>&#9632;</span>")
                .arg(MapScene::ClassColour(c).name());
  text += QStringLiteral(
              "Q &nbsp;<span style='color:%1'>&#9473;&#9473;</span> there "
              "<span style='color:%2'>&#9473;&#9473;</span> back")
              .arg(MapScene::DirectionColour(0).name(), MapScene::DirectionColour(1).name());
  return text;
}

QPushButton* MakeButton(const QString& text, const char* objectName, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromUtf8(objectName));
  return button;
}

}  // namespace

MapPanel::MapPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("mapPanel"));
  scene_ = new MapScene(this);
  view_ = new MapView(scene_, this);

  findBox_ = new QLineEdit(this);
  findBox_->setObjectName(QStringLiteral("mapFindBox"));
  findBox_->setPlaceholderText(QStringLiteral("Find a system"));
  findBox_->setClearButtonEnabled(true);
  ClearOnEscape(findBox_);
  completer_ = new QCompleter(new QStringListModel(this), this);
  completer_->setCaseSensitivity(Qt::CaseInsensitive);
  completer_->setFilterMode(Qt::MatchContains);
  findBox_->setCompleter(completer_);
  fitButton_ = MakeButton(QStringLiteral("Fit"), "mapFitButton", this);
  auto* legend = new QLabel(Legend(), this);
  legend->setTextFormat(Qt::RichText);
  legend->setToolTip(QStringLiteral("Warp points by class, A to Q; the last route there and back"));

  auto* tools = new QHBoxLayout;
  tools->addWidget(findBox_, 1);
  tools->addWidget(fitButton_);
  tools->addSpacing(8);
  tools->addWidget(legend);
  tools->setContentsMargins(0, 2, 6, 0);

  // The pages: a message (no map, a failure, a cancelled layout), the progress, the map.
  auto* messagePage = new QWidget(this);
  message_ = new QLabel(messagePage);
  message_->setObjectName(QStringLiteral("mapMessage"));
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  retryButton_ = MakeButton(QStringLiteral("Lay out again"), "layoutRetryButton", messagePage);
  auto* messageLayout = new QVBoxLayout(messagePage);
  messageLayout->addStretch();
  messageLayout->addWidget(message_);
  messageLayout->addWidget(retryButton_, 0, Qt::AlignCenter);
  messageLayout->addStretch();

  auto* progressPage = new QWidget(this);
  progressLabel_ = new QLabel(progressPage);
  progressLabel_->setObjectName(QStringLiteral("layoutProgressLabel"));
  progressLabel_->setAlignment(Qt::AlignCenter);
  progressBar_ = new QProgressBar(progressPage);
  progressBar_->setObjectName(QStringLiteral("layoutProgress"));
  progressBar_->setRange(0, 0);  // GraphViz tells nothing of how far it is
  progressBar_->setMaximumWidth(320);
  cancelButton_ = MakeButton(QStringLiteral("Cancel"), "layoutCancelButton", progressPage);
  auto* progressLayout = new QVBoxLayout(progressPage);
  progressLayout->addStretch();
  progressLayout->addWidget(progressLabel_);
  progressLayout->addWidget(progressBar_, 0, Qt::AlignCenter);
  progressLayout->addWidget(cancelButton_, 0, Qt::AlignCenter);
  progressLayout->addStretch();

  pages_ = new QStackedWidget(this);
  pages_->addWidget(messagePage);
  pages_->addWidget(progressPage);
  pages_->addWidget(view_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(tools);
  layout->addWidget(pages_, 1);

  timer_ = new QTimer(this);
  timer_->setInterval(kProgressIntervalMs);
  connect(timer_, &QTimer::timeout, this, &MapPanel::PollJob);
  connect(cancelButton_, &QPushButton::clicked, this, &MapPanel::CancelJob);
  connect(retryButton_, &QPushButton::clicked, this, &MapPanel::StartJob);
  connect(fitButton_, &QPushButton::clicked, view_, &MapView::Fit);
  connect(findBox_, &QLineEdit::returnPressed, this, [this] { FindSystem(findBox_->text()); });
  connect(completer_, qOverload<const QString&>(&QCompleter::activated), this,
          [this](const QString& text) { FindSystem(text); });
  connect(view_, &MapView::SystemAction, this, &MapPanel::SystemAction);

  ShowMessage(QStringLiteral("No empire files are loaded."));
}

MapPanel::~MapPanel() { EndJob(); }

bool MapPanel::LayoutRunning() const {
  return job_ && job_->state() == layout::LayoutJob::State::Running;
}

void MapPanel::ShowMessage(const QString& text) {
  EndJob();
  network_.reset();
  scene_->SetModel(nullptr);
  static_cast<QStringListModel*>(completer_->model())->setStringList({});
  message_->setText(text);
  retryButton_->hide();
  pages_->setCurrentIndex(0);
}

void MapPanel::ShowNetwork(std::shared_ptr<const WarpNetwork> network,
                           std::optional<layout::CacheKey> key) {
  EndJob();
  scene_->SetModel(nullptr);
  network_ = std::move(network);
  key_ = std::move(key);
  QStringList names;
  names.reserve(static_cast<qsizetype>(network_->SystemCount()));
  for (WarpNetwork::SystemId id = 0; id < network_->SystemCount(); ++id) {
    const std::string_view name = network_->Name(id);
    names.push_back(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  }
  names.sort(Qt::CaseInsensitive);
  static_cast<QStringListModel*>(completer_->model())->setStringList(names);
  StartJob();
}

void MapPanel::StartJob() {
  EndJob();
  if (!network_) return;
  layout::MapGraph graph = layout::MapGraphOf(*network_);
  if (graph.nodes.empty()) {
    message_->setText(QStringLiteral("The empire files hold no warp points to draw."));
    retryButton_->hide();
    pages_->setCurrentIndex(0);
    return;
  }
  job_ = layout::LayoutJob::Start(std::move(graph), key_, options_);
  if (job_->state() == layout::LayoutJob::State::Running) {
    notifier_ = new QSocketNotifier(job_->NotifyFd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MapPanel::PollJob);
    timer_->start();
    ShowProgress();
    pages_->setCurrentIndex(1);
  }
  PollJob();
}

void MapPanel::ShowProgress() {
  const bool starting = job_->phase() == layout::LayoutJob::Phase::Starting;
  progressLabel_->setText(QStringLiteral("Laying out the map of %1 systems and %2 warp points (%3)"
                                         "\n%4 s, %5")
                              .arg(job_->graph().nodes.size())
                              .arg(job_->graph().edges.size())
                              .arg(QString::fromStdString(job_->engine()))
                              .arg(static_cast<int>(job_->ElapsedSeconds()))
                              .arg(starting ? QStringLiteral("starting the layout program")
                                            : QStringLiteral("placing the systems")));
}

void MapPanel::PollJob() {
  if (!job_) return;
  const auto state = job_->Poll();
  if (state == layout::LayoutJob::State::Running) {
    ShowProgress();
    return;
  }
  if (state == layout::LayoutJob::State::Done) {
    scene_->SetModel(std::make_shared<MapModel>(network_, job_->graph(), job_->layout()));
    pages_->setCurrentWidget(view_);
    view_->Fit();
    if (!job_->cacheProblem().empty())
      emit Problem("The map's layout was not kept for next time: " + job_->cacheProblem());
  } else {
    const std::string why = "The map could not be laid out: " + job_->failure();
    message_->setText(QString::fromStdString(why));
    retryButton_->show();
    pages_->setCurrentIndex(0);
    emit Problem(why);
  }
  EndJob();
}

void MapPanel::CancelJob() {
  if (!LayoutRunning()) return;
  job_->Cancel();
  EndJob();
  message_->setText(QStringLiteral("The layout was cancelled."));
  retryButton_->show();
  pages_->setCurrentIndex(0);
  emit Problem("The map's layout was cancelled.");
}

void MapPanel::EndJob() {
  timer_->stop();
  if (notifier_) {
    // The job has closed (or is about to close) the descriptor the notifier watches.
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
  }
  job_.reset();  // ends a child still running
}

bool MapPanel::FindSystem(const QString& text) {
  const MapModel* model = scene_->model();
  const QString wanted = text.trimmed();
  if (!model || wanted.isEmpty()) return false;
  std::optional<MapModel::NodeId> found = model->Find(wanted.toStdString());
  if (!found) {
    // Ignoring case, then the only name that holds the text.
    std::vector<MapModel::NodeId> holding;
    for (MapModel::NodeId node = 0; node < model->NodeCount() && !found; ++node) {
      const QString& label = model->Label(node);
      if (label.compare(wanted, Qt::CaseInsensitive) == 0)
        found = node;
      else if (label.contains(wanted, Qt::CaseInsensitive))
        holding.push_back(node);
    }
    if (!found && holding.size() == 1) found = holding.front();
    if (!found) {
      emit Problem(holding.empty()
                       ? fmt::format("No system on the map is named {}.", wanted.toStdString())
                       : fmt::format("{} systems on the map have {} in their names.",
                                     holding.size(), wanted.toStdString()));
      return false;
    }
  }
  scene_->SetFound(found);
  view_->CentreOn(*found);
  return true;
}

bool MapPanel::ExportView(const QString& path, std::string& failure) {
  if (!HasMap()) {
    failure = "there is no map to export yet";
    return false;
  }
  const QRect source = view_->viewport()->rect();
  if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(source.size());
    svg.setViewBox(QRect(QPoint(), source.size()));
    svg.setTitle(QStringLiteral("Lanewright map"));
    QPainter painter;
    if (!painter.begin(&svg)) {
      failure = "cannot write " + path.toStdString();
      return false;
    }
    view_->render(&painter, QRectF(), source);
    painter.end();
    if (QFileInfo(path).size() == 0) {
      failure = "cannot write " + path.toStdString();
      return false;
    }
    return true;
  }
  QImage image(source.size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  view_->render(&painter, QRectF(), source);
  painter.end();
  const bool named = !QFileInfo(path).suffix().isEmpty();
  if (!image.save(path, named ? nullptr : "PNG")) {
    failure = "cannot write " + path.toStdString() + " (an image format this program can write?)";
    return false;
  }
  return true;
}

}  // namespace lanewright::gui
