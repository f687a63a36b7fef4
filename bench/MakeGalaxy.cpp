// Writes a synthetic galaxy for timing the command line:
//   make_galaxy [--jet] FOLDER WARP_POINTS [SEED]
// prints the two corner systems on the first line, then one file path per line. With
// --jet, each SQLite file also gets a Jet4 copy beside it (same name, ".mdb", same rows in
// the same order), listed after the SQLite files.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "GalaxyGenerator.h"
#include "store/JetWriter.h"
#include "store/Table.h"

namespace {

using namespace lanewright::store;

// Copies the "Warp Points" rows of a SQLite file into a new Jet4 file, replacing it.
void WriteJetCopy(const std::string& from, const std::string& to) {
  StoreError err;
  const auto reader = OpenTable(from, "Warp Points", err);
  if (!reader) throw std::runtime_error(from + ": " + err.reason);
  JetTableSpec table{"Warp Points",
                     {{"Index", JetColumnType::LongInteger},
                      {"Empire", JetColumnType::LongInteger},
                      {"System", JetColumnType::Text, 50},
                      {"Destination", JetColumnType::Text, 50},
                      {"WP", JetColumnType::LongInteger}},
                     {}};
  Row row;
  HResult hr;
  while ((hr = reader->Next(row)) == S_OK) table.rows.push_back(row);
  if (hr != DB_S_ENDOFROWSET) throw std::runtime_error(from + ": " + reader->error().reason);
  std::filesystem::remove(to);
  if (const StoreError written = CreateJetDatabase(to, JetVersion::Jet4, {table}); written.Failed())
    throw std::runtime_error(to + ": " + written.reason);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool jet = !args.empty() && args.front() == "--jet";
  if (jet) args.erase(args.begin());
  if (args.size() < 2 || args.size() > 3) {
    std::fputs("usage: make_galaxy [--jet] FOLDER WARP_POINTS [SEED]\n", stderr);
    return 64;
  }
  lanewright::bench::GalaxyOptions options;
  options.warpPoints = std::atoi(args[1].c_str());
  if (args.size() > 2)
    options.seed = static_cast<std::uint32_t>(std::strtoul(args[2].c_str(), nullptr, 10));
  try {
    const auto galaxy = lanewright::bench::WriteGalaxy(args[0], options);
    std::printf("%s\t%s\n", galaxy.corner.c_str(), galaxy.farCorner.c_str());
    for (const auto& file : galaxy.files) std::printf("%s\n", file.c_str());
    if (jet) {
      for (const auto& file : galaxy.files) {
        const std::string copy = std::filesystem::path(file).replace_extension(".mdb").string();
        WriteJetCopy(file, copy);
        std::printf("%s\n", copy.c_str());
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_galaxy: %s\n", e.what());
    return 1;
  }
  return 0;
}
