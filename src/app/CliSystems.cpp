#include "app/Cli.h"

namespace lanewright::cli {

void AddSystemsCommand(CLI::App& app, Context& context) {
  auto* cmd = app.add_subcommand("systems", "list every system name of the files, byte-wise order");
  auto files = std::make_shared<std::vector<std::string>>();
  cmd->add_option("FILE", *files, "empire database files")->required();
  cmd->callback([&context, files] {
    const SystemLists lists = LoadForCommand(*files, context);
    std::string out;
    for (const auto& name : lists.names) out += name + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    context.outcome = Outcome::Ok;
  });
}

}  // namespace lanewright::cli
