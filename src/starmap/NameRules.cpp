#include "starmap/NameRules.h"

namespace lanewright {
namespace {

// Byte length of the last UTF-8 character of text (0 for an empty text).
std::size_t LastCharLength(std::string_view text) {
  if (text.empty()) return 0;
  std::size_t n = 1;
  while (n < text.size() && n < 4 &&
         (static_cast<unsigned char>(text[text.size() - n]) & 0xC0) == 0x80)
    ++n;
  return n;
}

}  // namespace

std::string_view RawDestinationNameView(std::string_view destination) {
  return destination.substr(0, destination.size() - LastCharLength(destination));
}

std::string XName(std::string_view rawDestinationName) {
  std::string name(rawDestinationName);
  if (IsUnexplored(name)) name.front() = 'X';
  return name;
}

char ClassLetter(std::string_view destination) {
  const std::size_t n = LastCharLength(destination);
  if (n == 0) return '\0';
  if (n > 1 || static_cast<unsigned char>(destination.back()) >= 0x80) return '?';
  return destination.back();
}

}  // namespace lanewright
