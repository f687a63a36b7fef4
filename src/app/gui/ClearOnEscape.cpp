#include "app/gui/ClearOnEscape.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace lanewright::gui {
namespace {

class EscapeFilter final : public QObject {
 public:
  explicit EscapeFilter(QLineEdit* edit) : QObject(edit), edit_(edit) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    // Taking the shortcut override keeps the window's Escape shortcut from seeing the key.
    if (watched != edit_ || event->type() != QEvent::ShortcutOverride ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape || edit_->text().isEmpty())
      return false;
    edit_->clear();
    event->accept();
    return true;
  }

 private:
  QLineEdit* edit_;
};

}  // namespace

void ClearOnEscape(QLineEdit* edit) { edit->installEventFilter(new EscapeFilter(edit)); }

}  // namespace lanewright::gui
