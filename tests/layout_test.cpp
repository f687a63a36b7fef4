#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "layout/LayoutJob.h"
#include "layout/LayoutParameters.h"
#include "route/RouteGraph.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright::layout {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using State = LayoutJob::State;

// Eight systems on a ring with two chords, a pair joined three times, a loop, two
// unexplored stubs and a system no warp point reaches.
MapGraph SmallGalaxy() {
  MapGraph g;
  for (const char* name :
       {"Alpha", "Beta", "Gamma Prime", "Delta", "Epsilon", "Zeta", "Eta", "Theta Major", "Lonely"})
    g.nodes.push_back({name});
  g.nodes.insert(g.nodes.end(), {{"X17", NodeKind::Stub}, {"X18", NodeKind::Stub}});
  for (std::uint32_t i = 0; i < 8; ++i) g.edges.push_back({i, (i + 1) % 8});
  g.edges.insert(g.edges.end(), {{0, 4}, {2, 6}, {1, 0}, {0, 1}, {3, 3}, {5, 9}, {5, 10}});
  return g;
}

void ExpectSamePlaces(const MapLayout& a, const MapLayout& b) {
  ASSERT_EQ(a.positions.size(), b.positions.size());
  for (std::size_t i = 0; i < a.positions.size(); ++i)
    EXPECT_TRUE(a.positions[i].x == b.positions[i].x && a.positions[i].y == b.positions[i].y) << i;
}

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CACHE_HOME", dir_.File("cache").c_str(), 1);
    for (const char* name : {"empire1.db", "empire2.db"}) {
      files_.push_back(dir_.File(name));
      WriteFile(files_.back(), name);
    }
  }
  void TearDown() override { ::unsetenv("XDG_CACHE_HOME"); }

  CacheKey Key() const { return *CacheKey::ForFiles(files_); }

  // Everything in the cache folder, temporary files included.
  std::set<std::string> CacheEntries() const {
    return fs::exists(CacheFolder()) ? testing::Listing(CacheFolder()) : std::set<std::string>{};
  }
  std::string CacheFile() const { return CacheFolder() + "/" + Key().fileName(); }
  std::string CacheFolder() const { return dir_.File("cache/lanewright"); }

  static MapLayout LayOut(const MapGraph& graph, std::optional<CacheKey> key,
                          LayoutOptions options = {}) {
    auto job = LayoutJob::Start(graph, std::move(key), std::move(options));
    EXPECT_EQ(job->Wait(), State::Done) << job->failure();
    EXPECT_EQ(job->cacheProblem(), "");
    return job->layout();
  }

  // A stand-in for the layout program, as a shell script: $1 is the request, $2 the
  // progress pipe, fd 3 the answer channel.
  std::string FakeProgram(const std::string& script) const {
    const std::string path = dir_.File("fake-layout");
    WriteFile(path, "#!/bin/sh\n" + script + "\n");
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  TempDir dir_;
  std::vector<std::string> files_;
};

TEST_F(LayoutTest, EveryNodeGetsItsOwnPlaceAndLabelsDoNotOverlap) {
  const MapGraph graph = SmallGalaxy();
  const MapLayout layout = LayOut(graph, std::nullopt);
  EXPECT_EQ(layout.engine, "neato");
  EXPECT_GT(layout.peakMemoryKiB, 0u);
  ASSERT_EQ(layout.positions.size(), graph.nodes.size());
  const Bounds& b = layout.bounds;
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const Point& p = layout.positions[i];
    ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << graph.nodes[i].name;
    EXPECT_TRUE(b.left <= p.x && p.x <= b.right && b.top <= p.y && p.y <= b.bottom);
    // Labels of about 10 pt: their boxes must stay apart.
    for (std::size_t j = 0; j < i; ++j) {
      if (graph.nodes[i].kind == NodeKind::Stub || graph.nodes[j].kind == NodeKind::Stub) {
        EXPECT_TRUE(p.x != layout.positions[j].x || p.y != layout.positions[j].y);
        continue;
      }
      const double halfWidths =
          2.5 * static_cast<double>(graph.nodes[i].name.size() + graph.nodes[j].name.size());
      const bool apart = std::abs(p.x - layout.positions[j].x) >= halfWidths ||
                         std::abs(p.y - layout.positions[j].y) >= 12;
      EXPECT_TRUE(apart) << graph.nodes[i].name << " overlaps " << graph.nodes[j].name;
    }
  }
  // The same map always comes out the same.
  ExpectSamePlaces(LayOut(graph, std::nullopt), layout);
}

// Systems without warp points: the engine goes by the node count alone.
TEST_F(LayoutTest, EngineFollowsTheSizeOfTheMap) {
  for (const auto& [nodes, engine] : {std::pair<std::size_t, const char*>{3, "neato"},
                                      {kSfdpFromNodes - 1, "neato"},
                                      {kSfdpFromNodes, "sfdp"}}) {
    MapGraph g;
    for (std::size_t i = 0; i < nodes; ++i) g.nodes.push_back({"Star " + std::to_string(i)});
    EXPECT_EQ(LayoutJob::Start(g, std::nullopt)->engine(), engine) << nodes;
  }
}

TEST_F(LayoutTest, CacheIsUsedWhileTheFilesStayTheSameAndRenewedWhenOneChanges) {
  const MapGraph graph = SmallGalaxy();
  const MapLayout first = LayOut(graph, Key());
  EXPECT_FALSE(first.fromCache);
  EXPECT_EQ(CacheEntries(), std::set<std::string>{Key().fileName()});

  // Done at once, without a child.
  auto job = LayoutJob::Start(graph, Key());
  ASSERT_EQ(job->state(), State::Done);
  const MapLayout& cached = job->layout();
  EXPECT_TRUE(cached.fromCache);
  EXPECT_EQ(cached.engine, first.engine);
  ExpectSamePlaces(cached, first);
  EXPECT_TRUE(cached.bounds.right == first.bounds.right && cached.bounds.top == first.bounds.top);
  // The same set of files named in another order is the same set.
  std::swap(files_[0], files_[1]);
  EXPECT_TRUE(LayOut(graph, Key()).fromCache);

  // Rewritten with the same size: only the modification time tells.
  WriteFile(files_[1], "empire1.db");
  EXPECT_FALSE(LayOut(graph, Key()).fromCache);
  EXPECT_TRUE(LayOut(graph, Key()).fromCache);
  EXPECT_EQ(CacheEntries().size(), 1u);

  MapGraph changed = graph;
  changed.nodes[2].name = "Gamma Primo";  // the same length, so the same box
  EXPECT_FALSE(LayOut(changed, Key()).fromCache);
  changed.edges.push_back({1, 5});
  EXPECT_FALSE(LayOut(changed, Key()).fromCache);
  // Direction, repetition and loops do not change where nodes go.
  changed.edges.insert(changed.edges.end(), {{5, 1}, {7, 7}});
  EXPECT_TRUE(LayOut(changed, Key()).fromCache);

  // Another set of files has a cache file of its own.
  files_.pop_back();
  EXPECT_FALSE(LayOut(graph, Key()).fromCache);
  EXPECT_EQ(CacheEntries().size(), 2u);
}

TEST_F(LayoutTest, CacheFolderFollowsTheEnvironment) {
  const char* home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  // XDG_CACHE_HOME, HOME (null: unset) and the folder they give.
  for (const auto& [xdg, h, folder] :
       {std::array<const char*, 3>{"/x/cache", "/h", "/x/cache/lanewright"},
        {nullptr, "/h", "/h/.cache/lanewright"},
        {"relative/cache", "/h", "/h/.cache/lanewright"},
        {nullptr, nullptr, ""}}) {
    xdg ? ::setenv("XDG_CACHE_HOME", xdg, 1) : ::unsetenv("XDG_CACHE_HOME");
    h ? ::setenv("HOME", h, 1) : ::unsetenv("HOME");
    EXPECT_EQ(layout::CacheFolder(), folder) << (xdg ? xdg : "unset");
  }
  home ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
}

TEST_F(LayoutTest, DamagedOrForeignCacheFileIsIgnoredAndReplaced) {
  const MapGraph graph = SmallGalaxy();
  LayOut(graph, Key());
  const std::string good = ReadFile(CacheFile());
  ASSERT_NE(good.find("Beta"), std::string::npos);
  auto flipped = [&](std::size_t at) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    return bytes;
  };
  const std::pair<const char*, std::string> damages[] = {
      {"empty", ""},
      {"foreign", "graph G { a -- b }\n"},
      {"cut short", good.substr(0, good.size() / 2)},
      {"cut by one byte", good.substr(0, good.size() - 1)},
      {"a byte changed in a name", flipped(good.find("Beta"))},
      {"a byte changed in a position", flipped(good.size() - 20)},
      {"a byte changed in the checksum", flipped(good.size() - 1)},
      {"trailing bytes", good + "x"}};
  for (const auto& [what, bytes] : damages) {
    SCOPED_TRACE(what);
    WriteFile(CacheFile(), bytes);
    EXPECT_FALSE(LayOut(graph, Key()).fromCache);
    EXPECT_EQ(ReadFile(CacheFile()), good);
  }
  // A whole file made for another map under the same files.
  MapGraph other = graph;
  other.nodes.pop_back();
  other.edges.pop_back();
  LayOut(other, Key());
  EXPECT_FALSE(LayOut(graph, Key()).fromCache);
  EXPECT_TRUE(LayOut(graph, Key()).fromCache);
}

TEST_F(LayoutTest, CancelEndsTheChildAtOnceAndCachesNothing) {
  LayoutOptions options;
  options.program = FakeProgram(R"(echo $$ > ")" + dir_.File("pid") +
                                R"("; exec 4>"$2"; printf L >&4; exec sleep 60)");
  auto job = LayoutJob::Start(SmallGalaxy(), Key(), options);
  while (job->Poll() == State::Running && job->phase() == LayoutJob::Phase::Starting) {
    ASSERT_LT(job->ElapsedSeconds(), 10);
    ::usleep(1000);
  }
  EXPECT_EQ(job->state(), State::Running);
  EXPECT_GE(job->NotifyFd(), 0);
  const auto before = std::chrono::steady_clock::now();
  job->Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  EXPECT_EQ(job->Poll(), State::Cancelled);
  const pid_t child = std::stoi(ReadFile(dir_.File("pid")));
  EXPECT_NE(::kill(child, 0), 0) << "the child still exists";
  EXPECT_EQ(job->NotifyFd(), -1);
  EXPECT_TRUE(CacheEntries().empty());
}

TEST_F(LayoutTest, BrokenLayoutsFailCleanlyAndCacheNothing) {
  struct Case {
    const char* what;
    std::string script;  // empty: the real program
    std::string engine;
    const char* reason;
    bool edgeToNowhere = false;
  };
  const Case cases[] = {
      {"crashes", R"(exec 4>"$2"; printf L >&4; kill -SEGV $$)", "", "signal 11"},
      {"ends without an answer", R"(exec 4>"$2"; printf LA >&4)", "", "without an answer"},
      {"answers nonsense", R"(exec 4>"$2"; printf LA >&4; printf 'P\001\000\000\000x' >&3)", "",
       "malformed answer"},
      {"answers for no node",
       R"(exec 4>"$2"; printf LA >&4; printf 'P\014\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' >&3)", "",
       "malformed answer"},
      {"never starts", "exit 1", "", "did not start"},
      {"runs too long", R"(exec 4>"$2"; printf L >&4; exec sleep 60)", "", "longer than"},
      {"GraphViz refuses", "", "no-such-engine", "not recognized"},
      {"has an edge to a missing node", "", "", "does not exist", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const LayoutOptions options{.program = c.script.empty() ? "" : FakeProgram(c.script),
                                .engine = c.engine,
                                .startTimeoutMs = 300,
                                .timeLimitMs = 600};
    MapGraph graph = SmallGalaxy();
    if (c.edgeToNowhere) graph.edges.push_back({0, static_cast<std::uint32_t>(graph.nodes.size())});
    auto job = LayoutJob::Start(graph, Key(), options);
    EXPECT_EQ(job->Wait(), State::Failed);
    EXPECT_NE(job->failure().find(c.reason), std::string::npos) << job->failure();
    EXPECT_LT(job->ElapsedSeconds(), 5);
    EXPECT_TRUE(CacheEntries().empty());
  }
}

// Node i is the network's system i and edge i its link i; the names of unexplored warp
// points are stubs: reached only through unexplored ones, or (for an identifier an explored
// warp point took) by none at all. A system no warp point leaves is still a system.
TEST(MapGraphOfTest, FollowsTheNetworkAndMakesStubsOfUnexploredNames) {
  TempDir dir;
  const std::string path = dir.File("empire.db");
  testing::WriteEmpireFile(testing::FixtureFormat::Sqlite, path,
                           {{1, 3, "Alpha", "BetaB", 1},
                            {1, 3, "Beta", "AlphaB", 2},
                            {1, 3, "Alpha", "?QC", 3},
                            {1, 3, "Beta", "?ZD", 4},
                            {1, 7, "Beta", "GammaD", 4},
                            {1, 3, "Gamma", "?QC", 5},
                            {1, 3, "Alpha", "DeadEndE", 6}});
  store::StoreError err;
  const std::shared_ptr<const EmpireRows> files[] = {ReadEmpireRows(path, err)};
  ASSERT_TRUE(files[0]) << err.reason;
  const WarpNetwork network = BuildRouteGraph(files, {});
  const MapGraph graph = MapGraphOf(network);
  ASSERT_EQ(graph.nodes.size(), network.SystemCount());
  ASSERT_EQ(graph.edges.size(), network.Links().size());
  for (std::uint32_t i = 0; i < graph.nodes.size(); ++i)
    EXPECT_EQ(graph.nodes[i].name, network.Name(i));
  for (std::size_t i = 0; i < graph.edges.size(); ++i)
    EXPECT_EQ(std::pair(graph.edges[i].from, graph.edges[i].to),
              std::pair(network.Links()[i].system, network.Links()[i].destination));
  std::set<std::string> kinds;
  for (const MapNode& node : graph.nodes)
    kinds.insert(node.name + (node.kind == NodeKind::Stub ? " (stub)" : ""));
  EXPECT_EQ(kinds,
            (std::set<std::string>{"Alpha", "Beta", "DeadEnd", "Gamma", "XQ (stub)", "XZ (stub)"}));
}

}  // namespace
}  // namespace lanewright::layout
