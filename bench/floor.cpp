// The floor: the plainest program that does the work of `lanewright route --one-way`, for
// timing Lanewright against it. It reads the "Warp Points" rows of SQLite files with a bare
// prepare/step loop, builds the same graph as Lanewright's route search with standard
// containers and a Boost adjacency list, and runs Boost's Dijkstra from the start.
//
//   floor --by jumps|class|fuel --from A --to B FILE...
//
// Prints the route as "SYSTEM -> DEST WP: ID (CLASS)" lines and then
// "Costs: Length: N WPs: N Fuel: N". Exit 0 with a route, 1 when B cannot be reached from
// A, 2 on bad arguments or a file that cannot be read.
//
// Among equally cheap routes it may pick another one than Lanewright; the cost in the
// chosen mode is what must agree (bench/compare-floor checks that on every run).
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

enum class Mode { Jumps, Class, Fuel };

int ClassPoints(char c) { return std::max(0, static_cast<unsigned char>(c) - 64); }

int FuelValue(char c) {
  static constexpr std::array<int, 17> kFuel = {1,  2,   4,   9,   16, 25, 36, 49, 64,
                                                81, 100, 121, 144, 0,  0,  0,  0};
  return c >= 'A' && c <= 'Q' ? kFuel[static_cast<std::size_t>(c - 'A')] : 0;
}

int Cost(Mode mode, char c) {
  switch (mode) {
    case Mode::Class:
      return ClassPoints(c);
    case Mode::Fuel:
      return FuelValue(c);
    case Mode::Jumps:
      break;
  }
  return 1;
}

struct Link {
  int from;
  int to;
  std::int32_t id;
  char warpClass;
};

struct EdgeData {
  int weight;
  std::size_t link;
};

using Graph =
    boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS, boost::no_property, EdgeData>;

struct Builder {
  std::unordered_map<std::string, int> ids;
  std::vector<const std::string*> names;
  std::vector<Link> links;
  std::unordered_set<std::int32_t> exploredIds;
  std::unordered_set<std::int32_t> unexploredIds;
  std::vector<Link> unexplored;

  int Intern(const std::string& name) {
    const auto [it, added] = ids.try_emplace(name, static_cast<int>(names.size()));
    if (added) names.push_back(&it->first);
    return it->second;
  }

  // The empire column does not matter here: later rows of a warp point would only add
  // their empire to it, and the floor prints no empires.
  void AddRow(std::string_view system, std::string_view destination, std::int32_t id) {
    if (destination.empty()) return;
    // The last UTF-8 character is the class letter; a non-ASCII one is no letter.
    std::size_t last = 1;
    while (last < destination.size() && last < 4 &&
           (static_cast<unsigned char>(destination[destination.size() - last]) & 0xC0) == 0x80)
      ++last;
    const unsigned char lastByte = static_cast<unsigned char>(destination.back());
    const char warpClass = last > 1 || lastByte >= 0x80 ? '?' : static_cast<char>(lastByte);
    std::string name(destination.substr(0, destination.size() - last));
    const bool isUnexplored = !name.empty() && name.front() == '?';
    if (isUnexplored) {
      if (!unexploredIds.insert(id).second) return;
      name.front() = 'X';
    } else if (!exploredIds.insert(id).second) {
      return;
    }
    const Link link{Intern(std::string(system)), Intern(name), id, warpClass};
    (isUnexplored ? unexplored : links).push_back(link);
  }

  void Finish() {
    for (const Link& link : unexplored)
      if (!exploredIds.contains(link.id)) links.push_back(link);
  }
};

std::string_view Text(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string_view(text) : std::string_view();  // ends at a NUL, as Lanewright's
}

bool ReadFile(const std::string& path, Builder& builder) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  bool ok = rc == SQLITE_OK && sqlite3_prepare_v2(db, "SELECT * FROM \"Warp Points\"", -1, &stmt,
                                                  nullptr) == SQLITE_OK;
  int step = SQLITE_DONE;
  while (ok && (step = sqlite3_step(stmt)) == SQLITE_ROW) {
    // Lanewright skips unreadable rows (a missing value, a text over 50 characters, a value
    // that does not convert). The generated galaxies have none; only the first is checked.
    bool complete = true;
    for (int c = 1; c <= 4; ++c) complete = complete && sqlite3_column_type(stmt, c) != SQLITE_NULL;
    if (complete) builder.AddRow(Text(stmt, 2), Text(stmt, 3), sqlite3_column_int(stmt, 4));
  }
  ok = ok && step == SQLITE_DONE;
  if (!ok) std::fprintf(stderr, "floor: %s: %s\n", path.c_str(), sqlite3_errmsg(db));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return ok;
}

int Usage() {
  std::fputs("usage: floor --by jumps|class|fuel --from A --to B FILE...\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string by, from, to;
  std::set<std::string> files;  // byte order of the paths, each file once
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string* value = arg == "--by"     ? &by
                         : arg == "--from" ? &from
                         : arg == "--to"   ? &to
                                           : nullptr;
    if (value) {
      if (++i == argc) return Usage();
      *value = argv[i];
    } else {
      files.insert(argv[i]);
    }
  }
  Mode mode;
  if (by == "jumps")
    mode = Mode::Jumps;
  else if (by == "class")
    mode = Mode::Class;
  else if (by == "fuel")
    mode = Mode::Fuel;
  else
    return Usage();
  if (files.empty()) return Usage();

  Builder builder;
  for (const std::string& path : files)
    if (!ReadFile(path, builder)) return 2;
  builder.Finish();

  const auto start = builder.ids.find(from);
  const auto goal = builder.ids.find(to);
  if (start == builder.ids.end() || goal == builder.ids.end()) {
    std::fprintf(stderr, "floor: no route from \"%s\" to \"%s\"\n", from.c_str(), to.c_str());
    return 1;
  }

  Graph graph(builder.names.size());
  for (std::size_t i = 0; i < builder.links.size(); ++i) {
    const Link& link = builder.links[i];
    boost::add_edge(link.from, link.to, EdgeData{Cost(mode, link.warpClass), i}, graph);
  }
  std::vector<long long> distance(builder.names.size());
  std::vector<Graph::edge_descriptor> via(builder.names.size());
  boost::dijkstra_shortest_paths(
      graph, start->second,
      boost::weight_map(boost::get(&EdgeData::weight, graph))
          .distance_map(distance.data())
          .visitor(boost::make_dijkstra_visitor(
              boost::record_edge_predecessors(via.data(), boost::on_edge_relaxed()))));
  if (distance[goal->second] == std::numeric_limits<long long>::max()) {
    std::fprintf(stderr, "floor: no route from \"%s\" to \"%s\"\n", from.c_str(), to.c_str());
    return 1;
  }

  std::vector<const Link*> route;
  for (int v = goal->second; v != start->second; v = static_cast<int>(boost::source(via[v], graph)))
    route.push_back(&builder.links[graph[via[v]].link]);
  std::reverse(route.begin(), route.end());
  long long classPoints = 0, fuel = 0;
  for (const Link* link : route) {
    std::printf("%s -> %s WP: %d (%c)\n", builder.names[link->from]->c_str(),
                builder.names[link->to]->c_str(), link->id, link->warpClass);
    classPoints += ClassPoints(link->warpClass);
    fuel += FuelValue(link->warpClass);
  }
  std::printf("Costs: Length: %zu WPs: %lld Fuel: %lld\n", route.size(), classPoints, fuel);
  return 0;
}
