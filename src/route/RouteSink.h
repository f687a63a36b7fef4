#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "starmap/StarMap.h"

namespace lanewright {

// Receives the report of a route plan (RenderRoute). The base operations do nothing; an
// implementation overrides what it needs.
class RouteSink {
 public:
  virtual ~RouteSink() = default;
  // Header of a direction, the separator line and the cost line.
  virtual void AppendText(const std::string& text) { (void)text; }
  // The database error text and the "did not find" text of a leg.
  virtual void ReportFailure(const std::string& text) { (void)text; }
  // The start of a report, and again just before the database error text.
  virtual void Clear() {}
  // One jump of a found route, in travel order. empires ascending; fuelSoFar includes this
  // jump.
  virtual void WarpStep(const std::string& system, const std::string& destination,
                        std::int32_t warpPointId, char warpClass,
                        std::span<const std::int32_t> empires, std::int32_t fuelSoFar,
                        const SystemEmpireSet& systemEmpire) {
    (void)system, (void)destination, (void)warpPointId, (void)warpClass, (void)empires,
        (void)fuelSoFar, (void)systemEmpire;
  }
};

}  // namespace lanewright
