#pragma once

#include <string>
#include <string_view>

namespace lanewright {

// The stored destination without its class letter, exactly as read (a leading '?' kept).
// Empty for a destination of zero or one character.
std::string_view RawDestinationNameView(std::string_view destination);

// A destination name as the lists show it: a leading '?' (an unexplored warp point) becomes
// 'X'. A '?' elsewhere stays.
std::string XName(std::string_view rawDestinationName);
inline bool IsUnexplored(std::string_view rawDestinationName) {
  return !rawDestinationName.empty() && rawDestinationName.front() == '?';
}

// The class letter: the last character of the destination. A non-ASCII last character
// is not a class letter and gives '?'; an empty destination gives '\0'.
char ClassLetter(std::string_view destination);

}  // namespace lanewright
