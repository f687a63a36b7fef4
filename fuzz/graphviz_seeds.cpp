// Seeds for graphviz_fuzzer: maps whose names GraphViz could misread if the export wrote
// them carelessly (keywords, numerals, quotes, backslashes, line breaks, bytes from 0x80,
// the empty name). Each seed is laid out the way the harness takes its input apart: the
// names from the front, the numbers from the back.

#include <string>
#include <vector>

#include "FuzzFiles.h"

namespace {

struct SeedMap {
  bool yellowCircles;
  std::vector<std::string> names;  // 1 to 6
  int start;
  std::vector<std::vector<int>> links;  // {from, to, kind: 0 unexplored, 1 shadowed, 2 explored}
};

std::string Encode(const SeedMap& map) {
  std::string front;
  for (const std::string& name : map.names) {
    for (const char c : name) front += c == '\\' ? std::string("\\\\") : std::string(1, c);
    front += "\\.";  // a backslash before anything but a backslash ends the name
  }
  std::vector<int> back = {map.yellowCircles ? 1 : 0, static_cast<int>(map.names.size()) - 1,
                           map.start, static_cast<int>(map.links.size())};
  for (const auto& link : map.links) back.insert(back.end(), link.begin(), link.end());
  for (auto it = back.rbegin(); it != back.rend(); ++it) front += static_cast<char>(*it);
  return front;
}

}  // namespace

int main(int argc, char** argv) {
  const lanewright::fuzz::SeedFolder folder(argc, argv);
  const std::vector<SeedMap> maps = {
      {false, {"Sol", "Alpha", "CC"}, 0, {{0, 1, 2}, {1, 0, 2}, {0, 2, 0}}},
      {true, {"Sol", "Alpha", "DD"}, 0, {{0, 1, 2}, {1, 2, 1}}},
      {true, {"node", "Edge", "12", "-3.5", ".5", "1a"}, 2, {{0, 1, 2}, {2, 3, 2}, {4, 5, 2}}},
      {false,
       {"a b", "say \"hi\"", "back\\slash", "ends\\", "", "x"},
       4,
       {{0, 1, 2}, {2, 3, 2}, {4, 4, 2}, {5, 1, 0}}},
      {true,
       {"new\nline", "cr\rhere", "tab\there", "\xc3\xbc\xc3\xa9", "\xff\xfe", "%1"},
       0,
       {{0, 1, 2}, {1, 2, 2}, {3, 4, 2}, {5, 0, 2}, {2, 3, 0}}},
      {false,
       {"--", "->", "<b>html</b>", "a;b", "{x}", "[y]"},
       1,
       {{0, 1, 2}, {2, 3, 2}, {4, 5, 2}, {1, 0, 2}, {0, 2, 0}}},
      {true, {std::string(50, 'N'), std::string(25, '\x80') + "\xc3\xa4"}, 0, {{0, 1, 2}}},
  };
  for (std::size_t i = 0; i < maps.size(); ++i)
    folder.Write("map-" + std::to_string(i), Encode(maps[i]));
}
