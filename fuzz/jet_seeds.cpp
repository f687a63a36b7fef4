// jet_seeds OUTDIR: writes the seed corpus of jet_fuzzer, valid Jet3 and Jet4 files with a
// "Warp Points" table, made by the program's own Jet writer. Small on purpose: a Jet4 file
// of this writer's layout is six pages of 4 KiB at least.

#include <cstdio>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "store/JetWriter.h"

namespace {

using namespace lanewright::store;

JetTableSpec WarpPoints(int rows, bool withNulls) {
  JetTableSpec t{"Warp Points",
                 {{"Index", JetColumnType::LongInteger},
                  {"Empire", JetColumnType::Integer},
                  {"System", JetColumnType::Text, 50},
                  {"Destination", JetColumnType::Text, 50},
                  {"WP", JetColumnType::LongInteger}},
                 {}};
  for (int i = 0; i < rows; ++i) {
    Cell system = "System " + std::to_string(i);
    if (withNulls && i % 3 == 0) system = std::monostate{};
    // Names outside ASCII keep Jet4 text in plain UCS-2 beside the compressed form.
    const std::string destination =
        i % 4 == 0 ? "Größe " + std::to_string(i) + "A" : "Dest " + std::to_string(i + 1) + "B";
    t.rows.push_back(
        {std::int64_t{i}, std::int64_t{3 + i % 2}, system, destination, std::int64_t{i * 10}});
  }
  return t;
}

JetTableSpec Fleets() {
  return {"Fleets",
          {{"Empire", JetColumnType::Integer},
           {"Fleet", JetColumnType::Text, 50},
           {"Tag", JetColumnType::Binary, 8},
           {"Size", JetColumnType::Byte}},
          {{std::int64_t{3}, std::string("Home Fleet"), Blob{{1, 2, 3}}, std::int64_t{7}},
           {std::int64_t{7}, std::monostate{}, std::monostate{}, std::int64_t{255}}}};
}

}  // namespace

int main(int argc, char** argv) {
  const lanewright::fuzz::SeedFolder folder(argc, argv);
  struct Seed {
    const char* name;
    JetVersion version;
    std::vector<JetTableSpec> tables;
  };
  const std::vector<Seed> seeds = {
      {"jet3-small.mdb", JetVersion::Jet3, {WarpPoints(5, false)}},
      {"jet4-small.mdb", JetVersion::Jet4, {WarpPoints(5, false)}},
      {"jet3-two-tables.mdb", JetVersion::Jet3, {WarpPoints(12, true), Fleets()}},
      {"jet4-two-tables.mdb", JetVersion::Jet4, {Fleets(), WarpPoints(12, true)}},
      {"jet3-two-pages.mdb", JetVersion::Jet3, {WarpPoints(60, false)}},
      {"jet4-empty.mdb", JetVersion::Jet4, {WarpPoints(0, false)}},
  };
  for (const auto& s : seeds) {
    std::remove(folder.Path(s.name).c_str());
    const StoreError err = CreateJetDatabase(folder.Path(s.name), s.version, s.tables);
    if (err.Failed()) folder.Fail(s.name, err.reason);
  }
}
