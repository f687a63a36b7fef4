// Seeds for text_fuzzer: for each conversion a few inputs near its edges. The harness takes
// the conversion from the last byte and a length limit from the byte before it.

#include <string>
#include <vector>

#include "SeedFolder.h"

namespace {

// The harness's numbering of its conversions.
constexpr char kTextToNumber = 0, kNumberToText = 1, kRealToNumber = 2, kTextToText = 3, kUtf8 = 4,
               kUcs2 = 5, kDecode = 6, kPrintable = 7, kMessage = 8;

std::string Utf16(const std::u16string& text) {
  std::string bytes;
  for (const char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const lanewright::fuzz::SeedFolder folder(argc, argv);
  const std::string limit50(1, 50);
  const std::vector<std::string> seeds = {
      std::string("2147483647") + kTextToNumber,
      std::string("-2147483648") + kTextToNumber,
      std::string("+-1") + kTextToNumber,
      std::string("\x7f\xff\xff\xff\xff\xff\xff\xff", 8) + limit50 + kNumberToText,
      std::string("\x00\x00\x00\x80\x00\x00\xe0\x41", 8) + limit50 + kRealToNumber,
      std::string("\x00\x00\x00\x00\x00\x00\xf8\x7f", 8) + limit50 + kRealToNumber,
      std::string(48, 'x') + "\xc3\xa4\xe2\x82\xac" + limit50 + kTextToText,
      std::string("a\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80\xed\xa0\x80\xc0\xaf") + kUtf8,
      Utf16(u"\u00e4\u20ac\u0100\ufeffA\xd800") + kUcs2,
      std::string("\x81\x8d\x80\x9f\xff\xfe\x00\x41\x00\x42\x01", 11) + kDecode,
      std::string("tab\there\x1b[31m\xc2\x9b\x7f\xff") + kPrintable,
      std::string("line\nbreak \x1b[31m\xc2\x9b \xe2\x82\xac \xf0\x9f\x98\x80 \xed\xa0\x80") +
          kMessage,
  };
  for (std::size_t i = 0; i < seeds.size(); ++i)
    folder.Write("text-" + std::to_string(i), seeds[i]);
}
