#pragma once

#include <string>

#include "starmap/OutputBox.h"

class QPlainTextEdit;

namespace lanewright::gui {

// The main window's output box as the core sees it. The core writes a command's text in
// many small pieces with "\r\n" line ends; the widget shows it with plain line breaks, in
// one piece, when Show is called at the end of the command (the window cannot paint before
// then anyway).
class WidgetOutputBox final : public OutputBox {
 public:
  // edit must outlive this object.
  explicit WidgetOutputBox(QPlainTextEdit& edit) : edit_(edit) {}
  void SetText(std::string_view text) override;
  void Append(std::string_view text) override;

  // Puts the text into the widget if it changed since the last call.
  void Show();
  // The text as the core wrote it, line ends and all bytes as they are.
  const std::string& Text() const { return text_; }

 private:
  QPlainTextEdit& edit_;
  std::string text_;
  bool changed_ = false;
};

}  // namespace lanewright::gui
