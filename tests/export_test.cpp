#include <graphviz/cgraph.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "export/RangeCommands.h"
#include "support/Fixtures.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using testing::EmpireRow;
using testing::FixtureFormat;
using testing::ReadFile;
namespace fs = std::filesystem;

constexpr const char* kCircle =
    " [ label=\"{}\", font=\"Arial\", fontsize=4, fontcolor=\"black\", fillcolor=\"yellow\",  "
    "style=\"filled\", shape=\"circle\", height=2, width=2];\r\n";

std::string CircleLine(const std::string& id, const std::string& label) {
  std::string line = kCircle;
  line.replace(line.find("{}"), 2, label);
  return id + line;
}

// A galaxy in two files. a.db is read first, so its rows win identifiers both files hold.
// 417 is unexplored (a leaf named C417); so is 418, but b.db knows where it leads; the
// second 7 is dropped; 500 and 501 name no destination; 600 is unexplored and has no
// letter to name it after.
// clang-format off
const std::vector<EmpireRow> kFileA = {
    {1, 1, "Sol", "AlphaB", 1042},  {2, 1, "Sol", "AlphaC", 1040},  {3, 1, "Sol", "?CC", 417},
    {4, 1, "Sol", "?DD", 418},      {5, 1, "Alpha", "BetaA", 7},    {6, 1, "Alpha", "ZetaA", 7},
    {7, 1, "Alpha", "GammaA", 9},   {8, 1, "Beta", "GammaA", 8},    {9, 1, "Gamma", "DeltaA", 10},
    {10, 1, "Delta", "SolA", 11},   {11, 1, "Delta", "\xC3\x84rgerA", 12},
    {12, 1, "Delta", "etaA", 13},   {13, 1, "Sol", "B", 500},       {14, 1, "Sol", "", 501},
    {15, 1, "Gamma", "?B", 600}};
// clang-format on
const std::vector<EmpireRow> kFileB = {{1, 2, "Sol", "AlphxQ", 1042}, {2, 2, "Sol", "OmegaE", 418}};

class ExportTest : public ::testing::TestWithParam<FixtureFormat> {
 protected:
  StarMap Load(const std::vector<std::vector<EmpireRow>>& files) {
    StarMap starMap;
    char name[] = "a.db";
    for (const auto& rows : files) {
      testing::WriteEmpireFile(GetParam(), dir_.File(name), rows);
      starMap.databaseFiles.insert(dir_.File(name));
      ++name[0];
    }
    return starMap;
  }
  StarMap Galaxy() { return Load({kFileA, kFileB}); }

  testing::TempDir dir_;
  EmpireRowSource rows_;
};

struct RangeCase {
  const char* label;
  std::optional<std::string> start;
  int jumps;
  bool all;
  std::set<std::string> avoid;
  std::string expected;
};

TEST_P(ExportTest, SystemsInRange) {
  // 500's destination is its class letter alone: the link leads to the system named "".
  const std::string direct =
      "C417 (C: 417)\r\nOmega (E: 418)\r\n (B: 500)\r\nAlpha (C: 1040)\r\nAlpha (B: 1042)\r\n";
  // clang-format off
  const std::vector<RangeCase> cases = {
      {"direct warp points", "Sol", 1, false, {}, direct},
      {"all systems is ignored for N=1", "Sol", 1, true, {}, direct},
      {"N=0", "Sol", 0, false, {}, "Sol(0)\r\n"},
      {"N=0 all", "Sol", 0, true, {}, "Sol(0)\r\n"},
      {"exactly N", "Sol", 2, false, {}, "Beta(2)\r\nGamma(2)\r\n"},
      {"levels up to N", "Sol", 2, true, {},
       "Sol(0)\r\n(1)\r\nAlpha(1)\r\nC417(1)\r\nOmega(1)\r\nBeta(2)\r\nGamma(2)\r\n"},
      {"smallest count, byte order", "Sol", 4, false, {}, "eta(4)\r\n\xC3\x84rger(4)\r\n"},
      {"nothing beyond N", "Sol", 999, false, {}, ""},
      // Skipped rows claim no identifier: b.db's 1042 now names the link.
      {"avoided middle", "Sol", 3, true, {"Alpha"},
       "Sol(0)\r\n(1)\r\nAlphx(1)\r\nC417(1)\r\nOmega(1)\r\n"},
      {"X-name does not avoid", "Sol", 1, false, {"XC"}, direct},
      {"raw name avoids", "Sol", 1, false, {"?C", "Omega", ""},
       "D418 (D: 418)\r\nAlpha (C: 1040)\r\nAlpha (B: 1042)\r\n"},
      {"avoided start, N=1", "Sol", 1, true, {"Sol"}, ""},
      {"avoided start", "Sol", 3, true, {"Sol"}, "Sol(0)\r\n"},
      {"X-name start, N=1", "XC", 1, false, {}, ""},
      {"X-name start", "XC", 4, true, {}, "XC(0)\r\n"},
      {"X-name start, exact", "XC", 4, false, {}, ""},
      {"unexplored without letter", "Gamma", 1, false, {}, "Delta (A: 10)\r\n600 (B: 600)\r\n"},
      {"no start", std::nullopt, 3, true, {}, "Please select starting point in first list."},
  };
  // clang-format on
  StarMap starMap = Galaxy();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    starMap.avoidSystems = {"before"};
    StringOutputBox output;
    output.SetText("old text");
    EXPECT_FALSE(
        FindSystemsInRange(starMap, rows_, c.start, c.avoid, c.jumps, c.all, output).Failed());
    EXPECT_EQ(output.Text(), c.expected);
    EXPECT_EQ(starMap.avoidSystems, c.start ? c.avoid : std::set<std::string>{"before"});
  }
}

TEST_P(ExportTest, NoFileWithoutStartOrData) {
  StarMap starMap = Galaxy();
  const std::string target = dir_.File("map.dot");
  StringOutputBox output;
  EXPECT_FALSE(ExportGraphViz(starMap, rows_, std::nullopt, {"Sol"}, true, target, output).written);
  EXPECT_EQ(output.Text(), "Please select starting point in first list.");
  EXPECT_EQ(starMap.avoidSystems, std::set<std::string>{"Sol"});

  starMap.databaseFiles.insert(dir_.File("missing.db"));
  const auto error = FindSystemsInRange(starMap, rows_, "Sol", {}, 1, false, output);
  EXPECT_EQ(error.code, store::E_FAIL);
  EXPECT_EQ(output.Text(), "failed with hr=-2147467259");
  const ExportResult result = ExportGraphViz(starMap, rows_, "Sol", {}, true, target, output);
  EXPECT_TRUE(result.error.Failed());
  EXPECT_FALSE(result.written);
  EXPECT_EQ(output.Text(), "failed with hr=-2147467259");
  EXPECT_FALSE(fs::exists(target));
}

// --- GraphViz ------------------------------------------------------------------------

struct ReadBack {
  std::set<std::string> nodes;
  std::multiset<std::pair<std::string, std::string>> edges;
};

// GraphViz must accept the file without a word of complaint; the graph it reads back is
// returned.
ReadBack CheckWithGraphviz(const std::string& path) {
  const auto dot = testing::RunProgram("dot", {"-Tsvg", path, "-o", "/dev/null"});
  EXPECT_EQ(dot.exitCode, 0) << dot.err;
  EXPECT_EQ(dot.out + dot.err, "");
  ReadBack back;
  Agraph_t* graph = agmemread(ReadFile(path).c_str());
  EXPECT_NE(graph, nullptr);
  for (Agnode_t* n = graph ? agfstnode(graph) : nullptr; n; n = agnxtnode(graph, n)) {
    back.nodes.insert(agnameof(n));
    for (Agedge_t* e = agfstout(graph, n); e; e = agnxtout(graph, e))
      back.edges.emplace(agnameof(agtail(e)), agnameof(aghead(e)));
  }
  if (graph) agclose(graph);
  return back;
}

TEST_P(ExportTest, SmallMapByteForByte) {
  StarMap starMap = Load({{{1, 1, "Sol", "AlphaB", 1},
                           {2, 1, "Alpha", "SolB", 2},
                           {3, 1, "Alpha", "?DD", 2},  // loses 2 to the explored row
                           {4, 1, "Sol", "?CC", 3},
                           {5, 1, "12", "-3.5A", 5},  // numerals are bare IDs
                           {6, 1, "9th", ".5A", 6}}});
  const std::string head = "Digraph G {\r\noverlap=scale;\r\nSol;\r\n";
  const std::string edges =
      "Sol -> Alpha;\r\nAlpha -> Sol;\r\nSol -> C3;\r\n12 -> -3.5;\r\n\"9th\" -> .5;\r\n}\r\n";
  const std::string circles = CircleLine("-3.5", "-3.5") + CircleLine(".5", ".5") +
                              CircleLine("12", "12") + CircleLine("\"9th\"", "9th") +
                              CircleLine("Alpha", "Alpha") + CircleLine("C3", "C3") +
                              CircleLine("D2", "D2") + CircleLine("Sol", "Sol");
  for (const bool yellow : {false, true}) {
    SCOPED_TRACE(yellow);
    const std::string target = dir_.File(yellow ? "yellow.map" : "plain.map");
    StringOutputBox output;
    EXPECT_TRUE(ExportGraphViz(starMap, rows_, "Sol", {"Nowhere"}, yellow, target, output).written);
    EXPECT_EQ(starMap.avoidSystems, std::set<std::string>{"Nowhere"});
    EXPECT_EQ(ReadFile(target), head + (yellow ? circles : "") + edges);
    const ReadBack back = CheckWithGraphviz(target);
    std::set<std::string> nodes = {"Sol", "Alpha", "C3", "12", "-3.5", "9th", ".5"};
    if (yellow) nodes.insert("D2");
    EXPECT_EQ(back.nodes, nodes);
  }
}

TEST_P(ExportTest, AvoidedSystemsOnlyInTheHeader) {
  StarMap starMap = Galaxy();
  const std::string target = dir_.File("map.dot");
  StringOutputBox output;
  ASSERT_TRUE(ExportGraphViz(starMap, rows_, "Alpha", {"Alpha"}, true, target, output).written);
  const std::string text = ReadFile(target);
  EXPECT_EQ(text.find("Alpha"), text.find("Alpha;\r\n"));
  EXPECT_EQ(text.find("Alpha", text.find("Alpha") + 1), std::string::npos);
  const ReadBack back = CheckWithGraphviz(target);
  EXPECT_EQ(back.edges.count({"Sol", "Omega"}), 1u);  // 418: the explored row wins
  EXPECT_EQ(back.edges.count({"Sol", "D418"}), 0u);
  EXPECT_EQ(back.nodes.count("D418"), 1u);            // still drawn, with yellow circles
  EXPECT_EQ(back.edges.count({"Sol", "Alphx"}), 1u);  // 1042 of b.db, a.db's row avoided
  EXPECT_EQ(back.edges.size(), 10u);
}

// An existing file is replaced whole and keeps its permissions. A target that cannot be
// opened, or a write that fails after opening (a full disk, a file size limit), leaves
// the old file as it was, no temporary file behind, and no claim of success.
TEST_P(ExportTest, ReplacingTheTarget) {
  StarMap starMap = Galaxy();
  const std::string target = dir_.File("map.dot");
  testing::WriteFile(target, std::string(100000, 'x'));
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  StringOutputBox output;
  ASSERT_TRUE(ExportGraphViz(starMap, rows_, "Sol", {}, false, target, output).written);
  EXPECT_EQ(ReadFile(target).rfind("Digraph G {\r\n", 0), 0u);
  EXPECT_EQ(ReadFile(target).find('x'), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  testing::WriteFile(target, "old map");
  fs::create_directory(dir_.File("folder"));
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  for (const std::string& path :
       {dir_.File("no such folder/map.dot"), dir_.File("folder"), target}) {
    SCOPED_TRACE(path);
    rlimit small = saved;
    if (path == target) small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const ExportResult result = ExportGraphViz(starMap, rows_, "Sol", {}, true, path, output);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(result.written);
    EXPECT_TRUE(result.error.Failed());
    EXPECT_EQ(output.Text(),
              (path == target ? "could not write file " : "could not open file ") + path);
  }
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ReadFile(target), "old map");
  EXPECT_TRUE(fs::is_directory(dir_.File("folder")));
  EXPECT_TRUE(fs::is_empty(dir_.File("folder")));
  // The two empire files, the map and the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 4);
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportTest, ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const auto& info) { return testing::FormatName(info.param); });

}  // namespace
}  // namespace lanewright
