#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <limits>
#include <random>
#include <sstream>

#include <fmt/format.h>

#include "route/FindRoute.h"
#include "route/OutputBoxSink.h"
#include "route/RouteCosts.h"
#include "route/RouteGraph.h"
#include "route/RouteSearch.h"
#include "route/RouteState.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

// ---- the engine on its own -------------------------------------------------------------

// A directed graph with an arbitrary estimate per node, so that estimates can make
// expanded nodes reopen.
struct TestGraph {
  struct Edge {
    int to;
    float cost;
  };
  std::vector<std::vector<Edge>> out;
  std::vector<float> h;
  int failAt = -1;  // ExpandInto of this node reports a failure

  explicit TestGraph(int nodes) : out(nodes), h(nodes, 0.0f) {}
  void Add(int from, int to, float cost) { out[from].push_back({to, cost}); }
};

struct TestState {
  const TestGraph* graph = nullptr;
  int node = 0;
  int from = -1;  // node the step came from (-1 for a state made on its own)
  float cost = 0.0f;

  template <typename Search>
  bool ExpandInto(Search& search, const TestState*) const {
    if (node == graph->failAt) return false;
    for (const auto& e : graph->out[node]) search.Offer(TestState{graph, e.to, node, e.cost});
    return true;
  }
  bool ReachesGoal(const TestState& goal) const { return node == goal.node; }
  bool SameSystem(const TestState& other) const { return node == other.node; }
  float EntryCost() const { return cost; }
  float Estimate() const { return graph->h[node]; }
  std::size_t SystemKey() const { return static_cast<std::size_t>(node); }
};

using Step = std::pair<int, int>;  // (from, node)

struct Outcome {
  SearchStatus status = SearchStatus::NotStarted;
  std::vector<Step> path;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << "status " << static_cast<int>(o.status) << " path";
  for (auto [from, node] : o.path) os << ' ' << from << '>' << node;
  return os;
}

Outcome RunToEnd(RouteSearch<TestState>& search, const TestState& start, const TestState& goal) {
  search.Begin(start, goal);
  Outcome out;
  while ((out.status = search.Step()) == SearchStatus::Searching) {
  }
  if (out.status == SearchStatus::Succeeded) {
    for (const TestState* s = search.SolutionFirst(); s; s = search.SolutionNext())
      out.path.emplace_back(s->from, s->node);
    search.ReleaseSolution();
  }
  return out;
}

// The search exactly as the open and closed lists are meant to work: linear scans of
// both arrays, erase + make_heap. The engine's index must find the same nodes.
class ScanSearch {
 public:
  bool Offer(const TestState& s) {
    successors_.push_back(New(s));
    return true;
  }

  Outcome Run(const TestState& start, const TestState& goal) {
    Node* first = New(start);
    first->h = first->f = start.Estimate();
    open_.push_back(first);
    std::push_heap(open_.begin(), open_.end(), Below);
    for (;;) {
      if (open_.empty()) return {SearchStatus::Failed, {}};
      std::pop_heap(open_.begin(), open_.end(), Below);
      Node* n = open_.back();
      open_.pop_back();
      if (n->state.ReachesGoal(goal)) {
        Outcome out{SearchStatus::Succeeded, {}};
        for (Node* p = n; p; p = p->parent) out.path.emplace_back(p->state.from, p->state.node);
        std::reverse(out.path.begin(), out.path.end());
        return out;
      }
      successors_.clear();
      if (!n->state.ExpandInto(*this, n->parent ? &n->parent->state : nullptr))
        return {SearchStatus::OutOfMemory, {}};
      for (Node* s : successors_) {
        const float newG = s->state.EntryCost() + n->g;
        auto same = [s](const Node* o) { return o->state.SameSystem(s->state); };
        auto o = std::find_if(open_.begin(), open_.end(), same);
        if (o != open_.end() && (*o)->g <= newG) continue;
        auto c = std::find_if(closed_.begin(), closed_.end(), same);
        if (c != closed_.end() && (*c)->g <= newG) continue;
        s->parent = n;
        s->g = newG;
        s->h = s->state.Estimate();
        s->f = s->g + s->h;
        if (c != closed_.end()) closed_.erase(c);
        if (o != open_.end()) {
          open_.erase(o);
          std::make_heap(open_.begin(), open_.end(), Below);
        }
        open_.push_back(s);
        std::push_heap(open_.begin(), open_.end(), Below);
      }
      closed_.push_back(n);
    }
  }

 private:
  struct Node {
    Node* parent = nullptr;
    float g = 0, h = 0, f = 0;
    TestState state;
  };
  static bool Below(const Node* a, const Node* b) { return a->f > b->f; }
  Node* New(const TestState& s) {
    nodes_.push_back(Node{});
    nodes_.back().state = s;
    return &nodes_.back();
  }
  std::deque<Node> nodes_;
  std::vector<Node*> open_, closed_, successors_;
};

TEST(RouteSearchTest, StepBeforeBeginFailsAndKeepsFailing) {
  RouteSearch<TestState> search;
  EXPECT_EQ(search.Status(), SearchStatus::NotStarted);
  EXPECT_EQ(search.Step(), SearchStatus::Failed);
  EXPECT_EQ(search.Step(), SearchStatus::Failed);
  search.ReleaseSolution();  // nothing to release: harmless
  EXPECT_EQ(search.LiveNodes(), 0u);
}

TEST(RouteSearchTest, StartThatIsTheGoalSucceedsAtOnceWithAnEmptyPath) {
  TestGraph g(2);
  g.Add(0, 1, 1);
  RouteSearch<TestState> search;
  search.Begin({&g, 0}, {&g, 0});
  EXPECT_EQ(search.Step(), SearchStatus::Succeeded);
  ASSERT_NE(search.SolutionFirst(), nullptr);
  EXPECT_EQ(search.SolutionFirst()->node, 0);
  EXPECT_EQ(search.SolutionNext(), nullptr);
  search.ReleaseSolution();
  EXPECT_EQ(search.LiveNodes(), 0u);
}

TEST(RouteSearchTest, NoPathSearchesEveryReachableStateThenFails) {
  TestGraph g(4);  // 0 -> 1 -> 2, 3 unreachable
  g.Add(0, 1, 1);
  g.Add(1, 2, 1);
  g.Add(1, 0, 1);
  RouteSearch<TestState> search;
  search.Begin({&g, 0}, {&g, 3});
  int searching = 0;
  SearchStatus status;
  while ((status = search.Step()) == SearchStatus::Searching) ++searching;
  EXPECT_EQ(searching, 3);  // one expansion per reachable node
  EXPECT_EQ(status, SearchStatus::Failed);
  EXPECT_EQ(search.Step(), SearchStatus::Failed);
  EXPECT_EQ(search.LiveNodes(), 0u);
}

// A path that only equals the cost of a known node never replaces it, open or closed;
// a strictly cheaper one does, also once the node was expanded.
TEST(RouteSearchTest, EqualCostKeepsTheFirstNodeCheaperReplacesIt) {
  struct Case {
    const char* name;
    std::vector<std::array<float, 3>> edges;
    std::vector<float> h;
    int goal;
    std::vector<Step> path;
  };
  const std::vector<Case> cases = {
      // 1 is in the open list when 2 offers it at the same cost 2.
      {"equal to open", {{0, 1, 2}, {0, 2, 1}, {2, 1, 1}}, {0, 0, 0}, 1, {{-1, 0}, {0, 1}}},
      // 1 is already expanded (2's estimate delays it) when 2 offers it at cost 1 again.
      {"equal to closed",
       {{0, 1, 1}, {0, 2, 0}, {2, 1, 1}, {1, 3, 1}},
       {0, 0, 5, 10},
       3,
       {{-1, 0}, {0, 1}, {1, 3}}},
      // 1 is expanded early through the expensive edge; 2 reaches it cheaper later, so 1
      // reopens, and the open node of 3 is replaced by the cheaper one.
      {"cheaper reopens closed and replaces open",
       {{0, 1, 5}, {0, 2, 1}, {2, 1, 1}, {1, 3, 1}},
       {0, 0, 10, 20},
       3,
       {{-1, 0}, {0, 2}, {2, 1}, {1, 3}}},
      // Zero-cost steps back to an expanded node are not cheaper: no endless reopening.
      {"zero cost never reopens", {{0, 1, 0}, {1, 0, 0}, {1, 2, 0}}, {0, 0, 0}, 2,
       {{-1, 0}, {0, 1}, {1, 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestGraph g(static_cast<int>(c.h.size()));
    g.h = c.h;
    for (const auto& e : c.edges) g.Add(static_cast<int>(e[0]), static_cast<int>(e[1]), e[2]);
    RouteSearch<TestState> search;
    const Outcome got = RunToEnd(search, {&g, 0}, {&g, c.goal});
    EXPECT_EQ(got, (Outcome{SearchStatus::Succeeded, c.path}));
    EXPECT_EQ(search.LiveNodes(), 0u);
  }
}

TEST(RouteSearchTest, FailedExpansionIsOutOfMemoryThenFailed) {
  TestGraph g(4);
  g.Add(0, 1, 1);
  g.Add(0, 2, 1);
  g.Add(1, 3, 1);
  g.failAt = 1;
  RouteSearch<TestState> search;
  search.Begin({&g, 0}, {&g, 3});
  EXPECT_EQ(search.Step(), SearchStatus::Searching);
  EXPECT_EQ(search.Step(), SearchStatus::OutOfMemory);
  EXPECT_EQ(search.LiveNodes(), 0u);
  EXPECT_EQ(search.Step(), SearchStatus::Failed);
}

TEST(RouteSearchTest, SameObjectServesOneSearchAfterAnother) {
  TestGraph g(3);
  g.Add(0, 1, 1);
  g.Add(1, 2, 1);
  RouteSearch<TestState> search;
  EXPECT_EQ(RunToEnd(search, {&g, 0}, {&g, 2}).path, (std::vector<Step>{{-1, 0}, {0, 1}, {1, 2}}));
  EXPECT_EQ(RunToEnd(search, {&g, 2}, {&g, 0}).status, SearchStatus::Failed);
  EXPECT_EQ(RunToEnd(search, {&g, 1}, {&g, 2}).path, (std::vector<Step>{{-1, 1}, {1, 2}}));
  // Abandoned half-way, and a solution never released: the next Begin cleans up.
  search.Begin({&g, 0}, {&g, 2});
  search.Step();
  EXPECT_EQ(RunToEnd(search, {&g, 0}, {&g, 2}).status, SearchStatus::Succeeded);
  search.Begin({&g, 0}, {&g, 0});
  EXPECT_EQ(search.Step(), SearchStatus::Succeeded);
  EXPECT_EQ(RunToEnd(search, {&g, 0}, {&g, 1}).path, (std::vector<Step>{{-1, 0}, {0, 1}}));
  EXPECT_EQ(search.LiveNodes(), 0u);
}

// Plain Dijkstra distances from start.
std::vector<float> ReferenceDistances(const TestGraph& g, int start) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> dist(g.out.size(), inf);
  std::vector<bool> done(g.out.size(), false);
  dist[start] = 0;
  for (;;) {
    int best = -1;
    for (std::size_t i = 0; i < dist.size(); ++i)
      if (!done[i] && dist[i] != inf && (best < 0 || dist[i] < dist[best])) best = static_cast<int>(i);
    if (best < 0) return dist;
    done[best] = true;
    for (const auto& e : g.out[best]) dist[e.to] = std::min(dist[e.to], dist[best] + e.cost);
  }
}

TestGraph RandomGraph(std::mt19937& rng, bool withEstimates) {
  const int nodes = std::uniform_int_distribution<int>(2, 40)(rng);
  TestGraph g(nodes);
  const int edges = std::uniform_int_distribution<int>(0, nodes * 4)(rng);
  std::uniform_int_distribution<int> pick(0, nodes - 1), cost(0, 3), h(0, 6);
  // Few distinct small costs: many ties; self-loops and parallel edges included.
  for (int i = 0; i < edges; ++i) g.Add(pick(rng), pick(rng), static_cast<float>(cost(rng)));
  if (withEstimates)
    for (auto& v : g.h) v = static_cast<float>(h(rng));
  return g;
}

TEST(RouteSearchTest, RandomGraphsMatchDijkstraWithSoundPaths) {
  std::mt19937 rng(20261206);
  RouteSearch<TestState> search;  // one object for every search: reuse is part of the test
  int found = 0;
  for (int round = 0; round < 400; ++round) {
    const TestGraph g = RandomGraph(rng, false);
    const int n = static_cast<int>(g.out.size());
    const int start = static_cast<int>(rng() % n), goal = static_cast<int>(rng() % n);
    const auto dist = ReferenceDistances(g, start);
    const Outcome got = RunToEnd(search, {&g, start}, {&g, goal});
    SCOPED_TRACE(::testing::Message() << "round " << round << ' ' << got);
    ASSERT_EQ(search.LiveNodes(), 0u);
    if (dist[goal] == std::numeric_limits<float>::infinity()) {
      EXPECT_EQ(got.status, SearchStatus::Failed);
      continue;
    }
    ASSERT_EQ(got.status, SearchStatus::Succeeded);
    ++found;
    ASSERT_FALSE(got.path.empty());
    EXPECT_EQ(got.path.front().second, start);
    EXPECT_EQ(got.path.back().second, goal);
    float cost = 0;
    for (std::size_t i = 1; i < got.path.size(); ++i) {
      const auto [from, node] = got.path[i];
      ASSERT_EQ(from, got.path[i - 1].second) << "path not continuous at " << i;
      // The cheapest edge between the two nodes is what the search can have used.
      float edge = std::numeric_limits<float>::infinity();
      for (const auto& e : g.out[from])
        if (e.to == node) edge = std::min(edge, e.cost);
      ASSERT_NE(edge, std::numeric_limits<float>::infinity());
      cost += edge;
    }
    EXPECT_EQ(cost, dist[goal]);
  }
  EXPECT_GT(found, 100);
}

// With arbitrary estimates nodes reopen and open nodes get replaced; ties are frequent.
// The indexed engine must take exactly the path the scanning one takes.
TEST(RouteSearchTest, RandomGraphsTakeTheSamePathAsTheScanningSearch) {
  std::mt19937 rng(7);
  RouteSearch<TestState> search;
  for (int round = 0; round < 600; ++round) {
    const TestGraph g = RandomGraph(rng, round % 3 != 0);
    const int n = static_cast<int>(g.out.size());
    const TestState start{&g, static_cast<int>(rng() % n)}, goal{&g, static_cast<int>(rng() % n)};
    ScanSearch reference;
    const Outcome want = reference.Run(start, goal);
    EXPECT_EQ(RunToEnd(search, start, goal), want) << "round " << round;
    ASSERT_EQ(search.LiveNodes(), 0u);
  }
}

// ---- route requests over empire files -----------------------------------------------------

using testing::EmpireRow;
using testing::FixtureFormat;

const std::string kSeparator(58, '=');
const std::string kNotFound = "Search terminated. Did not find goal state!\r\n\r\n";

std::string Costs(int length, int classPoints, int fuel) {
  return kSeparator + "\r\nCosts for trip: Length: " + std::to_string(length) +
         " WPs: " + std::to_string(classPoints) + " Fuel Modifer: " + std::to_string(fuel) +
         "\r\n\r\n";
}

// Records the sink calls of a request, one line each.
class RecordingSink final : public RouteSink {
 public:
  std::vector<std::string> calls;
  const SystemEmpireSet* systemEmpire = nullptr;
  void AppendText(const std::string& text) override { calls.push_back("text " + text); }
  void ReportFailure(const std::string& text) override { calls.push_back("failure " + text); }
  void Clear() override { calls.push_back("clear"); }
  void WarpStep(std::string system, std::string destination, std::int32_t warpPointId, char,
                const std::set<std::int32_t>&, std::int32_t fuelSoFar,
                const SystemEmpireSet& se) override {
    systemEmpire = &se;
    calls.push_back("warp " + system + ">" + destination + " " + std::to_string(warpPointId) +
                    " " + std::to_string(fuelSoFar));
  }
  void SystemStep(std::string name) override { calls.push_back("system " + name); }
};

class RouteRequestTest : public ::testing::TestWithParam<FixtureFormat> {
 protected:
  // Writes one new empire file per row list and selects them, in the lists' order.
  void Files(const std::vector<std::vector<EmpireRow>>& files) {
    starMap.databaseFiles.clear();
    for (const auto& rows : files) {
      const std::string path = dir.File(fmt::format("f{:04}.db", fileCount++));
      testing::WriteEmpireFile(GetParam(), path, rows);
      starMap.databaseFiles.insert(path);
    }
  }
  void File(const std::vector<EmpireRow>& rows) { Files({rows}); }

  std::string Report(const std::string& from, const std::string& to, RouteMode mode,
                     bool bothWays = true, std::optional<std::string> via = std::nullopt,
                     std::set<std::string> avoid = {}) {
    starMap.avoidSystems = std::move(avoid);
    StringOutputBox output;
    OutputBoxSink sink(output);
    result = FindRoute(starMap, from, to, via, mode, sink, bothWays);
    return output.Text();
  }

  testing::TempDir dir;
  int fileCount = 0;
  StarMap starMap;
  RouteResult result;
};

TEST_P(RouteRequestTest, ReportOfAFoundAndAMissingDirection) {
  File({{1, 3, "Alpha", "BetaB", 12}, {2, 3, "Beta", "GammaD", 40}, {3, 7, "Beta", "GammaD", 40}});
  StringOutputBox output;
  result = RouteCommand(starMap, "Alpha", "Gamma", "[none]", {}, RouteMode::ByJumps, output);
  EXPECT_EQ(output.Text(),
            "Alpha -> Gamma\r\n"
            "\r\n"
            "Alpha -> Beta WP: 12 (B) (3)   2\r\n"
            "Beta -> Gamma WP: 40 (D) (3, 7)   11\r\n" +
                Costs(2, 6, 11) +
                "Gamma -> Alpha\r\n"
                "\r\n" +
                kNotFound);
  EXPECT_EQ(result.directions, 2);
  EXPECT_EQ(result.directionsFound, 1);
  EXPECT_FALSE(result.AllFound());
}

// Four equally short routes S -> x -> G exist in spirit, two in fact (over B and over C).
// Taking nodes first-come-first-served, or from a heap that breaks ties another way,
// goes over B; the open list's order expands A, then C, before B.
TEST_P(RouteRequestTest, TiesAreBrokenByTheOpenListOrder) {
  File({{1, 1, "S", "AA", 1}, {1, 1, "S", "BA", 2}, {1, 1, "S", "CA", 3}, {1, 1, "S", "DA", 4},
        {1, 1, "B", "GA", 5}, {1, 1, "C", "GA", 6}});
  for (RouteMode mode : {RouteMode::ByJumps, RouteMode::ByClass, RouteMode::ByFuel}) {
    EXPECT_EQ(Report("S", "G", mode, false),
              "S -> G\r\n\r\nS -> C WP: 3 (A) (1)   1\r\nC -> G WP: 6 (A) (1)   2\r\n" +
                  Costs(2, 2, 2));
  }
}

TEST_P(RouteRequestTest, ByFuelTakesTheCheapestRouteNotTheOneFoundFirst) {
  File({{1, 1, "Alpha", "XD", 1}, {1, 1, "Alpha", "PD", 2}, {1, 1, "X", "GammaA", 3},
        {1, 1, "P", "GammaN", 4}});
  EXPECT_EQ(Report("Alpha", "Gamma", RouteMode::ByFuel, false),
            "Alpha -> Gamma\r\n\r\nAlpha -> P WP: 2 (D) (1)   9\r\nP -> Gamma WP: 4 (N) (1)   9\r\n" +
                Costs(2, 18, 9));
  // By class the other way is cheaper (4 + 1 against 4 + 14).
  EXPECT_NE(Report("Alpha", "Gamma", RouteMode::ByClass, false).find("X -> Gamma WP: 3"),
            std::string::npos);
}

TEST_P(RouteRequestTest, VisitSystemBothWays) {
  File({{1, 1, "A", "BA", 1}, {1, 1, "B", "CB", 2}, {1, 1, "C", "BA", 3}, {1, 1, "B", "AC", 4}});
  EXPECT_EQ(Report("A", "C", RouteMode::ByJumps, true, "B"),
            "A -> C via B\r\n\r\nA -> B WP: 1 (A) (1)   1\r\nB -> C WP: 2 (B) (1)   3\r\n" +
                Costs(2, 3, 3) +
                "C -> A via B\r\n\r\nC -> B WP: 3 (A) (1)   1\r\nB -> A WP: 4 (C) (1)   5\r\n" +
                Costs(2, 4, 5));
  EXPECT_TRUE(result.AllFound());
}

// Leg 2 from the destination to itself cannot succeed; its failure goes through the sink
// like any other.
TEST_P(RouteRequestTest, SecondLegFailureIsReportedThroughTheSink) {
  File({{1, 1, "A", "BA", 1}, {1, 1, "B", "CB", 2}, {1, 1, "C", "BA", 3}, {1, 1, "B", "AC", 4}});
  EXPECT_EQ(Report("A", "C", RouteMode::ByJumps, true, "C"),
            "A -> C via C\r\n\r\nA -> B WP: 1 (A) (1)   1\r\nB -> C WP: 2 (B) (1)   3\r\n" +
                kNotFound + "C -> A via C\r\n\r\n" + kNotFound);
  EXPECT_EQ(result.directionsFound, 0);

  RecordingSink sink;
  FindRoute(starMap, "A", "C", "C", RouteMode::ByJumps, sink, false);
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"clear", "text A -> C via C\r\n\r\n",
                                                  "warp A>B 1 1", "warp B>C 2 3",
                                                  "failure " + kNotFound}));
}

TEST_P(RouteRequestTest, SinkCallsOfAFoundRoute) {
  File({{1, 1, "A", "BA", 1}, {1, 1, "B", "CB", 2}});
  starMap.systemEmpire = {{"A", 1}};
  RecordingSink sink;
  result = FindRoute(starMap, "A", "C", std::nullopt, RouteMode::ByClass, sink, false);
  EXPECT_EQ(sink.calls,
            (std::vector<std::string>{"clear", "text A -> C\r\n\r\n", "warp A>B 1 1", "warp B>C 2 3",
                                      "text " + kSeparator + "\r\n",
                                      "text Costs for trip: Length: 2 WPs: 3 Fuel Modifer: 3\r\n\r\n"}));
  EXPECT_EQ(sink.systemEmpire, &starMap.systemEmpire);
  EXPECT_TRUE(result.AllFound());
  EXPECT_EQ(result.directions, 1);
}

TEST_P(RouteRequestTest, AnyUnsurveyedSystemAndXNames) {
  File({{1, 1, "A", "BA", 1}, {1, 1, "B", "?QA", 2}, {1, 1, "E", "B", 3}});
  const std::string jumps = "A -> B WP: 1 (A) (1)   1\r\nB -> XQ WP: 2 (A) (1)   2\r\n";
  EXPECT_EQ(Report("A", "XX", RouteMode::ByJumps),
            "A -> XX\r\n\r\n" + jumps + Costs(2, 2, 2) + "XX -> A\r\n\r\n" + kNotFound);
  EXPECT_EQ(Report("A", "XQ", RouteMode::ByJumps),
            "A -> XQ\r\n\r\n" + jumps + Costs(2, 2, 2) + "XQ -> A\r\n\r\n" + kNotFound);
  // Already unsurveyed: a trip of no jumps.
  EXPECT_EQ(Report("XQ", "XX", RouteMode::ByFuel),
            "XQ -> XX\r\n\r\n" + Costs(0, 0, 0) + "XX -> XQ\r\n\r\n" + kNotFound);
  // E's only row has no destination name: it is no way out of E.
  EXPECT_EQ(Report("E", "XX", RouteMode::ByJumps, false), "E -> XX\r\n\r\n" + Costs(0, 0, 0));
}

// The jumps of a one-way request as "from>to#id" joined by spaces, or "none".
std::string Jumps(const std::string& report) {
  if (report.find(kNotFound) != std::string::npos) return "none";
  std::istringstream in(report);
  std::string line, out;
  while (std::getline(in, line)) {
    const auto wp = line.find(" WP: ");
    if (wp == std::string::npos) continue;
    const auto arrow = line.find(" -> ");
    const auto id = line.substr(wp + 5, line.find(' ', wp + 5) - wp - 5);
    out += (out.empty() ? "" : " ") + line.substr(0, arrow) + ">" +
           line.substr(arrow + 4, wp - arrow - 4) + "#" + id;
  }
  return out;
}

TEST_P(RouteRequestTest, GraphRules) {
  struct Case {
    const char* name;
    std::vector<std::vector<EmpireRow>> files;
    std::string from, to;
    std::set<std::string> avoid;
    RouteMode mode;
    std::string jumps;
  };
  const std::vector<EmpireRow> diamond = {{1, 1, "A", "BA", 1}, {1, 1, "B", "CA", 2},
                                          {1, 1, "A", "DB", 3}, {1, 1, "D", "CB", 4},
                                          {1, 1, "A", "?ZA", 5}};
  const std::vector<Case> cases = {
      {"plain", {diamond}, "A", "C", {}, RouteMode::ByJumps, "A>B#1 B>C#2"},
      {"avoided system is not entered", {diamond}, "A", "C", {"B"}, RouteMode::ByJumps,
       "A>D#3 D>C#4"},
      {"avoided start can be left", {diamond}, "A", "C", {"A"}, RouteMode::ByJumps, "A>B#1 B>C#2"},
      {"avoided destination is never reached", {diamond}, "A", "C", {"C"}, RouteMode::ByJumps,
       "none"},
      {"an X-name avoids nothing", {diamond}, "A", "XZ", {"XZ"}, RouteMode::ByJumps, "A>XZ#5"},
      {"the stored name with '?' avoids", {diamond}, "A", "XZ", {"?Z"}, RouteMode::ByJumps, "none"},
      {"explored row beats unexplored one",
       {{{1, 1, "A", "?QA", 9}, {1, 2, "A", "BC", 9}}}, "A", "XQ", {}, RouteMode::ByJumps, "none"},
      {"unexplored row dropped with the avoided one",
       {{{1, 1, "A", "?YA", 8}, {1, 2, "A", "BA", 8}}}, "A", "XY", {"B"}, RouteMode::ByJumps,
       "none"},
      {"names differ in case", {{{1, 1, "Alpha", "betaA", 1}, {1, 1, "Beta", "GammaA", 2}}},
       "Alpha", "Gamma", {}, RouteMode::ByJumps, "none"},
      {"no way back into the start", {diamond}, "A", "A", {}, RouteMode::ByJumps, "none"},
      {"a warp point back into its own system", {{{1, 1, "A", "AA", 1}}}, "A", "A", {},
       RouteMode::ByJumps, "A>A#1"},
      {"later files add routes", {{{1, 1, "A", "BA", 1}}, {{1, 2, "B", "CA", 2}}}, "A", "C", {},
       RouteMode::ByJumps, "A>B#1 B>C#2"},
      // A letter below 'A' costs nothing by class (not less than nothing), so the direct
      // warp point, found first at the same cost, stays.
      {"class below A is free, not negative",
       {{{1, 1, "A", "B!", 1}, {1, 1, "B", "CB", 2}, {1, 1, "A", "CB", 3}}}, "A", "C", {},
       RouteMode::ByClass, "A>C#3"},
      {"fuel-free classes are still jumps",
       {{{1, 1, "A", "BN", 1}, {1, 1, "B", "CQ", 2}, {1, 1, "A", "CA", 3}}}, "A", "C", {},
       RouteMode::ByFuel, "A>B#1 B>C#2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Files(c.files);
    EXPECT_EQ(Jumps(Report(c.from, c.to, c.mode, false, std::nullopt, c.avoid)), c.jumps);
    EXPECT_EQ(result.AllFound(), c.jumps != "none");
  }
}

TEST_P(RouteRequestTest, MergedRowsKeepTheFirstRowAndEveryEmpire) {
  Files({{{1, 3, "A", "BB", 7}}, {{1, 7, "A", "BC", 7}, {1, 5, "A", "BB", 7}}});
  EXPECT_EQ(Report("A", "B", RouteMode::ByJumps, false),
            "A -> B\r\n\r\nA -> B WP: 7 (B) (3, 5, 7)   2\r\n" + Costs(1, 2, 2));
  // An unexplored row is never merged with the explored one of the same warp point.
  Files({{{1, 1, "A", "?QA", 9}, {1, 2, "A", "BC", 9}}});
  EXPECT_EQ(Report("A", "B", RouteMode::ByJumps, false),
            "A -> B\r\n\r\nA -> B WP: 9 (C) (2)   4\r\n" + Costs(1, 3, 4));
}

TEST_P(RouteRequestTest, TotalsOfClassLettersOutsideTheTables) {
  File({{1, 1, "A", "BN", 1}, {1, 1, "B", "Ca", 2}, {1, 1, "C", "D!", 3}});
  const std::string jumps =
      "A -> B WP: 1 (N) (1)   0\r\nB -> C WP: 2 (a) (1)   0\r\nC -> D WP: 3 (!) (1)   0\r\n";
  EXPECT_EQ(Report("A", "D", RouteMode::ByClass, false), "A -> D\r\n\r\n" + jumps + Costs(3, 47, 0));
}

TEST_P(RouteRequestTest, FileThatCannotBeOpenedReplacesTheReport) {
  File({{1, 1, "A", "BA", 1}});
  starMap.databaseFiles.insert(dir.File("missing.db"));
  EXPECT_EQ(Report("A", "B", RouteMode::ByJumps), "failed with hr=-2147467259");
  EXPECT_TRUE(result.error.Failed());
  EXPECT_FALSE(result.AllFound());
  RecordingSink sink;
  FindRoute(starMap, "A", "B", std::nullopt, RouteMode::ByJumps, sink, true);
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"clear", "clear", "failure failed with hr=-2147467259"}));
}

TEST_P(RouteRequestTest, RouteCommandSelections) {
  File({{1, 1, "A", "BA", 1}, {1, 1, "B", "AA", 2}});
  StringOutputBox output;
  output.SetText("old");
  auto r = RouteCommand(starMap, "A", std::nullopt, std::nullopt, {"Q"}, RouteMode::ByJumps, output);
  EXPECT_EQ(output.Text(), "not all selected.");
  EXPECT_EQ(starMap.avoidSystems, (std::set<std::string>{"Q"}));
  EXPECT_FALSE(r.AllFound());
  for (std::optional<std::string> visit : {std::optional<std::string>{}, std::optional<std::string>{"[none]"}}) {
    r = RouteCommand(starMap, "A", "B", visit, {}, RouteMode::ByJumps, output);
    EXPECT_EQ(output.Text(), "A -> B\r\n\r\nA -> B WP: 1 (A) (1)   1\r\n" + Costs(1, 1, 1) +
                                 "B -> A\r\n\r\nB -> A WP: 2 (A) (1)   1\r\n" + Costs(1, 1, 1));
    EXPECT_TRUE(r.AllFound());
    EXPECT_TRUE(starMap.avoidSystems.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RouteRequestTest,
                         ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const auto& info) { return std::string(testing::FormatName(info.param)); });

TEST(RouteCostsTest, FuelAndClassValues) {
  const std::string letters = "ABCDEFGHIJKLMNOPQ";
  const int fuel[] = {1, 2, 4, 9, 16, 25, 36, 49, 64, 81, 100, 121, 144, 0, 0, 0, 0};
  for (std::size_t i = 0; i < letters.size(); ++i) {
    EXPECT_EQ(FuelValue(letters[i]), fuel[i]) << letters[i];
    EXPECT_EQ(ClassPoints(letters[i]), static_cast<int>(i) + 1);
  }
  for (char c : {'R', 'Z', 'a', '@', '?', '\0'}) EXPECT_EQ(FuelValue(c), 0) << c;
  EXPECT_EQ(ClassPoints('@'), 0);
  EXPECT_EQ(ClassPoints('!'), 0);
  EXPECT_EQ(ClassPoints('a'), 33);
  EXPECT_EQ(JumpCost(static_cast<RouteMode>(7), 'Q'), 1.0f);
  EXPECT_EQ(JumpCost(RouteMode::ByClass, 'C'), 3.0f);
  EXPECT_EQ(JumpCost(RouteMode::ByFuel, 'C'), 4.0f);
}

}  // namespace
}  // namespace lanewright
