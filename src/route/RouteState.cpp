#include "route/RouteState.h"

namespace lanewright {

bool RouteState::ExpandInto(RouteSearch<RouteState>& search, const RouteState* parent) const {
  // The system just left comes back as a successor; the closed list turns it away.
  (void)parent;
  const std::span<const WarpLink> links = context_->graph->LinksFrom(system_);
  if (links.empty()) return true;
  const auto first = static_cast<std::uint32_t>(links.data() - context_->graph->Links().data());
  RouteState next;
  next.context_ = context_;
  for (std::uint32_t i = 0; i < links.size(); ++i) {
    next.system_ = links[i].destination;
    next.link_ = first + i;
    // A successor that cannot be made is simply not searched.
    (void)search.Offer(next);
  }
  return true;
}

bool RouteState::ReachesGoal(const RouteState& goal) const {
  if (goal.system_ == context_->anyUnsurveyed && !context_->graph->HasLinks(system_)) return true;
  if (!HasLink()) return false;
  return Link().destination == goal.system_;
}

}  // namespace lanewright
