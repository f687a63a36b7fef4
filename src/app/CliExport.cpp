#include <unistd.h>

#include <memory>
#include <set>

#include "app/Cli.h"
#include "export/RangeCommands.h"

namespace lanewright::cli {

void AddExportDotCommand(CLI::App& app, Context& context) {
  struct Options {
    std::string from;
    bool yellowCircles = false;
    std::vector<std::string> avoid;
    std::string output;
    std::vector<std::string> files;
  };
  auto options = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("export-dot", "write the warp point network as a GraphViz file");
  cmd->add_option("--from", options->from, "start system, named first in the file")->required();
  cmd->add_flag("--yellow-circles", options->yellowCircles, "draw every system as a yellow circle");
  cmd->add_option("--avoid", options->avoid, "a system to leave out (repeatable)")
      ->allow_extra_args(false);
  cmd->add_option("--output", options->output,
                  "the file to write (replaced if it exists; - for standard output)")
      ->required();
  cmd->add_option("FILE", options->files, "empire database files")->required();
  cmd->callback([&context, options] {
    const SystemLists lists = LoadForCommand(options->files, context);
    RequireKnownName("--from", options->from, lists.InFrom(options->from));

    // "-" is standard output: the map goes there, and what the output box says goes to
    // standard error, so that the map can be piped on.
    const bool toStdout = options->output == "-";
    StringOutputBox output;
    const ExportResult result = ExportGraphViz(
        context.starMap, context.rows, options->from,
        std::set<std::string>(options->avoid.begin(), options->avoid.end()), options->yellowCircles,
        options->output, output, toStdout ? STDOUT_FILENO : -1);
    PrintOutput(output.Text(), context.common, toStdout ? stderr : stdout);
    if (result.error.Failed() || !result.written) throw DataError(result.error.reason);
    context.outcome = Outcome::Ok;
  });
}

}  // namespace lanewright::cli
