#pragma once

#include <string>
#include <vector>

namespace lanewright::testing {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs the lanewright binary (its path comes from $LANEWRIGHT_BINARY) with args, no stdin.
ProcessResult RunLanewright(const std::vector<std::string>& args);

// Runs any program with args (argv[0] = program), capturing both outputs.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args);

}  // namespace lanewright::testing
