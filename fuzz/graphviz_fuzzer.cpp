// The names in a map export, made from the input: a few names (any bytes but NUL, up to
// 50 characters), warp points between them, explored or not, and the start system. The
// export goes the whole way, from an empire file through the range index to the text.
// GraphViz's own parser must read the text without a complaint and give back the nodes and
// edges of the index, with the names the index holds. The seeds hold names GraphViz would
// misread if written bare: keywords, numerals and near-numerals, quotes, backslashes.

#include <fmt/format.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <graphviz/cgraph.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FuzzFiles.h"
#include "export/GraphVizText.h"
#include "export/RangeIndex.h"
#include "starmap/EmpireRows.h"
#include "starmap/WarpNetwork.h"
#include "store/BoundReader.h"

namespace {

struct Link {
  std::size_t from, to;
  // 0: unexplored; 1: unexplored with the identifier of the warp point before it, which
  // shadows it when explored; otherwise explored.
  int kind;
};

struct Map {
  std::vector<std::string> names;
  std::vector<Link> links;
  std::size_t start = 0;
  bool yellowCircles = false;
};

// GraphViz takes a name that starts with '%' for one of its own internal names: it keeps
// such nodes apart but may print any of them as "%" and a number of its own. They are
// compared as "%" alone.
std::string Comparable(std::string name) { return name.starts_with('%') ? "%" : name; }

// GraphViz keeps a quoted name as written, except that \" becomes ": the backslashes the
// export doubles stay doubled, and line breaks stay written as \n and \r (it is the label
// drawing that turns them back).
std::string AsGraphvizKeepsIt(std::string_view name) {
  std::string out;
  for (const char c : name)
    out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  return Comparable(out);
}

struct Graph {
  std::multiset<std::string> nodes;
  std::multiset<std::pair<std::string, std::string>> edges;
};

std::string complaints;

int CollectComplaint(char* message) {
  complaints += message;
  return 0;
}

[[noreturn]] void Fail(const char* what, const std::string& text, const std::string& detail = {}) {
  std::fprintf(stderr, "graphviz: %s\n--- exported text ---\n%s\n--- GraphViz said ---\n%s\n%s\n",
               what, text.c_str(), complaints.c_str(), detail.c_str());
  std::abort();
}

// SQL for a text of any bytes but NUL.
std::string Literal(const std::string& text) {
  std::string hex = "CAST(X'";
  for (const char c : text) hex += fmt::format("{:02X}", static_cast<unsigned char>(c));
  return hex + "' AS TEXT)";
}

void WriteEmpireFile(const std::string& path, const Map& map) {
  std::string sql =
      "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
      "CREATE TABLE \"Warp Points\" (a INTEGER, b INTEGER, c TEXT, d TEXT, e INTEGER);";
  int id = 0;
  for (std::size_t i = 0; i < map.links.size(); ++i) {
    const Link& link = map.links[i];
    if (link.kind != 1 || id == 0) ++id;
    const std::string destination = (link.kind <= 1 ? "?" : "") + map.names[link.to] + "A";
    sql += fmt::format("INSERT INTO \"Warp Points\" VALUES ({}, 1, {}, {}, {});", i,
                       Literal(map.names[link.from]), Literal(destination), id);
  }
  if (const std::string complaint = lanewright::fuzz::CreateSqliteFile(path, sql);
      !complaint.empty())
    Fail("cannot write the empire file", complaint);
}

struct Exported {
  std::string text;
  Graph expected;  // what the index holds
};

// The map export of map; the only place that knows the index's types.
Exported Export(const Map& map) {
  const std::string path = lanewright::fuzz::ScratchFile("empire.db");
  WriteEmpireFile(path, map);
  lanewright::store::StoreError error;
  const std::shared_ptr<const lanewright::EmpireRows> files[] = {
      lanewright::ReadEmpireRows(path, error)};
  if (!files[0]) Fail("the empire file does not read", error.reason);
  const lanewright::RangeIndex index = lanewright::BuildWarpNetwork(
      files, {}, lanewright::NetworkRules{lanewright::NetworkRules::Use::Range});
  Exported out{lanewright::GraphVizText(index, map.names[map.start], map.yellowCircles), {}};
  std::set<std::string_view> nodes = {map.names[map.start]};
  for (const lanewright::WarpLink& link : index.Links()) {
    nodes.insert({index.Name(link.system), index.Name(link.destination)});
    out.expected.edges.emplace(AsGraphvizKeepsIt(index.Name(link.system)),
                               AsGraphvizKeepsIt(index.Name(link.destination)));
  }
  if (map.yellowCircles) {
    for (const lanewright::WarpLink& link : index.Shadowed())
      nodes.insert({index.Name(link.system), index.Name(link.destination)});
  }
  for (const std::string_view name : nodes) out.expected.nodes.insert(AsGraphvizKeepsIt(name));
  return out;
}

Map MakeMap(FuzzedDataProvider& input) {
  Map map;
  map.yellowCircles = input.ConsumeBool();
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(1, 6);
  for (std::size_t i = 0; i < count; ++i) {
    std::string name = input.ConsumeRandomLengthString(80);
    std::erase(name, '\0');
    map.names.push_back(lanewright::store::Utf8Prefix(name, 50));
  }
  map.start = input.ConsumeIntegralInRange<std::size_t>(0, count - 1);
  const std::size_t links = input.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < links; ++i) {
    const auto from = input.ConsumeIntegralInRange<std::size_t>(0, count - 1);
    const auto to = input.ConsumeIntegralInRange<std::size_t>(0, count - 1);
    map.links.push_back({from, to, input.ConsumeIntegralInRange<int>(0, 3)});
  }
  return map;
}

std::string Show(const Graph& graph) {
  std::string out = "nodes:";
  for (const auto& node : graph.nodes) out += " [" + node + "]";
  out += "\nedges:";
  for (const auto& [from, to] : graph.edges) out += " [" + from + "]->[" + to + "]";
  return out;
}

Graph ReadBack(const std::string& text) {
  complaints.clear();
  Agraph_t* graph = agmemread(text.c_str());
  if (!graph) Fail("GraphViz cannot read the export", text);
  Graph back;
  for (Agnode_t* n = agfstnode(graph); n; n = agnxtnode(graph, n)) {
    back.nodes.insert(Comparable(agnameof(n)));
    for (Agedge_t* e = agfstout(graph, n); e; e = agnxtout(graph, e))
      back.edges.emplace(Comparable(agnameof(agtail(e))), Comparable(agnameof(aghead(e))));
  }
  agclose(graph);
  if (!complaints.empty()) Fail("GraphViz complains about the export", text);
  return back;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  agseterr(AGWARN);
  agseterrf(CollectComplaint);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Exported exported = Export(MakeMap(input));
  const Graph back = ReadBack(exported.text);
  if (back.nodes != exported.expected.nodes || back.edges != exported.expected.edges)
    Fail("GraphViz reads another graph", exported.text,
         "--- expected ---\n" + Show(exported.expected) + "\n--- read ---\n" + Show(back));
  return 0;
}
