#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace lanewright {

using SystemEmpireSet = std::set<std::pair<std::string, std::int32_t>>;

// Receives everything a route request has to say. The base operations do nothing; an
// implementation overrides what it needs.
class RouteSink {
 public:
  virtual ~RouteSink() = default;
  // Header of a direction, the separator line and the cost line.
  virtual void AppendText(const std::string& text) { (void)text; }
  // The database error text and the "did not find" text of a leg.
  virtual void ReportFailure(const std::string& text) { (void)text; }
  // The start of a request, and again just before the database error text.
  virtual void Clear() {}
  // One jump of a found route, in travel order. fuelSoFar includes this jump.
  virtual void WarpStep(std::string system, std::string destination, std::int32_t warpPointId,
                        char warpClass, const std::set<std::int32_t>& empires,
                        std::int32_t fuelSoFar, const SystemEmpireSet& systemEmpire) {
    (void)system, (void)destination, (void)warpPointId, (void)warpClass, (void)empires,
        (void)fuelSoFar, (void)systemEmpire;
  }
  // A state of a found route that was not entered through a warp point.
  virtual void SystemStep(std::string name) { (void)name; }
};

}  // namespace lanewright
