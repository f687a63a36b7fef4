#include "app/gui/WidgetOutputBox.h"

#include <QPlainTextEdit>

namespace lanewright::gui {

void WidgetOutputBox::SetText(std::string_view text) {
  text_.assign(text);
  changed_ = true;
}

void WidgetOutputBox::Append(std::string_view text) {
  text_.append(text);
  changed_ = true;
}

void WidgetOutputBox::Show() {
  if (!changed_) return;
  changed_ = false;
  QString shown = QString::fromUtf8(text_.data(), static_cast<qsizetype>(text_.size()));
  shown.remove(QLatin1Char('\r'));
  // A new text is read from its top.
  edit_.setPlainText(shown);
}

}  // namespace lanewright::gui
