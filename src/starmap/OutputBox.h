#pragma once

#include <string>
#include <string_view>

namespace lanewright {

// Where an operation writes the text the user reads. Text uses "\r\n" line ends; the
// front ends convert them for display.
class OutputBox {
 public:
  virtual ~OutputBox() = default;
  virtual void SetText(std::string_view text) = 0;
  virtual void Append(std::string_view text) = 0;
  void Clear() { SetText(""); }
};

// An output box that keeps its text in memory: the CLI prints it, tests compare it.
class StringOutputBox final : public OutputBox {
 public:
  void SetText(std::string_view text) override { text_.assign(text); }
  void Append(std::string_view text) override { text_.append(text); }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace lanewright
