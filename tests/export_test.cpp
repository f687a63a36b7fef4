#include <graphviz/cgraph.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "export/RangeCommands.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using testing::EmpireRow;
using testing::FixtureFormat;
using testing::ReadFile;
using testing::TempDir;
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
const std::vector<EmpireRow> kFileA = {
    {1, 1, "Sol", "AlphaB", 1042},
    {2, 1, "Sol", "AlphaC", 1040},
    {3, 1, "Sol", "?CC", 417},  // unexplored: a leaf named C417
    {4, 1, "Sol", "?DD", 418},  // unexplored, but b.db knows where 418 leads
    {5, 1, "Alpha", "BetaA", 7},
    {6, 1, "Alpha", "ZetaA", 7},  // same identifier again: dropped
    {7, 1, "Alpha", "GammaA", 9},
    {8, 1, "Beta", "GammaA", 8},
    {9, 1, "Gamma", "DeltaA", 10},
    {10, 1, "Delta", "SolA", 11},
    {11, 1, "Delta", "\xC3\x84rgerA", 12},
    {12, 1, "Delta", "etaA", 13},
    {13, 1, "Sol", "B", 500},  // no destination name
    {14, 1, "Sol", "", 501},
    {15, 1, "Gamma", "?B", 600},  // unexplored, no letter to name it after
};
const std::vector<EmpireRow> kFileB = {
    {1, 2, "Sol", "AlphxQ", 1042},
    {2, 2, "Sol", "OmegaE", 418},
};

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

  TempDir dir_;
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
  const std::string direct =
      "C417 (C: 417)\r\nOmega (E: 418)\r\nAlpha (C: 1040)\r\nAlpha (B: 1042)\r\n";
  const std::vector<RangeCase> cases = {
      {"direct warp points", "Sol", 1, false, {}, direct},
      {"all systems is ignored for N=1", "Sol", 1, true, {}, direct},
      {"N=0", "Sol", 0, false, {}, "Sol(0)\r\n"},
      {"N=0 all", "Sol", 0, true, {}, "Sol(0)\r\n"},
      {"exactly N", "Sol", 2, false, {}, "Beta(2)\r\nGamma(2)\r\n"},
      {"levels up to N", "Sol", 2, true, {},
       "Sol(0)\r\nAlpha(1)\r\nC417(1)\r\nOmega(1)\r\nBeta(2)\r\nGamma(2)\r\n"},
      {"smallest count, byte order", "Sol", 4, false, {}, "eta(4)\r\n\xC3\x84rger(4)\r\n"},
      {"nothing beyond N", "Sol", 999, false, {}, ""},
      // Skipped rows claim no identifier: b.db's 1042 now names the link.
      {"avoided middle", "Sol", 3, true, {"Alpha"},
       "Sol(0)\r\nAlphx(1)\r\nC417(1)\r\nOmega(1)\r\n"},
      {"X-name does not avoid", "Sol", 1, false, {"XC"}, direct},
      {"raw name avoids", "Sol", 1, false, {"?C", "Omega"},
       "D418 (D: 418)\r\nAlpha (C: 1040)\r\nAlpha (B: 1042)\r\n"},
      {"avoided start, N=1", "Sol", 1, true, {"Sol"}, ""},
      {"avoided start", "Sol", 3, true, {"Sol"}, "Sol(0)\r\n"},
      {"X-name start, N=1", "XC", 1, false, {}, ""},
      {"X-name start", "XC", 4, true, {}, "XC(0)\r\n"},
      {"X-name start, exact", "XC", 4, false, {}, ""},
      {"unexplored without letter", "Gamma", 1, false, {}, "Delta (A: 10)\r\n600 (B: 600)\r\n"},
      {"no start", std::nullopt, 3, true, {}, "Please select starting point in first list."},
  };
  StarMap starMap = Galaxy();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    starMap.avoidSystems = {"before"};
    StringOutputBox output;
    output.SetText("old text");
    EXPECT_FALSE(FindSystemsInRange(starMap, c.start, c.avoid, c.jumps, c.all, output).Failed());
    EXPECT_EQ(output.Text(), c.expected);
    EXPECT_EQ(starMap.avoidSystems, c.start ? c.avoid : std::set<std::string>{"before"});
  }
}

TEST_P(ExportTest, NoFileWithoutStartOrData) {
  StarMap starMap = Galaxy();
  const std::string target = dir_.File("map.dot");
  StringOutputBox output;
  EXPECT_FALSE(ExportGraphViz(starMap, std::nullopt, {"Sol"}, true, target, output).written);
  EXPECT_EQ(output.Text(), "Please select starting point in first list.");
  EXPECT_EQ(starMap.avoidSystems, std::set<std::string>{"Sol"});

  starMap.databaseFiles.insert(dir_.File("missing.db"));
  const auto error = FindSystemsInRange(starMap, "Sol", {}, 1, false, output);
  EXPECT_EQ(error.code, store::E_FAIL);
  EXPECT_EQ(output.Text(), "failed with hr=-2147467259");
  const ExportResult result = ExportGraphViz(starMap, "Sol", {}, true, target, output);
  EXPECT_TRUE(result.error.Failed());
  EXPECT_FALSE(result.written);
  EXPECT_EQ(output.Text(), "failed with hr=-2147467259");
  EXPECT_FALSE(fs::exists(target));
}

// --- GraphViz ------------------------------------------------------------------------

// How GraphViz keeps a quoted name: \" becomes ", but \\ stays two backslashes (it is
// the label drawing that turns them into one).
std::string GraphvizName(const std::string& name) {
  std::string out;
  for (char c : name) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

struct ReadBack {
  std::set<std::string> nodes;
  std::multiset<std::pair<std::string, std::string>> edges;
};

std::string RunCapture(const std::string& command, int& exitCode) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// GraphViz must accept the file without a word of complaint, and the graph it reads
// back is returned.
ReadBack CheckWithGraphviz(const std::string& path) {
  int rc = 0;
  const std::string complaints =
      RunCapture("dot -Tsvg " + ShellQuote(path) + " -o /dev/null 2>&1", rc);
  EXPECT_EQ(rc, 0) << complaints;
  EXPECT_EQ(complaints, "");

  ReadBack back;
  Agraph_t* graph = agmemread(ReadFile(path).c_str());
  EXPECT_NE(graph, nullptr);
  if (!graph) return back;
  for (Agnode_t* n = agfstnode(graph); n; n = agnxtnode(graph, n)) {
    back.nodes.insert(agnameof(n));
    for (Agedge_t* e = agfstout(graph, n); e; e = agnxtout(graph, e))
      back.edges.emplace(agnameof(agtail(e)), agnameof(aghead(e)));
  }
  agclose(graph);
  return back;
}

TEST_P(ExportTest, SmallMapByteForByte) {
  StarMap starMap = Load({{{1, 1, "Sol", "AlphaB", 1},
                           {2, 1, "Alpha", "SolB", 2},
                           {3, 1, "Alpha", "?DD", 2},  // loses 2 to the explored row
                           {4, 1, "Sol", "?CC", 3}}});
  const std::string head = "Digraph G {\r\noverlap=scale;\r\nSol;\r\n";
  const std::string edges = "Sol -> Alpha;\r\nAlpha -> Sol;\r\nSol -> C3;\r\n}\r\n";
  const std::string circles = CircleLine("Alpha", "Alpha") + CircleLine("C3", "C3") +
                              CircleLine("D2", "D2") + CircleLine("Sol", "Sol");
  for (const bool yellow : {false, true}) {
    SCOPED_TRACE(yellow);
    const std::string target = dir_.File(yellow ? "yellow.map" : "plain.map");
    StringOutputBox output;
    const ExportResult result = ExportGraphViz(starMap, "Sol", {"Nowhere"}, yellow, target, output);
    EXPECT_TRUE(result.written);
    EXPECT_FALSE(result.error.Failed());
    EXPECT_EQ(starMap.avoidSystems, std::set<std::string>{"Nowhere"});
    EXPECT_EQ(ReadFile(target), head + (yellow ? circles : "") + edges);
    EXPECT_EQ(output.Text(), "Data saved to file " + target +
                                 ".\r\nYou can generate a map with one of the following GraphViz "
                                 "commands:\r\n  dot -Tpng " + target + " -o map.png\r\n  neato -Tpng " +
                                 target + " -o map.png\r\n");
    const ReadBack back = CheckWithGraphviz(target);
    std::set<std::string> nodes = {"Sol", "Alpha", "C3"};
    if (yellow) nodes.insert("D2");
    EXPECT_EQ(back.nodes, nodes);
  }
}

// Names GraphViz would misread if written bare, written as systems, destinations and the
// start; the graph read back must be the one written, whatever the names.
TEST_P(ExportTest, AwkwardNamesSurviveGraphviz) {
  const std::vector<std::string> names = {
      "Sol", "New Terra", "say \"hi\"", "Back\\slash", "Trail\\", "\\\"", "node", "Edge",
      "GRAPH", "digraph", "SubGraph", "strict", "9th Reach", "42", "-1.5", "\xC3\x84rger",
      "\xC3\x98rsted", "a->b", "x;y", "{}", "[", "=", "#", "//", "/*",
  };
  std::vector<EmpireRow> rows;
  ReadBack expected;
  std::int32_t id = 1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& from = names[i];
    const std::string& to = names[(i + 1) % names.size()];
    rows.push_back({id, 1, from, to + "A", id});
    expected.nodes.insert(GraphvizName(from));
    expected.edges.emplace(GraphvizName(from), GraphvizName(to));
    ++id;
  }
  rows.push_back({id, 1, "Sol", "New TerraB", id});  // a second, identical edge
  expected.edges.emplace("Sol", "New Terra");
  StarMap starMap = Load({rows});

  for (const bool yellow : {false, true}) {
    for (const std::string& start : {std::string("Back\\slash"), std::string("node")}) {
      SCOPED_TRACE(start + (yellow ? " yellow" : ""));
      const std::string target = dir_.File("awkward.dot");
      StringOutputBox output;
      ASSERT_TRUE(ExportGraphViz(starMap, start, {}, yellow, target, output).written);
      const ReadBack back = CheckWithGraphviz(target);
      EXPECT_EQ(back.nodes, expected.nodes);
      EXPECT_EQ(back.edges, expected.edges);
      const std::string text = ReadFile(target);
      const auto count = [&text](std::string_view what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
      };
      EXPECT_EQ(count("\r\n"), 4 + rows.size() + (yellow ? names.size() : 0));
      EXPECT_EQ(count("\n"), count("\r\n"));
      EXPECT_EQ(count("\r\r"), 0u);
    }
  }
}

TEST_P(ExportTest, AvoidedSystemsOnlyInTheHeader) {
  StarMap starMap = Galaxy();
  const std::string target = dir_.File("map.dot");
  StringOutputBox output;
  ASSERT_TRUE(ExportGraphViz(starMap, "Alpha", {"Alpha"}, true, target, output).written);
  const std::string text = ReadFile(target);
  EXPECT_EQ(text.find("Alpha"), text.find("Alpha;\r\n"));
  EXPECT_EQ(text.find("Alpha", text.find("Alpha") + 1), std::string::npos);
  const ReadBack back = CheckWithGraphviz(target);
  EXPECT_EQ(back.edges.count({"Sol", "Omega"}), 1u);  // 418: the explored row wins
  EXPECT_EQ(back.edges.count({"Sol", "D418"}), 0u);
  EXPECT_EQ(back.nodes.count("D418"), 1u);  // still drawn, with yellow circles
  EXPECT_EQ(back.edges.count({"Sol", "Alphx"}), 1u);  // 1042 of b.db, a.db's row avoided
  EXPECT_EQ(back.edges.size(), 9u);
}

TEST_P(ExportTest, ExistingFileIsReplacedAndKeepsItsPermissions) {
  StarMap starMap = Galaxy();
  const std::string target = dir_.File("map.dot");
  testing::WriteFile(target, std::string(100000, 'x'));
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  StringOutputBox output;
  ASSERT_TRUE(ExportGraphViz(starMap, "Sol", {}, false, target, output).written);
  EXPECT_EQ(ReadFile(target).rfind("Digraph G {\r\n", 0), 0u);
  EXPECT_EQ(ReadFile(target).find('x'), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 3);
}

TEST_P(ExportTest, TargetThatCannotBeOpened) {
  StarMap starMap = Galaxy();
  fs::create_directory(dir_.File("folder"));
  for (const std::string& target : {dir_.File("no such folder/map.dot"), dir_.File("folder")}) {
    SCOPED_TRACE(target);
    StringOutputBox output;
    const ExportResult result = ExportGraphViz(starMap, "Sol", {}, false, target, output);
    EXPECT_FALSE(result.written);
    EXPECT_TRUE(result.error.Failed());
    EXPECT_EQ(output.Text(), "could not open file " + target);
  }
  EXPECT_TRUE(fs::is_directory(dir_.File("folder")));
  EXPECT_TRUE(fs::is_empty(dir_.File("folder")));
}

// A write that fails after the file was opened (a full disk, a file size limit) leaves
// the old file as it was, no temporary file behind, and no claim of success.
TEST_P(ExportTest, WriteFailureKeepsTheOldFile) {
  StarMap starMap = Galaxy();
  const std::string target = dir_.File("map.dot");
  testing::WriteFile(target, "old map");

  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  StringOutputBox output;
  const ExportResult result = ExportGraphViz(starMap, "Sol", {}, true, target, output);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(result.written);
  EXPECT_TRUE(result.error.Failed());
  EXPECT_EQ(output.Text(), "could not write file " + target);
  EXPECT_EQ(ReadFile(target), "old map");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 3);
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportTest, ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const auto& info) { return testing::FormatName(info.param); });

// --- The command line ----------------------------------------------------------------

struct CliRun {
  int exitCode = -1;
  std::string out, err;
};

class ExportCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* binary = std::getenv("LANEWRIGHT_BINARY");
    if (!binary) GTEST_SKIP() << "LANEWRIGHT_BINARY is not set";
    binary_ = binary;
    testing::WriteEmpireFile(FixtureFormat::Sqlite, dir_.File("a.db"), kFileA);
    testing::WriteEmpireFile(FixtureFormat::Sqlite, dir_.File("b.db"), kFileB);
  }

  CliRun Run(const std::vector<std::string>& args) {
    std::string command = ShellQuote(binary_);
    for (const auto& arg : args) command += " " + ShellQuote(arg);
    for (const char* file : {"a.db", "b.db"}) command += " " + ShellQuote(dir_.File(file));
    CliRun run;
    run.out = RunCapture(command + " 2>" + ShellQuote(dir_.File("stderr")), run.exitCode);
    run.err = ReadFile(dir_.File("stderr"));
    return run;
  }

  TempDir dir_;
  std::string binary_;
};

TEST_F(ExportCliTest, OutputAndExitCodes) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"range", "--from", "Sol", "--jumps", "1"},
       0,
       "C417 (C: 417)\nOmega (E: 418)\nAlpha (C: 1040)\nAlpha (B: 1042)\n"},
      {{"range", "--avoid", "Alpha", "--from", "Sol", "--all", "--crlf"},
       0,
       "Sol(0)\r\nAlphx(1)\r\nC417(1)\r\nOmega(1)\r\n"},
      {{"range", "--from", "Nowhere"}, 2, ""},
      {{"range", "--from", "Sol", "--jumps", "1000"}, 64, ""},
      {{"range", "--from", "Sol", "--jumps", "-1"}, 64, ""},
      {{"range", "--from", "Sol", "--jumps", "two"}, 64, ""},
      {{"range", "--jumps", "2"}, 64, ""},
      {{"export-dot", "--from", "Nowhere", "--output", dir_.File("never.dot")}, 2, ""},
      {{"export-dot", "--from", "Sol"}, 64, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.out, c.out);
    if (c.exitCode == 2) {
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;  // one line
    } else if (c.exitCode == 64) {
      EXPECT_NE(run.err, "");
    }
  }
  EXPECT_FALSE(fs::exists(dir_.File("never.dot")));
}

TEST_F(ExportCliTest, ExportDot) {
  const std::string target = dir_.File("map.dot");
  CliRun run = Run({"export-dot", "--from", "Sol", "--yellow-circles", "--output", target});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.rfind("Data saved to file " + target + ".\n", 0), 0u);
  EXPECT_EQ(CheckWithGraphviz(target).edges.size(), 12u);

  const std::string bad = dir_.File("missing/map.dot");
  run = Run({"export-dot", "--from", "Sol", "--output", bad});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "could not open file " + bad);
  EXPECT_NE(run.err.find(bad), std::string::npos);
}

}  // namespace
}  // namespace lanewright
