#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "starmap/EmpireRows.h"
#include "starmap/NamePool.h"
#include "starmap/WarpLink.h"

namespace lanewright {

// The warp points of a set of empire files merged into one network: one link per warp point
// identifier, names numbered once, the links leaving each system grouped together in
// ascending identifier order. Built once from rows and never changed afterwards.
class WarpNetwork {
 public:
  using SystemId = NamePool::Id;

  std::size_t SystemCount() const { return names_.size(); }
  std::string_view Name(SystemId id) const { return names_.Name(id); }
  std::optional<SystemId> Find(std::string_view name) const { return names_.Find(name); }

  // Every link, grouped by the system it leaves (systems in id order), ascending identifier
  // within a system.
  std::span<const WarpLink> Links() const { return links_; }
  std::span<const WarpLink> LinksFrom(SystemId system) const {
    if (system + 1 >= firstLink_.size()) return {};
    return std::span<const WarpLink>(links_).subspan(firstLink_[system],
                                                     firstLink_[system + 1] - firstLink_[system]);
  }
  bool HasLinks(SystemId system) const { return !LinksFrom(system).empty(); }
  std::span<const std::int32_t> Empires(const WarpLink& link) const {
    return std::span<const std::int32_t>(empires_).subspan(link.firstEmpire,
                                                           link.endEmpire - link.firstEmpire);
  }
  // Unexplored warp points whose identifier an explored one took: no link, but their names
  // are still part of the map.
  std::span<const WarpLink> Shadowed() const { return shadowed_; }

 private:
  friend class WarpNetworkBuilder;
  NamePool names_;
  std::vector<WarpLink> links_;
  std::vector<std::uint32_t> firstLink_;  // per system, plus one end entry
  std::vector<std::int32_t> empires_;
  std::vector<WarpLink> shadowed_;
};

// How rows become links. Both uses share the core rules: rows without a destination are left
// out; the first row of an identifier decides the link's names and class, later explored
// rows add their empire; an explored row beats an unexplored one of the same identifier.
struct NetworkRules {
  // The route search: only the destination is checked against the avoid set, a system that is
  // avoided can still be left, and an avoided row also removes the unexplored row of its
  // identifier; an unexplored destination is named by its X-name ("?Foo" -> "XFoo").
  // The range listing and the map: rows lying in or leading to an avoided system are left out
  // altogether, and an unexplored destination is named after the character that follows the
  // '?' and the identifier ("?CC", 417 -> "C417"), so each is a leaf of its own.
  enum class Use { Route, Range };
  Use use = Use::Route;
};

// Builds the network of files (in their order) leaving out what avoid names. Avoided names
// compare with the destination as stored, a leading '?' included, so an X-name matches no row.
WarpNetwork BuildWarpNetwork(std::span<const std::shared_ptr<const EmpireRows>> files,
                             const std::set<std::string>& avoid, NetworkRules rules);

// The name the range listing and the map give an unexplored warp point.
std::string UnexploredName(std::string_view rawDestination, std::int32_t warpPointId);

}  // namespace lanewright
