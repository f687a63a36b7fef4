#include "route/OutputBoxSink.h"

#include <fmt/format.h>

namespace lanewright {

void OutputBoxSink::AppendText(const std::string& text) { output_.Append(text); }

void OutputBoxSink::ReportFailure(const std::string& text) { output_.Append(text); }

void OutputBoxSink::Clear() { output_.Clear(); }

void OutputBoxSink::WarpStep(const std::string& system, const std::string& destination,
                             std::int32_t warpPointId, char warpClass,
                             std::span<const std::int32_t> empires, std::int32_t fuelSoFar,
                             const SystemEmpireSet& systemEmpire) {
  (void)systemEmpire;
  output_.Append(fmt::format("{} -> {} WP: {} ({}) ({})   {}\r\n", system, destination, warpPointId,
                             warpClass, fmt::join(empires, ", "), fuelSoFar));
}

}  // namespace lanewright
