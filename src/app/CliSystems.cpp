#include "app/Cli.h"

namespace lanewright::cli {

void AddSystemsCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand("systems", "list every system name of the files, byte-wise order");
  auto files = std::make_shared<std::vector<std::string>>();
  cmd->add_option("FILE", *files, "empire database files")->required();
  cmd->callback([&context, files] {
    StarMap starMap;
    SystemLists lists;
    LoadForCommand(*files, starMap, context.common, &lists);
    std::string out;
    for (const auto& name : lists.from) out += name + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    context.exitCode = kExitOk;
  });
}

}  // namespace lanewright::cli
