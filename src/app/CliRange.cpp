#include <memory>
#include <set>

#include "app/Cli.h"
#include "export/RangeCommands.h"

namespace lanewright::cli {

void AddRangeCommand(CLI::App& app, Context& context) {
  struct Options {
    std::string from;
    int jumps = 5;
    bool all = false;
    std::vector<std::string> avoid;
    std::vector<std::string> files;
  };
  auto options = std::make_shared<Options>();
  auto* cmd = app.add_subcommand(
      "range", "list the systems within N jumps of a system (N = 1: the warp points leaving it)");
  cmd->add_option("--from", options->from, "start system")->required();
  cmd->add_option("--jumps", options->jumps, "N, 0 to 999 (default 5)")->check(CLI::Range(0, 999));
  cmd->add_flag("--all", options->all, "list every level from the start system up to N");
  cmd->add_option("--avoid", options->avoid, "a system to leave out (repeatable)")
      ->allow_extra_args(false);
  cmd->add_option("FILE", options->files, "empire database files")->required();
  cmd->callback([&context, options] {
    const SystemLists lists = LoadForCommand(options->files, context);
    RequireKnownName("--from", options->from, lists.InFrom(options->from));

    StringOutputBox output;
    const store::StoreError error =
        FindSystemsInRange(context.starMap, context.rows, options->from,
                           std::set<std::string>(options->avoid.begin(), options->avoid.end()),
                           options->jumps, options->all, output);
    PrintOutput(output.Text(), context.common);
    if (error.Failed()) throw DataError(error.reason);
    context.outcome = Outcome::Ok;
  });
}

}  // namespace lanewright::cli
