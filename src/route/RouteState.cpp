#include "route/RouteState.h"

namespace lanewright {

RouteState RouteState::FromName(RouteGraph& graph, std::string_view name) {
  RouteState state;
  state.graph_ = &graph;
  state.system_ = graph.Intern(name);
  return state;
}

RouteState RouteState::FromLink(const RouteGraph& graph, RouteGraph::LinkId link) {
  RouteState state;
  state.graph_ = &graph;
  state.system_ = graph.LinkAt(link).destination;
  state.link_ = link;
  return state;
}

bool RouteState::ExpandInto(RouteSearch<RouteState>& search, const RouteState* parent) const {
  // The system just left comes back as a successor; the closed list turns it away.
  (void)parent;
  const auto [first, last] = graph_->LinksOf(system_);
  // A successor that cannot be made is simply not searched.
  for (RouteGraph::LinkId link = first; link != last; ++link)
    (void)search.Offer(FromLink(*graph_, link));
  return true;
}

bool RouteState::ReachesGoal(const RouteState& goal) const {
  if (goal.Name() == kAnyUnsurveyed && !graph_->HasLinks(system_)) return true;
  if (!HasLink()) return false;
  return Link().destination == goal.system_;
}

}  // namespace lanewright
