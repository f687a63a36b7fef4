#pragma once

#include <string>
#include <string_view>

namespace lanewright {

// The stored destination without its class letter, exactly as read (a leading '?' kept).
// Empty for a destination of zero or one character.
std::string RawDestinationName(std::string_view destination);

// The destination name as the lists show it: RawDestinationName with a leading '?'
// replaced by 'X' (the name of an unexplored warp point). A '?' elsewhere stays.
std::string DestinationName(std::string_view destination);

// The class letter: the last character of the destination. A non-ASCII last character
// is not a class letter and gives '?'; an empty destination gives '\0'.
char ClassLetter(std::string_view destination);

}  // namespace lanewright
