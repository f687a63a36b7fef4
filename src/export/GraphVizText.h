#pragma once

#include <string>
#include <string_view>

#include "export/RangeIndex.h"

namespace lanewright {

// The whole map file: the header naming startSystem, with yellowCircles a style line for
// every node, one edge per link in ascending identifier order, and the closing brace. Every
// line ends in "\r\n". A name is written bare when it is a DOT identifier (letters, '_',
// digits and bytes from 0x80, not starting with a digit, not a keyword in any case) or a DOT
// numeral ("12", "-3.5", ".5"); any other name is quoted, with '"' and '\' escaped, so that
// GraphViz accepts the file and shows the name as it is.
std::string GraphVizText(const RangeIndex& index, const std::string& startSystem,
                         bool yellowCircles);

}  // namespace lanewright
