// The names in a map export, made from the input: a few names (any bytes but NUL, up to
// 50 characters), links between them and the start system. GraphViz's own parser must read
// the exported text without a complaint and give back the same nodes and edges.

#include <fuzzer/FuzzedDataProvider.h>
#include <graphviz/cgraph.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "export/GraphVizText.h"
#include "export/RangeIndex.h"

namespace {

struct Link {
  std::size_t from, to;
  bool shadowed;  // an unexplored warp point that lost its identifier: drawn, never an edge
};

struct Map {
  std::vector<std::string> names;
  std::vector<Link> links;
  std::size_t start = 0;
  bool yellowCircles = false;
};

// The export over a hand-built index; the only place that knows the index's layout.
std::string ExportText(const Map& map) {
  lanewright::RangeIndex index;
  std::int32_t id = 0;
  for (const Link& link : map.links) {
    lanewright::WarpLink w;
    w.system = map.names[link.from];
    w.destination = map.names[link.to];
    w.warpPointId = ++id;
    w.warpClass = 'A';
    w.empires = {1};
    if (link.shadowed) {
      index.shadowed.push_back(std::move(w));
    } else {
      index.links.emplace(id, std::move(w));
    }
  }
  for (const auto& [linkId, link] : index.links) index.bySystem[link.system].push_back(&link);
  return lanewright::GraphVizText(index, map.names[map.start], map.yellowCircles);
}

std::string Utf8Prefix(const std::string& text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == maxChars)
      return text.substr(0, i);
  }
  return text;
}

Map MakeMap(FuzzedDataProvider& input) {
  Map map;
  map.yellowCircles = input.ConsumeBool();
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(1, 6);
  for (std::size_t i = 0; i < count; ++i) {
    std::string name = input.ConsumeRandomLengthString(80);
    std::erase(name, '\0');
    map.names.push_back(Utf8Prefix(name, 50));
  }
  map.start = input.ConsumeIntegralInRange<std::size_t>(0, count - 1);
  const std::size_t links = input.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < links; ++i) {
    const auto from = input.ConsumeIntegralInRange<std::size_t>(0, count - 1);
    const auto to = input.ConsumeIntegralInRange<std::size_t>(0, count - 1);
    map.links.push_back({from, to, input.ConsumeIntegralInRange<int>(0, 3) == 0});
  }
  return map;
}

// GraphViz keeps a quoted name as written, except that \" becomes ": the backslashes the
// export doubles stay doubled, and line breaks stay written as \n and \r (it is the label
// drawing that turns them back).
std::string AsGraphvizKeepsIt(const std::string& name) {
  std::string out;
  for (const char c : name) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

// GraphViz takes a name that starts with '%' for one of its own internal names: it keeps
// such nodes apart but may print any of them as "%" and a number of its own. They are
// compared as "%" alone.
std::string Comparable(std::string name) { return name.starts_with('%') ? "%" : name; }

struct Graph {
  std::multiset<std::string> nodes;
  std::multiset<std::pair<std::string, std::string>> edges;
};

std::string Show(const Graph& graph) {
  std::string out = "nodes:";
  for (const auto& node : graph.nodes) out += " [" + node + "]";
  out += "\nedges:";
  for (const auto& [from, to] : graph.edges) out += " [" + from + "]->[" + to + "]";
  return out;
}

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

Graph Expected(const Map& map) {
  std::set<std::string> nodes = {map.names[map.start]};
  Graph graph;
  for (const Link& link : map.links) {
    if (link.shadowed && !map.yellowCircles) continue;
    nodes.insert(map.names[link.from]);
    nodes.insert(map.names[link.to]);
    if (!link.shadowed)
      graph.edges.emplace(Comparable(AsGraphvizKeepsIt(map.names[link.from])),
                          Comparable(AsGraphvizKeepsIt(map.names[link.to])));
  }
  for (const std::string& name : nodes) graph.nodes.insert(Comparable(AsGraphvizKeepsIt(name)));
  return graph;
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
  const Map map = MakeMap(input);
  const std::string text = ExportText(map);

  const Graph expected = Expected(map);
  const Graph back = ReadBack(text);
  if (back.nodes != expected.nodes || back.edges != expected.edges)
    Fail("GraphViz reads another graph", text,
         "--- expected ---\n" + Show(expected) + "\n--- read ---\n" + Show(back));
  return 0;
}
