#include "export/RangeIndex.h"

#include <fmt/format.h>

#include "starmap/EmpireDatabase.h"
#include "starmap/NameRules.h"

namespace lanewright {
namespace {

// Byte length of the UTF-8 character that starts text (1 for a stray continuation byte,
// never more than text holds).
std::size_t FirstCharLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text.front());
  std::size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(n, text.size());
}

}  // namespace

std::string UnexploredName(std::string_view rawDestination, std::int32_t warpPointId) {
  std::string_view rest = rawDestination.substr(1);
  // A bare "?" has no character to name the leaf after; the identifier alone still
  // tells the warp points apart.
  return fmt::format("{}{}", rest.substr(0, FirstCharLength(rest)), warpPointId);
}

store::StoreError BuildRangeIndex(const std::set<std::string>& databaseFiles,
                                  const std::set<std::string>& avoidSystems, RangeIndex& index,
                                  OutputBox& output) {
  index = RangeIndex{};
  std::map<std::int32_t, WarpLink> explored;
  std::map<std::int32_t, WarpLink> unexplored;

  for (const auto& path : databaseFiles) {
    EmpireDatabase db;
    db.record.dbFile = path;
    const store::HResult hr = db.Open();
    if (hr != store::S_OK) {
      output.SetText(fmt::format("failed with hr={}", hr));
      store::StoreError error = db.error();
      error.code = hr;
      if (error.reason.empty()) error.reason = fmt::format("could not open {}", path);
      return error;
    }
    // A file damaged part-way ends its rows early; the load has already told the user.
    while (db.MoveNext() == store::S_OK) {
      const WarpPoint& row = db.record;
      std::string name = RawDestinationName(row.destination);
      if (name.empty()) continue;
      if (avoidSystems.count(row.system) != 0 || avoidSystems.count(name) != 0) continue;

      const bool isUnexplored = name.front() == '?';
      auto& target = isUnexplored ? unexplored : explored;
      auto found = target.find(row.warpPointId);
      if (found != target.end()) {
        // The first row read for an identifier keeps its names and class; later explored
        // rows only add their empire.
        if (!isUnexplored) found->second.empires.insert(row.empire);
        continue;
      }
      if (isUnexplored) name = UnexploredName(name, row.warpPointId);
      WarpLink link;
      link.destination = std::move(name);
      link.system = row.system;
      link.warpPointId = row.warpPointId;
      link.warpClass = ClassLetter(row.destination);
      link.empires.insert(row.empire);
      target.emplace_hint(found, row.warpPointId, std::move(link));
    }
    db.Release();
  }

  index.links = std::move(explored);
  for (auto& [id, link] : unexplored) {
    if (index.links.count(id) != 0) {
      index.shadowed.push_back(std::move(link));
    } else {
      index.links.emplace(id, std::move(link));
    }
  }
  for (const auto& [id, link] : index.links) index.bySystem[link.system].push_back(&link);
  return {};
}

const std::vector<const WarpLink*>& RangeIndex::LinksFrom(std::string_view system) const {
  static const std::vector<const WarpLink*> kNone;
  const auto found = bySystem.find(system);
  return found == bySystem.end() ? kNone : found->second;
}

}  // namespace lanewright
