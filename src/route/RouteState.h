#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "route/RouteGraph.h"
#include "route/RouteSearch.h"

namespace lanewright {

// A system of the route graph, entered through one of its links (or made from a name
// alone: the start, the destination and the system to visit of a request). A small value
// that refers into its graph, which must outlive it.
class RouteState {
 public:
  static constexpr RouteGraph::LinkId kNoLink = std::numeric_limits<RouteGraph::LinkId>::max();

  RouteState() = default;
  static RouteState FromName(RouteGraph& graph, std::string_view name);
  static RouteState FromLink(const RouteGraph& graph, RouteGraph::LinkId link);

  const std::string& Name() const { return graph_->Name(system_); }
  bool HasLink() const { return link_ != kNoLink; }
  // Precondition: HasLink().
  const RouteGraph::Link& Link() const { return graph_->LinkAt(link_); }
  RouteGraph::SystemId System() const { return system_; }

  // The engine's contract (see RouteSearch). The estimate is 0: any other value would let
  // a more expensive route by class or fuel be taken first.
  bool ExpandInto(RouteSearch<RouteState>& search, const RouteState* parent) const;
  bool ReachesGoal(const RouteState& goal) const;
  bool SameSystem(const RouteState& other) const { return system_ == other.system_; }
  float EntryCost() const { return HasLink() ? Link().cost : 0.0f; }
  float Estimate() const { return 0.0f; }
  std::size_t SystemKey() const { return system_; }

 private:
  const RouteGraph* graph_ = nullptr;
  RouteGraph::SystemId system_ = 0;
  RouteGraph::LinkId link_ = kNoLink;
};

// The goal name that any unsurveyed system satisfies.
inline constexpr std::string_view kAnyUnsurveyed = "XX";

}  // namespace lanewright
