#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "orders/StoreRoute.h"
#include "orders/TurnEntryStore.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace lanewright::gui {

// "Generate Convoy Route": who moves (an empire and one of its fleets, or a convoy), how,
// under which name, from which order number on and by which search strategy. Read
// values() after it closed; values().cancelled says whether orders should be written.
class ConvoyDialog final : public QDialog {
  Q_OBJECT

 public:
  // turnEntry answers the empire's highest order number and its fleets; it must outlive
  // the dialog.
  ConvoyDialog(const std::set<std::int32_t>& empires, const std::string& name,
               TurnEntryStore& turnEntry, QWidget* parent = nullptr);

  const ConvoyValues& values() const { return values_; }
  // Says which stops the route will visit, and whether in the best order.
  void ShowStops(const std::vector<std::string>& stops, bool bestOrder);

  void accept() override;
  void reject() override;

 private:
  void ReloadEmpire();
  void ChooseConvoy();
  // Move, Survey and Survey with back-SURV differ only in their two flags.
  void ChooseFleetMode(bool survey, bool backSurvey);
  void TakeFleet();
  void UpdateOkButton();
  // Remembers a failed read of the turn entry database for the problem line.
  void ShowProblem(const store::StoreError& error);

  TurnEntryStore& turnEntry_;
  ConvoyValues values_;
  QString storeProblem_;  // what the last reload could not read, for the problem line
  // The empire's highest order number + 10, and whether the field holds no usable number
  // (the computed one does not fit it, or could not be read) until the user enters one.
  std::optional<std::int64_t> computedStart_;
  bool startOrderUnset_ = false;

  QRadioButton* convoyRadio_;
  QRadioButton* moveRadio_;
  QRadioButton* surveyRadio_;
  QRadioButton* backSurveyRadio_;
  QComboBox* empireList_;
  QLabel* fleetLabel_;
  QComboBox* fleetList_;
  QLineEdit* nameField_;
  QSpinBox* startOrderField_;
  QComboBox* strategyList_;
  QLabel* startOrderNote_;
  QLabel* nameNote_;
  QLabel* problemLabel_;
  QLabel* stopsNote_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
};

}  // namespace lanewright::gui
