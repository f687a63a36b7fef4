#include "starmap/WarpNetwork.h"

#include <fmt/format.h>

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "starmap/NameRules.h"

namespace lanewright {
namespace {

// Byte length of the UTF-8 character that starts text (1 for a stray continuation byte,
// never more than text holds).
std::size_t FirstCharLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text.front());
  const std::size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(n, text.size());
}

constexpr NameId kUnmapped = ~NameId{0};

}  // namespace

std::string UnexploredName(std::string_view rawDestination, std::int32_t warpPointId) {
  const std::string_view rest = rawDestination.substr(1);
  // A bare "?" has no character to name the leaf after; the identifier alone still tells
  // the warp points apart.
  return fmt::format("{}{}", rest.substr(0, FirstCharLength(rest)), warpPointId);
}

class WarpNetworkBuilder {
 public:
  WarpNetworkBuilder(const std::set<std::string>& avoid, NetworkRules rules)
      : avoid_(avoid), rules_(rules) {}

  void AddFile(const EmpireRows& file) {
    const std::size_t count = file.Names().size();
    std::vector<bool> avoided(count);
    for (const auto& name : avoid_)
      if (const auto id = file.Names().Find(name)) avoided[*id] = true;
    std::vector<NameId> global(count, kUnmapped), xGlobal(count, kUnmapped);
    auto map = [&](NameId local) {
      if (global[local] == kUnmapped) global[local] = net_.names_.Intern(file.Name(local));
      return global[local];
    };
    const bool range = rules_.use == NetworkRules::Use::Range;

    for (const WarpPoint& row : file.Rows()) {
      if (!row.hasDestination) continue;
      const std::int32_t id = row.warpPointId;
      if (range ? avoided[row.system] || avoided[row.destination] : avoided[row.destination]) {
        if (!range) avoidedIds_.insert(id);
        continue;
      }
      const std::string_view raw = file.Name(row.destination);
      WarpLink link;
      link.warpPointId = id;
      link.warpClass = row.warpClass;
      if (IsUnexplored(raw)) {
        if (!unexploredIds_.insert(id).second) continue;
        link.unexplored = true;
        link.system = map(row.system);
        if (range) {
          link.destination = net_.names_.Intern(UnexploredName(raw, id));
        } else {
          if (xGlobal[row.destination] == kUnmapped)
            xGlobal[row.destination] = net_.names_.Intern(XName(raw));
          link.destination = xGlobal[row.destination];
        }
        link.firstEmpire = static_cast<std::uint32_t>(row.empire);
        unexplored_.push_back(link);
        continue;
      }
      const auto [it, added] =
          exploredIndex_.try_emplace(id, static_cast<std::uint32_t>(explored_.size()));
      if (!added) {
        extraEmpires_.emplace_back(it->second, row.empire);
        continue;
      }
      link.system = map(row.system);
      link.destination = map(row.destination);
      link.firstEmpire = static_cast<std::uint32_t>(row.empire);
      explored_.push_back(link);
    }
  }

  WarpNetwork Finish() {
    // Every link's empires as one sorted list: the first row's, then what later rows added.
    std::sort(extraEmpires_.begin(), extraEmpires_.end());
    std::vector<WarpLink> links;
    links.reserve(explored_.size() + unexplored_.size());
    auto extra = extraEmpires_.begin();
    std::vector<std::int32_t> set;
    for (std::uint32_t i = 0; i < explored_.size(); ++i) {
      WarpLink link = explored_[i];
      set.assign(1, static_cast<std::int32_t>(link.firstEmpire));
      for (; extra != extraEmpires_.end() && extra->first == i; ++extra)
        set.push_back(extra->second);
      std::sort(set.begin(), set.end());
      set.erase(std::unique(set.begin(), set.end()), set.end());
      link.firstEmpire = static_cast<std::uint32_t>(net_.empires_.size());
      net_.empires_.insert(net_.empires_.end(), set.begin(), set.end());
      link.endEmpire = static_cast<std::uint32_t>(net_.empires_.size());
      links.push_back(link);
    }
    for (WarpLink link : unexplored_) {
      const std::int32_t empire = static_cast<std::int32_t>(link.firstEmpire);
      link.firstEmpire = static_cast<std::uint32_t>(net_.empires_.size());
      net_.empires_.push_back(empire);
      link.endEmpire = link.firstEmpire + 1;
      if (exploredIndex_.count(link.warpPointId) != 0) {
        net_.shadowed_.push_back(link);
      } else if (avoidedIds_.count(link.warpPointId) == 0) {
        links.push_back(link);
      }
    }

    // Grouped by system (a counting sort keeps the work linear), then by identifier.
    std::vector<std::uint32_t>& first = net_.firstLink_;
    first.assign(net_.names_.size() + 1, 0);
    for (const WarpLink& link : links) ++first[link.system + 1];
    std::partial_sum(first.begin(), first.end(), first.begin());
    net_.links_.resize(links.size());
    std::vector<std::uint32_t> next(first.begin(), first.end() - 1);
    for (const WarpLink& link : links) net_.links_[next[link.system]++] = link;
    for (std::size_t s = 0; s + 1 < first.size(); ++s) {
      std::sort(net_.links_.begin() + first[s], net_.links_.begin() + first[s + 1],
                [](const WarpLink& a, const WarpLink& b) { return a.warpPointId < b.warpPointId; });
    }
    return std::move(net_);
  }

 private:
  const std::set<std::string>& avoid_;
  NetworkRules rules_;
  WarpNetwork net_;
  std::vector<WarpLink> explored_, unexplored_;
  std::vector<std::pair<std::uint32_t, std::int32_t>> extraEmpires_;  // (explored link, empire)
  std::unordered_map<std::int32_t, std::uint32_t> exploredIndex_;
  std::unordered_set<std::int32_t> unexploredIds_, avoidedIds_;
};

WarpNetwork BuildWarpNetwork(std::span<const std::shared_ptr<const EmpireRows>> files,
                             const std::set<std::string>& avoid, NetworkRules rules) {
  WarpNetworkBuilder builder(avoid, rules);
  for (const auto& file : files) builder.AddFile(*file);
  return builder.Finish();
}

}  // namespace lanewright
