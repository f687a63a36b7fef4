#pragma once

#include "route/RouteSink.h"
#include "starmap/OutputBox.h"

namespace lanewright {

// Writes the route report as text into an output box.
class OutputBoxSink final : public RouteSink {
 public:
  explicit OutputBoxSink(OutputBox& output) : output_(output) {}
  void AppendText(const std::string& text) override;
  void ReportFailure(const std::string& text) override;
  void Clear() override;
  void WarpStep(const std::string& system, const std::string& destination, std::int32_t warpPointId,
                char warpClass, std::span<const std::int32_t> empires, std::int32_t fuelSoFar,
                const SystemEmpireSet& systemEmpire) override;

 private:
  OutputBox& output_;
};

}  // namespace lanewright
