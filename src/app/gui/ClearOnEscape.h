#pragma once

class QLineEdit;

namespace lanewright::gui {

// Escape in edit, while it holds text, empties it instead of closing the window (which is
// what Escape does everywhere else in the main window).
void ClearOnEscape(QLineEdit* edit);

}  // namespace lanewright::gui
