#pragma once

#include <QDialog>

namespace lanewright::gui {

// The About box: the program's name and notices above the help text. OK, Esc and the
// close box close it.
class AboutDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

// The help text shown in the About box.
QString HelpText();

}  // namespace lanewright::gui
