#include "export/GraphVizText.h"

#include <algorithm>
#include <array>
#include <vector>

namespace lanewright {
namespace {

bool IsIdStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsIdChar(unsigned char c) { return IsIdStart(c) || (c >= '0' && c <= '9'); }

bool IsKeyword(std::string_view name) {
  static constexpr std::array<std::string_view, 6> kKeywords = {"node",    "edge",     "graph",
                                                                "digraph", "subgraph", "strict"};
  for (std::string_view keyword : kKeywords) {
    if (keyword.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      const char c = name[i];
      same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == keyword[i];
    }
    if (same) return true;
  }
  return false;
}

bool IsIdentifier(std::string_view name) {
  if (name.empty() || !IsIdStart(static_cast<unsigned char>(name.front()))) return false;
  for (char c : name)
    if (!IsIdChar(static_cast<unsigned char>(c))) return false;
  return !IsKeyword(name);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// -?(\.[0-9]+|[0-9]+(\.[0-9]*)?)
bool IsNumeral(std::string_view name) {
  if (!name.empty() && name.front() == '-') name.remove_prefix(1);
  std::size_t i = 0;
  while (i < name.size() && IsDigit(name[i])) ++i;
  const std::size_t digitsBefore = i;
  if (i < name.size() && name[i] == '.') {
    ++i;
    const std::size_t firstAfter = i;
    while (i < name.size() && IsDigit(name[i])) ++i;
    if (digitsBefore == 0 && i == firstAfter) return false;
  } else if (digitsBefore == 0) {
    return false;
  }
  return i == name.size();
}

bool IsBareId(std::string_view name) { return IsIdentifier(name) || IsNumeral(name); }

// The inside of a quoted DOT string. GraphViz unescapes only \" when reading, and turns
// \\ into \ when it draws the label, so both are escaped to show the name unchanged.
// Line breaks become \n and \r: raw ones would break the one-statement-per-line layout.
void AppendQuotedBody(std::string& out, std::string_view name) {
  for (char c : name) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

void AppendId(std::string& out, std::string_view name) {
  if (IsBareId(name)) {
    out += name;
    return;
  }
  out += '"';
  AppendQuotedBody(out, name);
  out += '"';
}

}  // namespace

std::string GraphVizText(const RangeIndex& index, const std::string& startSystem,
                         bool yellowCircles) {
  std::string out = "Digraph G {\r\noverlap=scale;\r\n";
  AppendId(out, startSystem);
  out += ";\r\n";

  if (yellowCircles) {
    std::vector<std::string_view> graphNodes;
    graphNodes.reserve(2 * (index.Links().size() + index.Shadowed().size()));
    for (const auto& links : {index.Links(), index.Shadowed()}) {
      for (const WarpLink& link : links) {
        graphNodes.push_back(index.Name(link.system));
        graphNodes.push_back(index.Name(link.destination));
      }
    }
    std::sort(graphNodes.begin(), graphNodes.end());
    graphNodes.erase(std::unique(graphNodes.begin(), graphNodes.end()), graphNodes.end());
    for (std::string_view name : graphNodes) {
      AppendId(out, name);
      out += " [ label=\"";
      AppendQuotedBody(out, name);
      // "font" and the two blanks before "style" are what players' existing maps have.
      out +=
          "\", font=\"Arial\", fontsize=4, fontcolor=\"black\", fillcolor=\"yellow\",  "
          "style=\"filled\", shape=\"circle\", height=2, width=2];\r\n";
    }
  }

  std::vector<const WarpLink*> edges;
  edges.reserve(index.Links().size());
  for (const WarpLink& link : index.Links()) edges.push_back(&link);
  std::sort(edges.begin(), edges.end(),
            [](const WarpLink* a, const WarpLink* b) { return a->warpPointId < b->warpPointId; });
  for (const WarpLink* link : edges) {
    AppendId(out, index.Name(link->system));
    out += " -> ";
    AppendId(out, index.Name(link->destination));
    out += ";\r\n";
  }
  out += "}\r\n";
  return out;
}

}  // namespace lanewright
