#pragma once

#include <string>
#include <vector>

namespace lanewright::testing {

struct ProcessResult {
  int exitCode = -1;  // 128 + the signal when a signal ended it
  std::string out;
  std::string err;
  double seconds = 0;  // from start to end
  long maxRssKb = 0;   // the most memory it held at once
};

// Runs the lanewright binary (its path comes from $LANEWRIGHT_BINARY) with args, no stdin.
ProcessResult RunLanewright(const std::vector<std::string>& args);

// Runs any program with args (argv[0] = program), capturing both outputs.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args);

// Starts the lanewright binary once per entry of runs, all at the same time, and waits for
// every one of them.
std::vector<ProcessResult> RunLanewrightAtOnce(const std::vector<std::vector<std::string>>& runs);

}  // namespace lanewright::testing
