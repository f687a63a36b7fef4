#include <memory>

#include "app/Cli.h"
#include "orders/TurnEntryDatabase.h"

namespace lanewright::cli {

void AddInitTurnDbCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand("init-turn-db",
                                 "create an empty turn entry database (never overwrites a file)");
  auto path = std::make_shared<std::string>();
  cmd->add_option("PATH", *path, "the file to create")->required();
  cmd->callback([&context, path] {
    store::StoreError err;
    if (!CreateTurnEntryDatabase(*path, err)) throw DataError(err.reason);
    context.exitCode = kExitOk;
  });
}

}  // namespace lanewright::cli
