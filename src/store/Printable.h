#pragma once

#include <string>
#include <string_view>

namespace lanewright::store {

// A message for one line on a terminal or in a status line, with the names and paths it
// quotes made harmless: line breaks, tabs, escape sequences and other control characters,
// and bytes that are not UTF-8, are shown C style ("\n", "\t", "\x1b", "\xff"). Printable
// UTF-8 stays as it is. (Reports and the output box keep names byte for byte.)
std::string Printable(std::string_view text);

}  // namespace lanewright::store
