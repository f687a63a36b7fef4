#include <map>
#include <memory>

#include "app/Cli.h"
#include "orders/TurnEntryDatabase.h"

namespace lanewright::cli {

void AddInitTurnDbCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand("init-turn-db",
                                 "create an empty turn entry database (never overwrites a file)");
  auto path = std::make_shared<std::string>();
  auto format = std::make_shared<std::string>();
  cmd->add_option("PATH", *path, "the file to create")->required();
  cmd->add_option("--format", *format,
                  "jet4 (Access 2000-2003), jet3 (Access 97) or sqlite; "
                  "jet4 when PATH ends in .mdb, else sqlite")
      ->check(CLI::IsMember({"jet4", "jet3", "sqlite"}));
  cmd->callback([&context, path, format] {
    static const std::map<std::string, TurnEntryFormat> kFormats = {
        {"jet4", TurnEntryFormat::Jet4},
        {"jet3", TurnEntryFormat::Jet3},
        {"sqlite", TurnEntryFormat::Sqlite}};
    std::string chosen = *format;
    if (chosen.empty()) {
      const bool mdb = path->size() >= 4 && path->compare(path->size() - 4, 4, ".mdb") == 0;
      chosen = mdb ? "jet4" : "sqlite";
    }
    store::StoreError err;
    if (!CreateTurnEntryDatabase(*path, err, kFormats.at(chosen))) throw DataError(err.reason);
    context.outcome = Outcome::Ok;
  });
}

}  // namespace lanewright::cli
