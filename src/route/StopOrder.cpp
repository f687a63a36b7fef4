#include "route/StopOrder.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <numeric>
#include <queue>
#include <utility>

#include "route/RouteCosts.h"
#include "starmap/StarMap.h"

namespace lanewright {
namespace {

constexpr float kNoTrip = std::numeric_limits<float>::infinity();
using Matrix = std::vector<std::vector<float>>;

// The cheapest cost from one point to every other, as the route search finds it: a point is
// reached by a jump into it, and "XX" by standing in a system no warp point leaves. The start
// itself is reached again only through a warp point that leads straight back into it (the
// search offers those before it closes the start; any longer way back finds it closed).
class CostsFrom {
 public:
  CostsFrom(const RouteGraph& graph, const std::array<float, 256>& cost, std::size_t source,
            std::size_t nodes)
      : graph_(graph), dist_(nodes, kNoTrip), source_(source), back_(kNoTrip) {
    if (source < graph.SystemCount()) {
      for (const WarpLink& link : graph.LinksFrom(static_cast<RouteGraph::SystemId>(source)))
        if (link.destination == source)
          back_ = std::min(back_, cost[static_cast<unsigned char>(link.warpClass)]);
    }
    using Item = std::pair<float, std::size_t>;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
    dist_[source] = 0.0f;
    queue.push({0.0f, source});
    std::vector<bool> done(nodes);
    while (!queue.empty()) {
      const auto [d, node] = queue.top();
      queue.pop();
      if (done[node]) continue;
      done[node] = true;
      if (node >= graph.SystemCount()) continue;
      for (const WarpLink& link : graph.LinksFrom(static_cast<RouteGraph::SystemId>(node))) {
        const float next = cost[static_cast<unsigned char>(link.warpClass)] + d;
        if (next < dist_[link.destination]) {
          dist_[link.destination] = next;
          queue.push({next, link.destination});
        }
      }
    }
  }

  float To(std::size_t target, bool anyUnsurveyed) const {
    float best = target == source_ ? back_ : dist_[target];
    if (anyUnsurveyed) {
      for (std::size_t node = 0; node < dist_.size(); ++node) {
        if (node < graph_.SystemCount() && graph_.HasLinks(static_cast<RouteGraph::SystemId>(node)))
          continue;
        best = std::min(best, dist_[node]);
      }
    }
    return best;
  }

 private:
  const RouteGraph& graph_;
  std::vector<float> dist_;
  std::size_t source_;
  float back_;  // the cheapest warp point from the start straight back into it
};

float TripCost(const Matrix& costs, const std::vector<std::size_t>& order) {
  // Points: 0 the start, 1..n the stops, n + 1 the goal.
  float total = 0.0f;
  std::size_t at = 0;
  for (const std::size_t stop : order) {
    total += costs[at][stop + 1];
    at = stop + 1;
  }
  return total + costs[at][costs.size() - 1];
}

// Held-Karp over the subsets of stops: rest[mask][last] is the cheapest way from stop last
// through the stops not in mask to the goal. The order is then read off from the front,
// taking at each place the first stop that still gives the cheapest total.
StopOrder ExactOrder(const Matrix& costs, std::size_t n) {
  const std::size_t full = (std::size_t{1} << n) - 1;
  std::vector<std::vector<float>> rest(full + 1, std::vector<float>(n, kNoTrip));
  for (std::size_t mask = full + 1; mask-- > 0;) {
    for (std::size_t last = 0; last < n; ++last) {
      if (!(mask & (std::size_t{1} << last))) continue;
      if (mask == full) {
        rest[mask][last] = costs[last + 1][n + 1];
        continue;
      }
      float best = kNoTrip;
      for (std::size_t next = 0; next < n; ++next) {
        if (mask & (std::size_t{1} << next)) continue;
        best =
            std::min(best, costs[last + 1][next + 1] + rest[mask | (std::size_t{1} << next)][next]);
      }
      rest[mask][last] = best;
    }
  }
  StopOrder result;
  float best = kNoTrip;
  for (std::size_t first = 0; first < n; ++first)
    best = std::min(best, costs[0][first + 1] + rest[std::size_t{1} << first][first]);
  if (best == kNoTrip) return result;
  std::size_t mask = 0, at = 0;
  float spent = 0.0f;
  while (mask != full) {
    for (std::size_t next = 0; next < n; ++next) {
      if (mask & (std::size_t{1} << next)) continue;
      const std::size_t after = mask | (std::size_t{1} << next);
      if (spent + costs[at][next + 1] + rest[after][next] == best) {
        spent += costs[at][next + 1];
        result.order.push_back(next);
        mask = after;
        at = next + 1;
        break;
      }
    }
  }
  result.found = result.proven = true;
  return result;
}

// Nearest neighbour from the start, or the given order when that is cheaper, improved by
// reversing stretches of the order (2-opt) while that makes the trip strictly cheaper.
StopOrder HeuristicOrder(const Matrix& costs, std::size_t n) {
  std::vector<std::size_t> nearest;
  std::vector<bool> used(n);
  std::size_t at = 0;
  for (std::size_t step = 0; step < n; ++step) {
    std::size_t pick = n;
    for (std::size_t s = 0; s < n; ++s)
      if (!used[s] && (pick == n || costs[at][s + 1] < costs[at][pick + 1])) pick = s;
    used[pick] = true;
    nearest.push_back(pick);
    at = pick + 1;
  }
  std::vector<std::size_t> given(n);
  std::iota(given.begin(), given.end(), 0);
  std::vector<std::size_t> order =
      TripCost(costs, nearest) < TripCost(costs, given) ? nearest : given;
  float total = TripCost(costs, order);
  for (bool better = true; better;) {
    better = false;
    for (std::size_t i = 0; i + 1 < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        std::vector<std::size_t> candidate = order;
        std::reverse(candidate.begin() + static_cast<std::ptrdiff_t>(i),
                     candidate.begin() + static_cast<std::ptrdiff_t>(j) + 1);
        const float cost = TripCost(costs, candidate);
        if (cost < total) {
          order = std::move(candidate);
          total = cost;
          better = true;
        }
      }
    }
  }
  StopOrder result;
  if (total == kNoTrip) return result;
  result.order = std::move(order);
  result.found = true;
  return result;
}

}  // namespace

StopOrder BestStopOrder(const RouteGraph& graph, RouteMode mode, const std::string& start,
                        const std::vector<std::string>& stops, const std::string& goal) {
  const std::size_t n = stops.size();
  StopOrder result;
  result.order.resize(n);
  std::iota(result.order.begin(), result.order.end(), 0);
  if (n < 2) return result;

  // Every point as a node of the graph, or past it for a name the graph does not know.
  std::vector<std::string> points = {start};
  points.insert(points.end(), stops.begin(), stops.end());
  points.push_back(goal);
  std::vector<std::string> unknown;
  std::vector<std::size_t> node;
  for (const std::string& point : points) {
    if (const auto id = graph.Find(point)) {
      node.push_back(*id);
      continue;
    }
    auto it = std::find(unknown.begin(), unknown.end(), point);
    if (it == unknown.end()) it = unknown.insert(unknown.end(), point);
    node.push_back(graph.SystemCount() + static_cast<std::size_t>(it - unknown.begin()));
  }
  const std::size_t nodes = graph.SystemCount() + unknown.size();
  const auto cost = JumpCostTable(mode);

  // One search from each point a leg can leave (the goal leaves to nowhere).
  Matrix costs(points.size(), std::vector<float>(points.size(), kNoTrip));
  for (std::size_t from = 0; from + 1 < points.size(); ++from) {
    const CostsFrom search(graph, cost, node[from], nodes);
    for (std::size_t to = 1; to < points.size(); ++to)
      if (to != from) costs[from][to] = search.To(node[to], points[to] == kAnyUnsurveyed);
  }
  StopOrder best = n <= kMaxExactStops ? ExactOrder(costs, n) : HeuristicOrder(costs, n);
  if (!best.found) return result;
  return best;
}

}  // namespace lanewright
