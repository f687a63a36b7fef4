#include "app/gui/ConvoyDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "route/RouteMode.h"
#include "store/BoundReader.h"

namespace lanewright::gui {
namespace {

constexpr int kMaxNameLength = 255;
constexpr int kStartOrderDigits = 4;

// The number a text starts with (decimal, a '-' allowed); no digits give 0, and a number
// beyond 32 bits gives the nearest end.
std::int32_t LeadingNumber(const QString& text) {
  const std::string bytes = text.toStdString();
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), value);
  if (error == std::errc::result_out_of_range)
    value = bytes.front() == '-' ? std::numeric_limits<std::int64_t>::min()
                                 : std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

QRadioButton* MakeRadio(const char* text, const char* objectName, QWidget* parent) {
  auto* radio = new QRadioButton(QString::fromUtf8(text), parent);
  radio->setObjectName(QString::fromUtf8(objectName));
  return radio;
}

}  // namespace

ConvoyDialog::ConvoyDialog(const std::set<std::int32_t>& empires, const std::string& name,
                           TurnEntryStore& turnEntry, QWidget* parent)
    : QDialog(parent), turnEntry_(turnEntry) {
  setWindowTitle(QStringLiteral("Generate Convoy Route"));
  values_.name = name;

  convoyRadio_ = MakeRadio("Convoy", "convoyRadio", this);
  moveRadio_ = MakeRadio("Move", "moveRadio", this);
  surveyRadio_ = MakeRadio("Survey", "surveyRadio", this);
  backSurveyRadio_ = MakeRadio("Survey (with back-SURV)", "backSurveyRadio", this);
  convoyRadio_->setChecked(true);

  empireList_ = new QComboBox(this);
  empireList_->setObjectName(QStringLiteral("empireList"));
  for (std::int32_t empire : empires) empireList_->addItem(QString::number(empire));
  empireList_->setCurrentIndex(empires.empty() ? -1 : 0);

  fleetLabel_ = new QLabel(QStringLiteral("Fleet :"), this);
  fleetLabel_->setObjectName(QStringLiteral("fleetLabel"));
  fleetList_ = new QComboBox(this);
  fleetList_->setObjectName(QStringLiteral("fleetList"));
  fleetLabel_->setEnabled(false);
  fleetList_->setEnabled(false);

  nameField_ = new QLineEdit(QString::fromStdString(name), this);
  nameField_->setObjectName(QStringLiteral("nameField"));
  nameField_->setMaxLength(kMaxNameLength);
  nameField_->setMinimumWidth(260);

  startOrderField_ = new QSpinBox(this);
  startOrderField_->setObjectName(QStringLiteral("startOrderField"));
  startOrderField_->setRange(0, 9999);
  // Order numbers usually go in tens; holding an arrow speeds up.
  startOrderField_->setSingleStep(10);
  startOrderField_->setAccelerated(true);
  startOrderField_->setMinimumWidth(80);

  strategyList_ = new QComboBox(this);
  strategyList_->setObjectName(QStringLiteral("strategyList"));
  strategyList_->addItems(
      {QStringLiteral("by Jump"), QStringLiteral("by WP-Class"), QStringLiteral("by Fuel")});
  strategyList_->setCurrentIndex(0);

  startOrderNote_ = new QLabel(this);
  startOrderNote_->setObjectName(QStringLiteral("startOrderNote"));
  startOrderNote_->setWordWrap(true);
  startOrderNote_->setVisible(false);
  nameNote_ = new QLabel(
      QStringLiteral("Only the first %1 characters are stored in the turn entry database.")
          .arg(kStoredNameChars),
      this);
  nameNote_->setObjectName(QStringLiteral("nameNote"));
  nameNote_->setVisible(false);

  stopsNote_ = new QLabel(this);
  stopsNote_->setObjectName(QStringLiteral("stopsNote"));
  stopsNote_->setWordWrap(true);
  stopsNote_->setVisible(false);

  problemLabel_ = new QLabel(this);
  problemLabel_->setObjectName(QStringLiteral("problemLabel"));
  problemLabel_->setWordWrap(true);
  problemLabel_->setVisible(false);

  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));

  auto* modes = new QHBoxLayout;
  modes->addWidget(convoyRadio_);
  modes->addWidget(moveRadio_);
  modes->addWidget(surveyRadio_);
  modes->addWidget(backSurveyRadio_);
  modes->addStretch();

  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Only the Name field is wide; the lists and the number keep their natural width.
  form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
  form->addRow(QStringLiteral("Empire :"), empireList_);
  form->addRow(fleetLabel_, fleetList_);
  form->addRow(QStringLiteral("Name :"), nameField_);
  form->addRow(QString(), nameNote_);
  auto* startOrderRow = new QHBoxLayout;
  startOrderRow->addWidget(startOrderField_);
  startOrderRow->addWidget(startOrderNote_, 1);
  form->addRow(QStringLiteral("Start with Order :"), startOrderRow);
  form->addRow(QStringLiteral("Search Strategy :"), strategyList_);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(modes);
  layout->addWidget(stopsNote_);
  layout->addSpacing(8);
  layout->addLayout(form);
  layout->addWidget(problemLabel_);
  layout->addStretch();
  layout->addLayout(buttons);

  setTabOrder(convoyRadio_, empireList_);
  setTabOrder(empireList_, fleetList_);
  setTabOrder(fleetList_, nameField_);
  setTabOrder(nameField_, startOrderField_);
  setTabOrder(startOrderField_, strategyList_);
  setTabOrder(strategyList_, okButton_);
  setTabOrder(okButton_, cancelButton_);

  // activated, not currentIndexChanged: choosing the entry that is already selected
  // reloads too, which is how a typed Start with Order number is put back.
  connect(empireList_, &QComboBox::activated, this, [this] { ReloadEmpire(); });
  connect(fleetList_, &QComboBox::activated, this, [this] { TakeFleet(); });
  connect(strategyList_, &QComboBox::activated, this,
          [this](int index) { values_.strategy = RouteModeFromNumber(index + 1); });
  connect(convoyRadio_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) ChooseConvoy();
  });
  connect(moveRadio_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) ChooseFleetMode(false, false);
  });
  connect(surveyRadio_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) ChooseFleetMode(true, false);
  });
  connect(backSurveyRadio_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) ChooseFleetMode(true, true);
  });
  connect(startOrderField_, &QSpinBox::textChanged, this, [this](const QString& text) {
    startOrderUnset_ = text.trimmed().isEmpty();
    UpdateOkButton();
  });
  connect(nameField_, &QLineEdit::textChanged, this, [this](const QString& text) {
    nameNote_->setVisible(store::Utf8Length(text.toStdString()) > kStoredNameChars);
  });
  nameNote_->setVisible(store::Utf8Length(name) > kStoredNameChars);
  connect(okButton_, &QPushButton::clicked, this, &ConvoyDialog::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &ConvoyDialog::reject);

  ReloadEmpire();
}

void ConvoyDialog::ShowStops(const std::vector<std::string>& stops, bool bestOrder) {
  QStringList names;
  for (const auto& stop : stops) names.push_back(QString::fromStdString(stop));
  stopsNote_->setText(
      QStringLiteral("Via %1%2.")
          .arg(names.join(QStringLiteral(", ")),
               bestOrder && stops.size() > 1 ? QStringLiteral(", in the best order") : QString()));
  stopsNote_->setVisible(!stops.empty());
}

void ConvoyDialog::ReloadEmpire() {
  // Without empire data there is nobody to ask about; OK then cancels.
  if (empireList_->currentIndex() < 0) return;
  values_.empire = LeadingNumber(empireList_->currentText());

  store::StoreError error;
  computedStart_ = DefaultStartOrder(turnEntry_, values_.empire, error);
  // A number the field cannot show is not shown clamped (that would collide with the
  // empire's orders): the field stays empty and OK waits for a number the user enters.
  startOrderUnset_ = !computedStart_ || *computedStart_ > startOrderField_->maximum();
  {
    const QSignalBlocker quiet(startOrderField_);
    if (startOrderUnset_) {
      startOrderField_->clear();
    } else {
      startOrderField_->setValue(*computedStart_);
    }
  }
  if (!startOrderUnset_) values_.startOrder = static_cast<std::int32_t>(*computedStart_);

  if (!values_.convoy) {
    fleetList_->clear();
    if (!error.Failed()) {
      for (std::int32_t fleet : turnEntry_.ListFleets(values_.empire, error))
        fleetList_->addItem(QString::number(fleet));
    }
    fleetList_->setCurrentIndex(fleetList_->count() > 0 ? 0 : -1);
    values_.fleet = fleetList_->currentText().toStdString();
  }
  ShowProblem(error);
  UpdateOkButton();
}

void ConvoyDialog::ChooseConvoy() {
  fleetLabel_->setEnabled(false);
  fleetList_->setEnabled(false);
  values_.convoy = true;
  values_.survey = false;
  values_.backSurvey = false;
  values_.fleet = "1234";
  fleetList_->clear();
  UpdateOkButton();
}

void ConvoyDialog::ChooseFleetMode(bool survey, bool backSurvey) {
  fleetLabel_->setEnabled(true);
  fleetList_->setEnabled(true);
  const bool wasConvoy = values_.convoy;
  values_.convoy = false;
  values_.survey = survey;
  values_.backSurvey = backSurvey;
  if (wasConvoy) ReloadEmpire();
  UpdateOkButton();
}

void ConvoyDialog::TakeFleet() {
  if (fleetList_->count() == 0) return;
  const int index = fleetList_->currentIndex();
  values_.fleet = fleetList_->itemText(index < 0 ? 0 : index).toStdString();
}

// Orders for a fleet need a fleet: an empire without fleets can only send a convoy. And a run
// needs a start order the field can hold.
void ConvoyDialog::UpdateOkButton() {
  const bool hasEmpire = empireList_->currentIndex() >= 0;
  const bool fleetMissing = !values_.convoy && hasEmpire && fleetList_->count() == 0;
  const bool startMissing = hasEmpire && startOrderUnset_;
  okButton_->setEnabled(!fleetMissing && !startMissing);
  if (startMissing && computedStart_) {
    startOrderNote_->setText(
        QStringLiteral("The next free number is %1, past this field's %2: enter a start order.")
            .arg(*computedStart_)
            .arg(startOrderField_->maximum()));
  } else if (startMissing) {
    startOrderNote_->setText(QStringLiteral("Enter a start order."));
  }
  startOrderNote_->setVisible(startMissing);
  QString problem = storeProblem_;
  if (problem.isEmpty() && fleetMissing)
    problem =
        QStringLiteral("Empire %1 has no fleets in the turn entry database.").arg(values_.empire);
  problemLabel_->setText(problem);
  problemLabel_->setVisible(!problem.isEmpty());
}

void ConvoyDialog::ShowProblem(const store::StoreError& error) {
  storeProblem_ = error.Failed() ? QStringLiteral("The turn entry database could not be read: %1")
                                       .arg(QString::fromStdString(error.reason))
                                 : QString();
}

void ConvoyDialog::accept() {
  if (empireList_->currentIndex() < 0) {
    values_.empire = 9999;
    values_.cancelled = true;
  } else {
    values_.empire = LeadingNumber(empireList_->currentText());
  }
  values_.name = nameField_->text().left(kMaxNameLength).toStdString();
  // The field itself keeps to 0..9999; reading only four characters keeps that promise
  // for any text it might hold.
  values_.startOrder = LeadingNumber(startOrderField_->cleanText().left(kStartOrderDigits));
  // Untouched, the field holds the number computed from the file; the run computes it again
  // at the moment it stores, so that another program's orders meanwhile cannot collide.
  values_.defaultStartOrder =
      computedStart_ && !startOrderUnset_ && values_.startOrder == *computedStart_;
  QDialog::accept();
}

void ConvoyDialog::reject() {
  values_.cancelled = true;
  QDialog::reject();
}

}  // namespace lanewright::gui
