#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "route/RouteSearch.h"
#include "starmap/WarpNetwork.h"

namespace lanewright {

// What every state of one search shares: the graph, the cost of each class letter in the
// request's mode, and the number the name "XX" has in the request (the goal that any
// unsurveyed system satisfies).
struct RouteContext {
  const WarpNetwork* graph = nullptr;
  std::array<float, 256> cost{};
  WarpNetwork::SystemId anyUnsurveyed = 0;
};

// A system entered through one of its warp points (or named alone: the start, the
// destination and the stops of a request). Systems are numbered as in the graph; a name the
// graph does not know gets a number past the graph's own (it has no warp points). A small
// value; the context must outlive it.
class RouteState {
 public:
  static constexpr std::uint32_t kNoLink = std::numeric_limits<std::uint32_t>::max();

  RouteState() = default;
  static RouteState FromSystem(const RouteContext& context, WarpNetwork::SystemId system) {
    RouteState state;
    state.context_ = &context;
    state.system_ = system;
    return state;
  }

  WarpNetwork::SystemId System() const { return system_; }
  bool HasLink() const { return link_ != kNoLink; }
  // Precondition: HasLink().
  const WarpLink& Link() const { return context_->graph->Links()[link_]; }

  // The engine's contract (see RouteSearch). The estimate is 0: any other value would let
  // a more expensive route by class or fuel be taken first.
  bool ExpandInto(RouteSearch<RouteState>& search, const RouteState* parent) const;
  bool ReachesGoal(const RouteState& goal) const;
  float EntryCost() const {
    return HasLink() ? context_->cost[static_cast<unsigned char>(Link().warpClass)] : 0.0f;
  }
  float Estimate() const { return 0.0f; }
  std::size_t SystemKey() const { return system_; }

 private:
  const RouteContext* context_ = nullptr;
  WarpNetwork::SystemId system_ = 0;
  std::uint32_t link_ = kNoLink;
};

}  // namespace lanewright
