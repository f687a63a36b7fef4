#include "export/RangeCommands.h"

#include <fmt/format.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "export/GraphVizText.h"
#include "export/RangeIndex.h"
#include "store/ReplaceFile.h"

namespace lanewright {
namespace {

constexpr const char* kNoStart = "Please select starting point in first list.";
constexpr int kMaxJumps = 999;

std::string DirectWarpPoints(const RangeIndex& index, const std::string& startSystem) {
  std::string out;
  const auto start = index.Find(startSystem);
  if (!start) return out;
  for (const WarpLink& link : index.LinksFrom(*start))
    out += fmt::format("{} ({}: {})\r\n", index.Name(link.destination), link.warpClass,
                       link.warpPointId);
  return out;
}

std::string Levels(const RangeIndex& index, const std::string& startSystem, int jumps,
                   bool allSystems) {
  std::vector<std::vector<std::string_view>> byLevel(static_cast<std::size_t>(jumps) + 1);
  if (const auto start = index.Find(startSystem)) {
    // Breadth-first, so a system is recorded at its first and smallest jump count; the queue
    // may hold a system twice, the later copy is dropped when it comes out.
    std::vector<int> level(index.SystemCount(), -1);
    std::deque<std::pair<WarpNetwork::SystemId, int>> queue{{*start, 0}};
    while (!queue.empty()) {
      const auto [system, j] = queue.front();
      queue.pop_front();
      if (level[system] >= 0) continue;
      level[system] = j;
      byLevel[static_cast<std::size_t>(j)].push_back(index.Name(system));
      if (j + 1 > jumps) continue;
      for (const WarpLink& link : index.LinksFrom(system))
        if (level[link.destination] < 0) queue.emplace_back(link.destination, j + 1);
    }
  } else {
    // A name no warp point leaves or leads to: the start alone, at level 0.
    byLevel[0].push_back(startSystem);
  }

  std::string out;
  for (int l = allSystems ? 0 : jumps; l <= jumps; ++l) {
    auto& names = byLevel[static_cast<std::size_t>(l)];
    std::sort(names.begin(), names.end());
    for (std::string_view name : names) out += fmt::format("{}({})\r\n", name, l);
  }
  return out;
}

}  // namespace

store::StoreError BuildRangeIndex(const std::set<std::string>& databaseFiles,
                                  const std::set<std::string>& avoidSystems, EmpireRowSource& rows,
                                  RangeIndex& index, OutputBox& output) {
  std::vector<std::shared_ptr<const EmpireRows>> files;
  store::StoreError error;
  for (const auto& path : databaseFiles) {
    files.push_back(rows.Rows(path, error));
    if (!files.back()) {
      output.SetText(fmt::format("failed with hr={}", error.code));
      return error;
    }
  }
  index = BuildWarpNetwork(files, avoidSystems, NetworkRules{NetworkRules::Use::Range});
  return {};
}

store::StoreError FindSystemsInRange(StarMap& starMap, EmpireRowSource& rows,
                                     const std::optional<std::string>& startSystem,
                                     const std::set<std::string>& avoidSelection, int jumps,
                                     bool allSystems, OutputBox& output) {
  if (!startSystem) {
    output.SetText(kNoStart);
    return {};
  }
  // The spin box allows 0..999; a caller outside that range gets its nearest end.
  jumps = std::clamp(jumps, 0, kMaxJumps);
  starMap.avoidSystems = avoidSelection;
  output.Clear();

  RangeIndex index;
  const store::StoreError error =
      BuildRangeIndex(starMap.databaseFiles, starMap.avoidSystems, rows, index, output);
  if (error.Failed()) return error;

  // Whole text at once: a widget that re-lays out on every append would be slow for
  // large listings, and the result is the same.
  output.Append(jumps == 1 ? DirectWarpPoints(index, *startSystem)
                           : Levels(index, *startSystem, jumps, allSystems));
  return {};
}

ExportResult ExportGraphViz(StarMap& starMap, EmpireRowSource& rows,
                            const std::optional<std::string>& startSystem,
                            const std::set<std::string>& avoidSelection, bool yellowCircles,
                            const std::string& targetPath, OutputBox& output, int descriptor) {
  ExportResult result;
  starMap.avoidSystems = avoidSelection;
  if (!startSystem) {
    output.SetText(kNoStart);
    return result;
  }
  output.Clear();

  RangeIndex index;
  result.error = BuildRangeIndex(starMap.databaseFiles, starMap.avoidSystems, rows, index, output);
  if (result.error.Failed()) return result;

  const std::string text = GraphVizText(index, *startSystem, yellowCircles);
  const store::ReplaceFileResult written = descriptor >= 0
                                               ? store::WriteToDescriptor(descriptor, text)
                                               : store::ReplaceFile(targetPath, text);
  switch (written.status) {
    case store::ReplaceFileResult::Status::Written:
      result.written = true;
      output.SetText(fmt::format(
          "Data saved to file {0}.\r\nYou can generate a map with one of the following GraphViz "
          "commands:\r\n  dot -Tpng {0} -o map.png\r\n  neato -Tpng {0} -o map.png\r\n",
          targetPath));
      break;
    case store::ReplaceFileResult::Status::OpenFailed:
      output.SetText(fmt::format("could not open file {}", targetPath));
      result.error = {store::E_FAIL,
                      fmt::format("could not open {} for writing: {}", targetPath, written.reason)};
      break;
    case store::ReplaceFileResult::Status::WriteFailed:
      // The old file, if any, is still there untouched; saying "saved" would be a lie.
      output.SetText(fmt::format("could not write file {}", targetPath));
      result.error = {store::E_FAIL,
                      fmt::format("could not write {}: {}; the file was left as it was", targetPath,
                                  written.reason)};
      break;
  }
  return result;
}

}  // namespace lanewright
