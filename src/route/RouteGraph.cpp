#include "route/RouteGraph.h"

#include <algorithm>
#include <numeric>

#include "route/RouteCosts.h"
#include "starmap/EmpireDatabase.h"
#include "starmap/NameRules.h"

namespace lanewright {

RouteGraphBuilder::RouteGraphBuilder(RouteMode mode, const std::set<std::string>& avoidSystems)
    : mode_(mode), avoid_(avoidSystems.begin(), avoidSystems.end()) {}

void RouteGraphBuilder::AddRow(const WarpPoint& row) {
  scratch_ = RawDestinationName(row.destination);
  // A row without a destination name leads nowhere a route could go.
  if (scratch_.empty()) return;
  const std::int32_t id = row.warpPointId;
  if (avoid_.contains(scratch_)) {
    avoidedIds_.insert(id);
    return;
  }
  const bool isUnexplored = scratch_.front() == '?';
  if (isUnexplored) {
    // Unexplored rows are not merged: the first row of an identifier wins whole.
    if (!unexploredIds_.insert(id).second) return;
    scratch_.front() = 'X';
  } else {
    const auto [it, added] =
        exploredIndex_.try_emplace(id, static_cast<std::uint32_t>(explored_.size()));
    if (!added) {
      graph_.empireSets_[explored_[it->second].empireSet].insert(row.empire);
      return;
    }
  }
  const char warpClass = ClassLetter(row.destination);
  Link link;
  link.system = graph_.Intern(row.system);
  link.destination = graph_.Intern(scratch_);
  link.warpPointId = id;
  link.cost = JumpCost(mode_, warpClass);
  link.warpClass = warpClass;
  link.empireSet = static_cast<std::uint32_t>(graph_.empireSets_.size());
  graph_.empireSets_.push_back({row.empire});
  (isUnexplored ? unexplored_ : explored_).push_back(link);
}

RouteGraph RouteGraphBuilder::Finish() {
  std::vector<Link>& links = graph_.links_;
  links = std::move(explored_);
  // The explored row of an identifier beats an unexplored one; an avoided row removes the
  // unexplored one too.
  for (const Link& link : unexplored_) {
    if (!exploredIndex_.contains(link.warpPointId) && !avoidedIds_.contains(link.warpPointId))
      links.push_back(link);
  }
  std::sort(links.begin(), links.end(), [](const Link& a, const Link& b) {
    return a.system != b.system ? a.system < b.system : a.warpPointId < b.warpPointId;
  });
  graph_.firstLink_.assign(graph_.names_.size() + 1, 0);
  for (const Link& link : links) ++graph_.firstLink_[link.system + 1];
  std::partial_sum(graph_.firstLink_.begin(), graph_.firstLink_.end(), graph_.firstLink_.begin());
  return std::move(graph_);
}

RouteGraph::SystemId RouteGraph::Intern(std::string_view name) {
  if (const auto it = ids_.find(name); it != ids_.end()) return it->second;
  const auto id = static_cast<SystemId>(names_.size());
  names_.emplace_back(name);
  ids_.emplace(names_.back(), id);
  return id;
}

std::optional<RouteGraph::SystemId> RouteGraph::Find(std::string_view name) const {
  if (const auto it = ids_.find(name); it != ids_.end()) return it->second;
  return std::nullopt;
}

WarpLink RouteGraph::MakeWarpLink(LinkId id) const {
  const Link& link = links_[id];
  WarpLink out;
  out.destination = Name(link.destination);
  out.system = Name(link.system);
  out.warpPointId = link.warpPointId;
  out.cost = link.cost;
  out.warpClass = link.warpClass;
  out.empires = Empires(link);
  return out;
}

store::StoreError BuildRouteGraph(const std::set<std::string>& databaseFiles,
                                  const std::set<std::string>& avoidSystems, RouteMode mode,
                                  RouteGraph& graph) {
  RouteGraphBuilder builder(mode, avoidSystems);
  for (const auto& path : databaseFiles) {
    EmpireDatabase db;
    db.record.dbFile = path;
    if (const store::HResult hr = db.Open(); hr != store::S_OK) {
      store::StoreError err = db.error();
      err.code = hr;
      return err;
    }
    // A file damaged part-way ends its rows quietly, as during the load.
    while (db.MoveNext() == store::S_OK) builder.AddRow(db.record);
    db.Release();
  }
  graph = builder.Finish();
  return {};
}

}  // namespace lanewright
