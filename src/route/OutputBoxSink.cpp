#include "route/OutputBoxSink.h"

#include <fmt/format.h>

namespace lanewright {

void OutputBoxSink::AppendText(const std::string& text) { output_.Append(text); }

void OutputBoxSink::ReportFailure(const std::string& text) { output_.Append(text); }

void OutputBoxSink::Clear() { output_.Clear(); }

void OutputBoxSink::WarpStep(std::string system, std::string destination, std::int32_t warpPointId,
                             char warpClass, const std::set<std::int32_t>& empires,
                             std::int32_t fuelSoFar, const SystemEmpireSet& systemEmpire) {
  (void)systemEmpire;
  std::string line =
      fmt::format("{} -> {} WP: {} ({}) (", system, destination, warpPointId, warpClass);
  const char* separator = "";
  for (const std::int32_t empire : empires) {
    line += separator;
    line += fmt::to_string(empire);
    separator = ", ";
  }
  line += fmt::format(")   {}\r\n", fuelSoFar);
  output_.Append(line);
}

void OutputBoxSink::SystemStep(std::string name) { output_.Append(name + "\r\n"); }

}  // namespace lanewright
