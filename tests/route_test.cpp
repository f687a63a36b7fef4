#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <sstream>

#include "route/ExactHeap.h"
#include "route/FindRoute.h"
#include "route/OutputBoxSink.h"
#include "route/RouteSearch.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

// ---- the engine on its own -------------------------------------------------------------

// A directed graph with a free estimate per node, so that estimates can make expanded
// nodes reopen.
struct TestGraph {
  std::vector<float> h;                     // one estimate per node
  std::vector<std::array<float, 3>> edges;  // from, to, cost
  int failAt = -1;                          // expanding this node fails
};

struct TestState {
  const TestGraph* graph = nullptr;
  int node = 0;
  int from = -1;  // the node the step came from; -1 for a state made on its own
  float cost = 0.0f;

  template <typename Search>
  bool ExpandInto(Search& search, const TestState*) const {
    if (node == graph->failAt) return false;
    for (auto [from, to, cost] : graph->edges)
      if (from == node) search.Offer(TestState{graph, static_cast<int>(to), node, cost});
    return true;
  }
  bool ReachesGoal(const TestState& goal) const { return node == goal.node; }
  float EntryCost() const { return cost; }
  float Estimate() const { return graph->h[node]; }
  std::size_t SystemKey() const { return static_cast<std::size_t>(node); }
};

// The path's steps as from>node, or how the search ended.
std::string RunToEnd(RouteSearch<TestState>& search, const TestGraph& g, int start, int goal) {
  search.Begin({&g, start}, {&g, goal});
  SearchStatus status;
  // Capped: a search that reopens nodes at equal cost never ends on a zero-cost cycle.
  for (int steps = 0; (status = search.Step()) == SearchStatus::Searching && steps < 100000;)
    ++steps;
  const char* const ends[] = {"not started", "searching", "", "failed", "out of memory"};
  if (status != SearchStatus::Succeeded) return ends[static_cast<int>(status)];
  std::string out;
  for (const TestState* s = search.SolutionFirst(); s; s = search.SolutionNext())
    out += fmt::format("{}{}>{}", out.empty() ? "" : " ", s->from, s->node);
  search.ReleaseSolution();
  return out;
}

// The search exactly as the open and closed lists are meant to work: linear scans of
// both arrays, erase + make_heap. The engine's index must find the same nodes.
std::string ScanSearch(const TestGraph& g, int start, int goal) {
  struct Node {
    int parent, from, node;
    float g, f;
  };
  std::vector<Node> nodes = {{-1, -1, start, 0, g.h[start]}};
  std::vector<int> open = {0}, closed;
  const auto below = [&nodes](int a, int b) { return nodes[a].f > nodes[b].f; };
  while (!open.empty()) {
    std::pop_heap(open.begin(), open.end(), below);
    const int n = open.back();
    open.pop_back();
    if (nodes[n].node == goal) {
      std::string path;
      for (int p = n; p >= 0; p = nodes[p].parent)
        path = fmt::format("{}>{} {}", nodes[p].from, nodes[p].node, path);
      return path.substr(0, path.size() - 1);
    }
    if (nodes[n].node == g.failAt) return "out of memory";
    for (auto [from, to_, step] : g.edges) {
      const int to = static_cast<int>(to_);
      if (from != nodes[n].node) continue;
      const float cost = nodes[n].g + step;
      const auto same = [&nodes, to](int other) { return nodes[other].node == to; };
      const auto o = std::find_if(open.begin(), open.end(), same);
      if (o != open.end() && nodes[*o].g <= cost) continue;
      const auto c = std::find_if(closed.begin(), closed.end(), same);
      if (c != closed.end() && nodes[*c].g <= cost) continue;
      if (c != closed.end()) closed.erase(c);
      if (o != open.end()) {
        open.erase(o);
        std::make_heap(open.begin(), open.end(), below);
      }
      nodes.push_back({n, nodes[n].node, to, cost, cost + g.h[to]});
      open.push_back(static_cast<int>(nodes.size()) - 1);
      std::push_heap(open.begin(), open.end(), below);
    }
    closed.push_back(n);
  }
  return "failed";
}

// Free estimates make nodes reopen and open nodes get replaced, few small costs make ties
// frequent (self-loops and parallel edges included); the indexed engine must take exactly the
// scanning search's path. One object serves every round, often after a search abandoned
// half-way (which leaves a solution unreleased when the start is the goal); none of it may
// leak into the next search.
TEST(RouteSearchTest, RandomGraphsTakeTheScanningSearchsPath) {
  std::mt19937 rng(7);
  RouteSearch<TestState> search;
  EXPECT_EQ(search.Step(), SearchStatus::Failed);  // before any Begin
  int found = 0;
  for (int round = 0; round < 600; ++round) {
    const int n = std::uniform_int_distribution<int>(2, 40)(rng);
    std::uniform_int_distribution<int> pick(0, n - 1), cost(0, 3), h(0, 6);
    TestGraph g{std::vector<float>(n, 0.0f), {}, round % 5 == 0 ? pick(rng) : -1};
    for (int e = std::uniform_int_distribution<int>(0, 4 * n)(rng); e > 0; --e)
      g.edges.push_back({static_cast<float>(pick(rng)), static_cast<float>(pick(rng)),
                         static_cast<float>(cost(rng))});  // drawn left to right
    for (auto& v : g.h) v = round % 3 ? static_cast<float>(h(rng)) : 0.0f;
    const int start = pick(rng), goal = pick(rng);
    if (round % 2) {
      search.Begin({&g, start}, {&g, goal});
      search.Step();
    }
    const std::string got = RunToEnd(search, g, start, goal);
    EXPECT_EQ(got, ScanSearch(g, start, goal)) << "round " << round;
    ASSERT_EQ(search.LiveNodes(), 0u);
    const bool succeeded = got.starts_with("-1>");
    EXPECT_EQ(search.Step(), succeeded ? SearchStatus::Succeeded : SearchStatus::Failed);
    found += succeeded;
  }
  EXPECT_GT(found, 150);
}

// Rebuilding the open list must leave exactly what erase + std::make_heap leaves, ties
// included (they decide which equally cheap route is found).
TEST(RouteSearchTest, MakeHeapLikeStdMatchesTheStandardAlgorithm) {
  struct Entry {
    float f;
    int id;
    bool operator==(const Entry&) const = default;
  };
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const int n = std::uniform_int_distribution<int>(0, 300)(rng);
    std::uniform_int_distribution<int> f(0, round % 2 ? 3 : 1000);
    std::vector<Entry> heap;
    for (int i = 0; i < n; ++i) {
      heap.push_back({static_cast<float>(f(rng)), i});
      std::push_heap(heap.begin(), heap.end(), [](auto a, auto b) { return a.f > b.f; });
    }
    if (!heap.empty()) heap.erase(heap.begin() + std::uniform_int_distribution<int>(0, n - 1)(rng));
    std::vector<Entry> want = heap;
    std::make_heap(want.begin(), want.end(), [](auto a, auto b) { return a.f > b.f; });
    MakeHeapLikeStd(heap.data(), static_cast<std::ptrdiff_t>(heap.size()));
    ASSERT_TRUE(heap == want) << "round " << round;
  }
}

// ---- route requests over empire files -----------------------------------------------------

const std::string kNotFound = "Search terminated. Did not find goal state!\r\n\r\n";

std::string Costs(int length, int classPoints, int fuel) {
  return fmt::format("{}\r\nCosts for trip: Length: {} WPs: {} Fuel Modifer: {}\r\n\r\n",
                     std::string(58, '='), length, classPoints, fuel);
}

// One word per call, a jump as from>to#id.
class RecordingSink final : public RouteSink {
 public:
  std::string calls;
  const SystemEmpireSet* systemEmpire = nullptr;
  void AppendText(const std::string&) override { calls += " text"; }
  void ReportFailure(const std::string&) override { calls += " failure"; }
  void Clear() override { calls += " clear"; }
  void WarpStep(const std::string& system, const std::string& destination, std::int32_t id, char,
                std::span<const std::int32_t>, std::int32_t, const SystemEmpireSet& se) override {
    systemEmpire = &se;
    calls += fmt::format(" {}>{}#{}", system, destination, id);
  }
};

class RouteRequestTest : public ::testing::TestWithParam<testing::FixtureFormat> {
 protected:
  // Empire files from text: rows "empire system destination id" separated by commas
  // ("~" for an empty destination), files by '|', selected in that order.
  void Files(const std::string& text) {
    starMap.databaseFiles.clear();
    std::istringstream files(text);
    for (std::string file; std::getline(files, file, '|');) {
      std::vector<testing::EmpireRow> rows;
      std::istringstream in(file);
      for (testing::EmpireRow r{}; in >> r.empire >> r.system >> r.destination >> r.warpPointId;
           in.ignore(1)) {
        r.column1 = static_cast<std::int32_t>(rows.size()) + 1;
        if (r.destination == "~") r.destination.clear();
        rows.push_back(r);
      }
      const std::string path = dir.File(fmt::format("f{:04}.db", fileCount++));
      testing::WriteEmpireFile(GetParam(), path, rows);
      starMap.databaseFiles.insert(path);
    }
  }

  std::string Report(const std::string& from, const std::string& to, RouteMode mode,
                     bool bothWays = true, std::vector<std::string> stops = {},
                     bool bestOrder = false) {
    plan = FindRoute(starMap, planner,
                     {from, std::move(stops), to, starMap.avoidSystems, mode, bothWays, bestOrder});
    StringOutputBox output;
    OutputBoxSink sink(output);
    RenderRoute(plan, sink, starMap.systemEmpire);
    return output.Text();
  }

  testing::TempDir dir;
  int fileCount = 0;
  StarMap starMap;
  EmpireRowSource rows;
  RoutePlanner planner{rows};
  RoutePlan plan;
};

TEST_P(RouteRequestTest, ReportOfAFoundAndAMissingDirection) {
  Files("3 Alpha BetaB 12, 3 Beta GammaD 40, 7 Beta GammaD 40");
  StringOutputBox output;
  output.SetText("old");
  plan = RouteCommand(starMap, planner, "Alpha", {}, {}, {"Beta"}, RouteMode::ByJumps, output);
  EXPECT_EQ(output.Text(), "not all selected.");
  EXPECT_EQ(starMap.avoidSystems, (std::set<std::string>{"Beta"}));
  EXPECT_FALSE(plan.AllFound());
  for (const auto& visit : {std::optional<std::string>("[none]"), std::optional<std::string>()}) {
    plan = RouteCommand(starMap, planner, "Alpha", "Gamma", visit, {}, RouteMode::ByJumps, output);
    EXPECT_EQ(output.Text(),
              "Alpha -> Gamma\r\n\r\nAlpha -> Beta WP: 12 (B) (3)   2\r\n"
              "Beta -> Gamma WP: 40 (D) (3, 7)   11\r\n" +
                  Costs(2, 6, 11) + "Gamma -> Alpha\r\n\r\n" + kNotFound);
  }
}

TEST_P(RouteRequestTest, AnyUnsurveyedSystemAndXNames) {
  Files("1 A BA 1, 1 B ?QA 2, 1 E ~ 3");
  for (const std::string to : {"XX", "XQ"})
    EXPECT_EQ(Report("A", to, RouteMode::ByJumps),
              "A -> " + to + "\r\n\r\nA -> B WP: 1 (A) (1)   1\r\nB -> XQ WP: 2 (A) (1)   2\r\n" +
                  Costs(2, 2, 2) + to + " -> A\r\n\r\n" + kNotFound);
  // Already unsurveyed: a trip of no jumps.
  EXPECT_EQ(Report("XQ", "XX", RouteMode::ByFuel),
            "XQ -> XX\r\n\r\n" + Costs(0, 0, 0) + "XX -> XQ\r\n\r\n" + kNotFound);
  // E's only row has no destination: it is no way out of E.
  EXPECT_EQ(Report("E", "XX", RouteMode::ByJumps, false), "E -> XX\r\n\r\n" + Costs(0, 0, 0));
}

TEST_P(RouteRequestTest, GraphRules) {
  struct Case {
    const char* name;
    std::string files, from, to, avoid, jumps;
    RouteMode mode = RouteMode::ByJumps;
  };
  const std::string diamond = "1 A BA 1, 1 B CA 2, 1 A DB 3, 1 D CB 4, 1 A ?ZA 5";
  // Two equally short routes S -> x -> G, over B and over C. Taking nodes first come first
  // served, or from a heap that breaks ties another way, goes over B; the open list's order
  // expands A, then C, before B.
  const std::string ties = "1 S AA 1, 1 S BA 2, 1 S CA 3, 1 S DA 4, 1 B GA 5, 1 C GA 6";
  const std::string dearFirst = "1 Alpha XD 1, 1 Alpha PD 2, 1 X GammaA 3, 1 P GammaN 4";
  // clang-format off
  const std::vector<Case> cases = {
      {"ties by jumps", ties, "S", "G", "", "S>C#3 C>G#6"},
      {"ties by class", ties, "S", "G", "", "S>C#3 C>G#6", RouteMode::ByClass},
      {"ties by fuel", ties, "S", "G", "", "S>C#3 C>G#6", RouteMode::ByFuel},
      {"by fuel the cheapest, not the first found", dearFirst, "Alpha", "Gamma", "",
       "Alpha>P#2 P>Gamma#4", RouteMode::ByFuel},
      {"by class the other way is cheaper", dearFirst, "Alpha", "Gamma", "", "Alpha>X#1 X>Gamma#3",
       RouteMode::ByClass},
      {"avoided system is not entered", diamond, "A", "C", "B", "A>D#3 D>C#4"},
      {"avoided start can be left", diamond, "A", "C", "A", "A>B#1 B>C#2"},
      {"avoided destination is never reached", diamond, "A", "C", "C", "none"},
      {"an X-name avoids nothing", diamond, "A", "XZ", "XZ", "A>XZ#5"},
      {"the stored name with '?' avoids", diamond, "A", "XZ", "?Z", "none"},
      {"explored row beats unexplored one", "1 A ?QA 9, 2 A BC 9", "A", "XQ", "", "none"},
      {"unexplored row goes with the avoided one", "1 A ?YA 8, 2 A BA 8", "A", "XY", "B", "none"},
      {"names differ in case", "1 Alpha betaA 1, 1 Beta GammaA 2", "Alpha", "Gamma", "", "none"},
      {"a warp point back into its own system", "1 A AA 1", "A", "A", "", "A>A#1"},
      {"later files add routes", "1 A BA 1 | 2 B CA 2", "A", "C", "", "A>B#1 B>C#2"},
      {"one character leads to the empty name", "1 A C 1, 1 A ~ 2", "A", "", "", "A>#1"},
      // A letter below 'A' costs nothing by class (not less than nothing), so the direct
      // warp point, found first at the same cost, stays.
      {"class below A is free", "1 A B! 1, 1 B CB 2, 1 A CB 3", "A", "C", "", "A>C#3",
       RouteMode::ByClass},
      {"fuel-free classes are still jumps", "1 A BN 1, 1 B CQ 2, 1 A CA 3", "A", "C", "",
       "A>B#1 B>C#2", RouteMode::ByFuel},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Files(c.files);
    starMap.avoidSystems = c.avoid.empty() ? std::set<std::string>() : std::set{c.avoid};
    RecordingSink sink;
    Report(c.from, c.to, c.mode, false);
    RenderRoute(plan, sink, starMap.systemEmpire);
    EXPECT_EQ(sink.calls,
              c.jumps == "none" ? " clear text failure" : " clear text " + c.jumps + " text text");
    EXPECT_EQ(plan.AllFound(), c.jumps != "none");
  }
}

TEST_P(RouteRequestTest, MergedRowsKeepTheFirstRowAndEveryEmpire) {
  Files("3 A BB 7 | 7 A BC 7, 5 A BB 7");
  EXPECT_EQ(Report("A", "B", RouteMode::ByJumps, false),
            "A -> B\r\n\r\nA -> B WP: 7 (B) (3, 5, 7)   2\r\n" + Costs(1, 2, 2));
  // An unexplored row is never merged with the explored one of the same warp point.
  Files("1 A ?QA 9, 2 A BC 9");
  EXPECT_EQ(Report("A", "B", RouteMode::ByJumps, false),
            "A -> B\r\n\r\nA -> B WP: 9 (C) (2)   4\r\n" + Costs(1, 3, 4));
}

// One chain over every class letter, the ones past the tables included: each line's
// running fuel total shows that letter's fuel value.
TEST_P(RouteRequestTest, EveryClassLetterCostsItsTableValue) {
  const std::string letters = "ABCDEFGHIJKLMNOPQa!";
  const int fuel[] = {1, 3, 7, 16, 32, 57, 93, 142, 206, 287, 387, 508, 652};
  std::string rows, want = "S0 -> S19\r\n\r\n";
  for (int i = 0; i < 19; ++i) {
    rows += fmt::format("1 S{} S{}{} {},", i, i + 1, letters[i], 100 + i);
    want += fmt::format("S{} -> S{} WP: {} ({}) (1)   {}\r\n", i, i + 1, 100 + i, letters[i],
                        fuel[std::min(i, 12)]);
  }
  Files(rows);
  // Class points: 1 + ... + 17 for A to Q, 33 for 'a', nothing for '!'.
  EXPECT_EQ(Report("S0", "S19", RouteMode::ByClass, false), want + Costs(19, 186, 652));
}

// Stops: one header and one cost line for the whole trip, the way back through the stops
// in reverse; a leg that fails ends its direction with the failure text.
TEST_P(RouteRequestTest, Stops) {
  Files("1 A BA 1, 1 B CB 2, 1 C DC 3, 1 D CA 4, 1 C BA 5, 1 B AA 6, 1 D ?QA 7");
  const std::string j1 = "A -> B WP: 1 (A) (1)   1\r\n", j2 = "B -> C WP: 2 (B) (1)   3\r\n",
                    j3 = "C -> D WP: 3 (C) (1)   7\r\n";
  EXPECT_EQ(Report("A", "D", RouteMode::ByFuel, true, {"B", "C"}),
            "A -> D via B, C\r\n\r\n" + j1 + j2 + j3 + Costs(3, 6, 7) +
                "D -> A via C, B\r\n\r\nD -> C WP: 4 (A) (1)   1\r\nC -> B WP: 5 (A) (1)   2\r\n"
                "B -> A WP: 6 (A) (1)   3\r\n" +
                Costs(3, 3, 3));
  ASSERT_EQ(plan.directions[0].legs.size(), 3u);
  EXPECT_EQ(plan.directions[0].legs[1].jumps.size(), 1u);
  EXPECT_EQ(Report("A", "C", RouteMode::ByJumps, false, {"B"}),
            "A -> C via B\r\n\r\n" + j1 + j2 + Costs(2, 3, 3));
  // A stop no warp point leaves (an X-name) ends the trip there, and so does a stop equal
  // to the point before it.
  EXPECT_EQ(
      Report("A", "D", RouteMode::ByJumps, false, {"B", "XQ", "C"}),
      "A -> D via B, XQ, C\r\n\r\n" + j1 + j2 + j3 + "D -> XQ WP: 7 (A) (1)   8\r\n" + kNotFound);
  // Sinks that show only some of the calls (the convoy orders) rely on this split.
  RecordingSink sink;
  RenderRoute(plan, sink, starMap.systemEmpire);
  EXPECT_EQ(sink.calls, " clear text A>B#1 B>C#2 C>D#3 D>XQ#7 failure");
  EXPECT_EQ(sink.systemEmpire, &starMap.systemEmpire);
  EXPECT_EQ(Report("A", "D", RouteMode::ByJumps, false, {"B", "B", "C"}),
            "A -> D via B, B, C\r\n\r\n" + j1 + kNotFound);
}

// Choosing the order of the stops does not depend on the file format: one is enough.
class StopOrderTest : public RouteRequestTest {};
INSTANTIATE_TEST_SUITE_P(Sqlite, StopOrderTest, ::testing::Values(testing::FixtureFormat::Sqlite),
                         [](const auto& info) { return testing::FormatName(info.param); });

// The best order costs what the cheapest of all orders costs (each tried through the
// engine), the user's order wins every tie it is in, and the way back is ordered on its own.
TEST_P(StopOrderTest, BestOrderIsTheCheapestOfAllOrders) {
  std::mt19937 rng(5);
  const auto costOf = [](const RouteTotals& t, RouteMode mode) {
    return std::array{t.length, t.classPoints, t.fuel}[static_cast<int>(mode) - 1];
  };
  int compared = 0;
  for (int round = 0; round < 40; ++round) {
    std::string rows;
    const int systems = std::uniform_int_distribution<int>(4, 9)(rng);
    std::uniform_int_distribution<int> pick(0, systems - 1), letter(0, 3);
    for (int id = 1; id <= 3 * systems; ++id)
      rows += fmt::format("1 S{} S{}{} {},", pick(rng), pick(rng), "ABDN"[letter(rng)], id);
    Files(rows);
    std::vector<std::string> stops;
    for (int i = std::uniform_int_distribution<int>(2, 4)(rng); i > 0; --i)
      stops.push_back(fmt::format("S{}", pick(rng)));
    const std::string from = fmt::format("S{}", pick(rng)), to = fmt::format("S{}", pick(rng));
    const auto mode = static_cast<RouteMode>(1 + round % 3);
    Report(from, to, mode, true, stops, true);
    const auto graph = planner.Graph(starMap.databaseFiles, {}, plan.error);
    for (std::size_t d = 0; d < 2; ++d) {
      const auto user = d ? std::vector<std::string>(stops.rbegin(), stops.rend()) : stops;
      auto order = user;
      std::ranges::sort(order);
      std::optional<int> cheapest;
      do {
        const auto one = PlanRoute(*graph, {d ? to : from, order, d ? from : to, {}, mode, false});
        const int cost = costOf(one.directions[0].totals, mode);
        if (one.AllFound() && (!cheapest || cost < *cheapest)) cheapest = cost;
      } while (std::ranges::next_permutation(order).found);
      const RouteDirection& got = plan.directions[d];
      SCOPED_TRACE(fmt::format("round {} direction {}", round, d));
      EXPECT_EQ(got.Found(), cheapest.has_value());
      if (!cheapest) {
        EXPECT_EQ(got.stops, user);  // no order gives a trip: the user's, as given
        continue;
      }
      EXPECT_EQ(costOf(got.totals, mode), *cheapest);
      EXPECT_FALSE(got.orderNotProvenBest);
      ++compared;
    }
  }
  EXPECT_GT(compared, 20);

  // A tie: A -> B -> C and A -> C -> B cost the same both ways; the given order stays.
  Files("1 H AA 1, 1 A HA 2, 1 H BA 3, 1 B HA 4, 1 H CA 5, 1 C HA 6");
  for (const auto& stops : {std::vector<std::string>{"B", "C"}, {"C", "B"}}) {
    Report("H", "H", RouteMode::ByJumps, true, stops, true);
    EXPECT_EQ(plan.directions[0].stops, stops);
    EXPECT_EQ(plan.directions[1].stops, std::vector<std::string>(stops.rbegin(), stops.rend()));
  }
}

// Past 12 stops the order comes from a heuristic: a trip through every stop, said to be
// not proven best.
TEST_P(StopOrderTest, ManyStopsGetAHeuristicOrder) {
  std::string rows;
  for (int i = 0; i < 20; ++i)
    rows += fmt::format("1 R{} R{}A {}, 1 R{} R{}B {},", i, (i + 1) % 20, 2 * i + 1, i,
                        (i + 19) % 20, 2 * i + 2);
  Files(rows);
  std::vector<std::string> stops = {"R7",  "R3", "R15", "R1",  "R9", "R12", "R5",
                                    "R18", "R2", "R11", "R14", "R6", "R17"};
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, " (order not proven best)\r\n\r\n",
                      Report("R0", "R10", RouteMode::ByClass, false, stops, true));
  ASSERT_TRUE(plan.AllFound());
  EXPECT_TRUE(std::ranges::is_permutation(plan.directions[0].stops, stops));
  // With twelve the order is exact, and the given order of a cheapest trip stays.
  stops = {"R1", "R2", "R3", "R4", "R5", "R6", "R7", "R8", "R9", "R11", "R12", "R13"};
  Report("R0", "R10", RouteMode::ByClass, false, stops, true);
  EXPECT_EQ(plan.directions[0].stops, stops);
  EXPECT_FALSE(plan.directions[0].orderNotProvenBest);
}

// The graph is kept while its files and avoid set stay the same, a file's rows while it is
// unchanged; a file that changed is read again (or fails the request, never answered from
// the older reading).
TEST_P(RouteRequestTest, GraphIsReusedUntilAFileOrTheAvoidSetChanges) {
  Files("1 A BA 1");
  store::StoreError err;
  const auto first = planner.Graph(starMap.databaseFiles, {}, err);
  EXPECT_EQ(planner.Graph(starMap.databaseFiles, {}, err), first);
  EXPECT_NE(planner.Graph(starMap.databaseFiles, {"B"}, err), first);
  const std::string path = *starMap.databaseFiles.begin();
  EXPECT_EQ(rows.Rows(path, err), rows.Rows(path, err));
  std::filesystem::remove(path);
  testing::WriteEmpireFile(GetParam(), path, {{1, 1, "A", "CA", 2}});
  EXPECT_NE(Report("A", "C", RouteMode::ByJumps, false).find("A -> C WP: 2"), std::string::npos);
  testing::WriteFile(path, "no longer a database");
  EXPECT_EQ(Report("A", "C", RouteMode::ByJumps, false), "failed with hr=-2147467259");
}

INSTANTIATE_TEST_SUITE_P(Formats, RouteRequestTest,
                         ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const auto& info) { return testing::FormatName(info.param); });

}  // namespace
}  // namespace lanewright
