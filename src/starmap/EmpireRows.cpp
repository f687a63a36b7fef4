#include "starmap/EmpireRows.h"

#include <algorithm>
#include <unordered_set>

#include "starmap/NameRules.h"
#include "store/BoundReader.h"

namespace lanewright {

std::shared_ptr<const EmpireRows> ReadEmpireRows(const std::string& path, store::StoreError& err) {
  using store::Binding;
  const std::optional<FileIdentity> before = IdentityOf(path);
  store::BoundReader reader;
  if (reader.Open(path, "Warp Points",
                  {{Binding::Kind::Int32},
                   {Binding::Kind::Int32},
                   {Binding::Kind::Text, 50},
                   {Binding::Kind::Text, 50},
                   {Binding::Kind::Int32}}) != store::S_OK) {
    err = reader.error();
    return nullptr;
  }

  auto rows = std::make_shared<EmpireRows>();
  rows->path_ = path;
  if (before) rows->identity_ = *before;
  // The first empire seen per system name, and the rarer further ones, give the distinct
  // (system, empire) pairs without a set lookup per row.
  constexpr std::int64_t kNone = std::int64_t{1} << 40;
  std::vector<std::int64_t> firstEmpire;
  std::unordered_set<std::uint64_t> furtherPairs;
  std::vector<std::int32_t> empires;

  std::vector<store::BoundField> values;
  store::HResult hr;
  while ((hr = reader.MoveNext(values)) == store::S_OK) {
    WarpPoint row;
    row.empire = values[1].number;
    row.system = rows->names_.Intern(values[2].text);
    const std::string_view destination = values[3].text;
    row.hasDestination = !destination.empty();
    row.destination = rows->names_.Intern(RawDestinationNameView(destination));
    row.warpClass = ClassLetter(destination);
    row.warpPointId = values[4].number;
    rows->rows_.push_back(row);

    if (firstEmpire.size() <= row.system) firstEmpire.resize(rows->names_.size(), kNone);
    if (firstEmpire[row.system] == kNone) {
      firstEmpire[row.system] = row.empire;
      rows->systemEmpires_.emplace_back(row.system, row.empire);
    } else if (firstEmpire[row.system] != row.empire &&
               furtherPairs
                   .insert(std::uint64_t{row.system} << 32 | static_cast<std::uint32_t>(row.empire))
                   .second) {
      rows->systemEmpires_.emplace_back(row.system, row.empire);
    }
    // A file is mostly one empire's: remembering the last one spares most set lookups.
    if (empires.empty() || empires.back() != row.empire) empires.push_back(row.empire);
  }
  if (hr < 0) {
    err = reader.error();
    return nullptr;
  }
  rows->skipped_ = reader.SkippedRows();
  std::sort(empires.begin(), empires.end());
  empires.erase(std::unique(empires.begin(), empires.end()), empires.end());
  rows->empires_ = std::move(empires);
  rows->rows_.shrink_to_fit();
  // A file rewritten while it was read may be a mixture: use it, but read it again next time.
  if (IdentityOf(path) != before) rows->identity_ = FileIdentity{};
  return rows;
}

std::shared_ptr<const EmpireRows> EmpireRowSource::Rows(const std::string& path,
                                                        store::StoreError& err) {
  const std::optional<FileIdentity> now = IdentityOf(path);
  if (const auto it = kept_.find(path); it != kept_.end()) {
    if (now && it->second->Identity() == *now) return it->second;
    kept_.erase(it);
  }
  std::shared_ptr<const EmpireRows> rows = ReadEmpireRows(path, err);
  if (rows && rows->Identity() != FileIdentity{}) kept_.emplace(path, rows);
  return rows;
}

}  // namespace lanewright
