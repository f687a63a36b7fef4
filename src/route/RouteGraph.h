#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "route/RouteMode.h"
#include "route/WarpLink.h"
#include "starmap/WarpPoint.h"
#include "store/ResultCodes.h"

namespace lanewright {

// The warp point network of one route request, built once from the rows and immutable
// afterwards (apart from names interned for the states of a request). Systems are
// numbered; the usable links are stored grouped by the system they leave, ascending by
// warpPointId within a system, which is the order successors are offered in.
class RouteGraph {
 public:
  using SystemId = std::uint32_t;
  using LinkId = std::uint32_t;

  struct Link {
    SystemId system = 0;       // the system the warp point lies in
    SystemId destination = 0;  // the system it leads to (X-name for unexplored ones)
    std::int32_t warpPointId = 0;
    float cost = 0.0f;
    char warpClass = '\0';
    std::uint32_t empireSet = 0;  // index into the graph's empire sets
  };

  RouteGraph() = default;
  // Move-only: the name index views into the graph's own storage.
  RouteGraph(const RouteGraph&) = delete;
  RouteGraph& operator=(const RouteGraph&) = delete;
  RouteGraph(RouteGraph&&) = default;
  RouteGraph& operator=(RouteGraph&&) = default;

  // The number of a name, adding it when it is new (for names that no row holds, such
  // as a start typed by the user or "XX").
  SystemId Intern(std::string_view name);
  std::optional<SystemId> Find(std::string_view name) const;
  const std::string& Name(SystemId id) const { return names_[id]; }
  std::size_t SystemCount() const { return names_.size(); }

  // The links leaving a system: [first, last) indices for LinkAt.
  std::pair<LinkId, LinkId> LinksOf(SystemId id) const {
    if (id + 1 >= firstLink_.size()) return {0, 0};
    return {firstLink_[id], firstLink_[id + 1]};
  }
  bool HasLinks(SystemId id) const {
    const auto [first, last] = LinksOf(id);
    return first != last;
  }
  const Link& LinkAt(LinkId id) const { return links_[id]; }
  std::size_t LinkCount() const { return links_.size(); }
  const std::set<std::int32_t>& Empires(const Link& link) const {
    return empireSets_[link.empireSet];
  }

  // The link as a self-contained record.
  WarpLink MakeWarpLink(LinkId id) const;

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  // A deque: the keys of ids_ view into it, and moving the graph keeps them valid.
  std::deque<std::string> names_;
  std::unordered_map<std::string_view, SystemId, NameHash, std::equal_to<>> ids_;
  std::vector<Link> links_;
  std::vector<LinkId> firstLink_;  // per system, plus one end entry
  std::vector<std::set<std::int32_t>> empireSets_;

  friend class RouteGraphBuilder;
};

// Rows are added in the order the files and tables deliver them; Finish makes the graph
// searchable. avoidSystems must outlive the builder; it compares with the stored
// destination, a leading '?' included, so an X-name in it matches no row.
class RouteGraphBuilder {
 public:
  RouteGraphBuilder(RouteMode mode, const std::set<std::string>& avoidSystems);
  void AddRow(const WarpPoint& row);
  RouteGraph Finish();

 private:
  using Link = RouteGraph::Link;
  RouteMode mode_;
  std::unordered_set<std::string_view> avoid_;
  RouteGraph graph_;  // names are numbered as they come
  std::vector<Link> explored_, unexplored_;
  std::unordered_map<std::int32_t, std::uint32_t> exploredIndex_;
  std::unordered_set<std::int32_t> unexploredIds_, avoidedIds_;
  std::string scratch_;
};

// Builds the graph of a request from every file of databaseFiles, in their order. When a
// file cannot be opened the result is that failure and graph is left unusable.
store::StoreError BuildRouteGraph(const std::set<std::string>& databaseFiles,
                                  const std::set<std::string>& avoidSystems, RouteMode mode,
                                  RouteGraph& graph);

}  // namespace lanewright
