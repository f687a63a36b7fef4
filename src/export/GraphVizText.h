#pragma once

#include <string>
#include <string_view>

namespace lanewright {

struct RangeIndex;

// name as a DOT identifier: unchanged when it is a bare identifier (letters, '_', digits
// and bytes from 0x80, not starting with a digit, not a DOT keyword in any case), else in
// double quotes with '"' and '\' escaped, so that GraphViz shows the name as it is.
std::string DotId(std::string_view name);

// The whole map file: the header naming startSystem, with yellowCircles a style line for
// every node, one edge per link, and the closing brace. Every line ends in "\r\n".
std::string GraphVizText(const RangeIndex& index, const std::string& startSystem,
                         bool yellowCircles);

}  // namespace lanewright
