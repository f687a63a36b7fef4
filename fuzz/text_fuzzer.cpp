// The program's own text conversions: the conversions of bound columns, the Jet text
// encoders, and the escaping of names in messages. The last input byte picks the
// conversion; the rest is its input. Each is checked against a plain reference or by its
// round trip.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "store/BoundReader.h"
#include "store/JetFormat.h"
#include "store/Printable.h"

namespace {

namespace store = lanewright::store;
namespace jet = lanewright::store::jet;

// The bound-column conversions, in one place.
std::optional<std::int32_t> ToInt32(const store::Cell& cell) {
  std::int32_t out = 0;
  if (!store::ConvertToInt32(cell, out)) return std::nullopt;
  return out;
}
std::optional<std::string> ToText(const store::Cell& cell, std::size_t maxChars) {
  std::string out;
  if (!store::ConvertToText(cell, maxChars, out)) return std::nullopt;
  return out;
}

void Require(bool ok, const char* what, std::string_view input) {
  if (ok) return;
  std::fprintf(stderr, "text: %s; input:", what);
  for (const char c : input) std::fprintf(stderr, " %02X", static_cast<unsigned char>(c));
  std::fprintf(stderr, "\n");
  std::abort();
}

std::string_view Bytes(const std::u16string& text) {
  return {reinterpret_cast<const char*>(text.data()), text.size() * 2};
}
std::string_view Bytes(const jet::Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Well-formed UTF-8 as the Unicode standard defines it (shortest forms, no surrogates, at
// most U+10FFFF); maxLength is the longest sequence allowed.
bool IsUtf8(std::string_view s, std::size_t maxLength) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t length = b < 0x80   ? 1
                               : b < 0xC2 ? 0
                               : b < 0xE0 ? 2
                               : b < 0xF0 ? 3
                               : b < 0xF5 ? 4
                                          : 0;
    // The allowed range of the second byte.
    const unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || length > maxLength || i + length > s.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if (k == 1 ? (c < low || c > high) : !IsContinuation(c)) return false;
    }
    i += length;
  }
  return true;
}

// A decimal number with an optional sign, as the reference for text-to-number.
std::optional<std::int64_t> ReferenceNumber(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min<std::int64_t>(value * 10 + (c - '0'), std::int64_t{1} << 40);
  }
  return negative ? -value : value;
}

bool InInt32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

using Input = FuzzedDataProvider;

// A length limit for a conversion to text, taken before the value.
std::size_t MaxChars(Input& in) { return in.ConsumeIntegralInRange<std::size_t>(0, 60); }

void CheckTextToNumber(Input& in) {
  const std::string s = in.ConsumeRemainingBytesAsString();
  const auto got = ToInt32(store::Cell{s});
  const auto expected = ReferenceNumber(s);
  if (expected && InInt32(*expected)) {
    Require(got && *got == *expected, "a decimal number in range does not convert", s);
  } else {
    Require(!got, "a text that is no 32-bit number converts", s);
  }
}

void CheckNumberToText(Input& in) {
  const std::size_t maxChars = MaxChars(in);
  const auto n = in.ConsumeIntegral<std::int64_t>();
  const std::string input = std::to_string(n);
  const auto number = ToInt32(store::Cell{n});
  Require(number.has_value() == InInt32(n) && (!number || *number == n),
          "a whole number converts wrongly", input);
  const auto text = ToText(store::Cell{n}, maxChars);
  Require(text.has_value() == (input.size() <= maxChars) && (!text || *text == input),
          "a whole number's text is wrong", input);
}

void CheckRealToNumberAndText(Input& in) {
  const std::size_t maxChars = MaxChars(in);
  // Any bit pattern, so that infinities, NaNs and subnormals come too.
  auto bits = in.ConsumeBytes<std::uint8_t>(sizeof(double));
  bits.resize(sizeof(double));
  double d = 0;
  std::memcpy(&d, bits.data(), sizeof d);
  const std::string input(reinterpret_cast<const char*>(&d), sizeof d);
  const auto number = ToInt32(store::Cell{d});
  const bool whole =
      std::isfinite(d) && std::trunc(d) == d && d >= -2147483648.0 && d <= 2147483647.0;
  Require(number.has_value() == whole && (!number || *number == d),
          "a floating point number converts wrongly", input);
  if (const auto text = ToText(store::Cell{d}, maxChars)) {
    Require(text->size() <= maxChars, "a number's text is longer than allowed", input);
    const double back = std::strtod(text->c_str(), nullptr);
    Require(back == d || (std::isnan(back) && std::isnan(d)),
            "a number's text does not read back as the number", input);
  }
}

void CheckTextToText(Input& in) {
  const std::size_t maxChars = MaxChars(in);
  const std::string s = in.ConsumeRemainingBytesAsString();
  const auto text = ToText(store::Cell{s}, maxChars);
  Require(text.has_value() == (store::Utf8Length(s) <= maxChars) && (!text || *text == s),
          "a text converts wrongly", s);
  const std::string prefix = store::Utf8Prefix(s, maxChars);
  Require(s.compare(0, prefix.size(), prefix) == 0, "a prefix that is not a prefix", s);
  Require(store::Utf8Length(prefix) == std::min(store::Utf8Length(s), maxChars),
          "a prefix of the wrong length", s);
  Require(
      prefix.size() == s.size() || !IsContinuation(static_cast<unsigned char>(s[prefix.size()])),
      "a prefix that splits a character", s);
}

void CheckUtf8ToUcs2(Input& in) {
  const std::string s = in.ConsumeRemainingBytesAsString();
  std::u16string ucs2;
  std::string why;
  const bool ok = jet::Utf8ToUcs2(s, ucs2, why);
  const bool startsWithMark = s.rfind("\xEF\xBB\xBF", 0) == 0;  // U+FEFF
  Require(ok == (IsUtf8(s, 3) && s.find('\0') == std::string::npos && !startsWithMark),
          "UTF-8 accepted or refused wrongly", s);
  if (ok) {
    Require(jet::Ucs2ToUtf8(ucs2) == s, "UTF-8 does not come back from UCS-2", s);
  } else {
    Require(!why.empty(), "UTF-8 refused without a reason", s);
  }
}

void CheckUcs2(Input& in) {
  std::u16string text;
  while (in.remaining_bytes() >= 2) text.push_back(in.ConsumeIntegral<char16_t>());
  const std::string input(Bytes(text));
  const std::string utf8 = jet::Ucs2ToUtf8(text);
  Require(IsUtf8(utf8, 4), "UCS-2 gives text that is not UTF-8", input);
  std::u16string back;
  std::string why;
  const bool surrogates =
      std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; });
  const bool nul = text.find(u'\0') != std::u16string::npos;
  if (!surrogates && !nul && (text.empty() || text.front() != 0xFEFF))
    Require(jet::Utf8ToUcs2(utf8, back, why) && back == text, "UCS-2 does not come back", input);

  if (const auto cp = jet::EncodeCp1252(text))
    Require(jet::DecodeCp1252(cp->data(), cp->size()) == text, "code page 1252 does not come back",
            input);

  if (const auto packed = jet::CompressUcs2(text)) {
    Require(packed->size() < text.size() * 2, "compressed text is not shorter", input);
    Require(jet::DecodeJet4Text(packed->data(), packed->size()) == text,
            "compressed text does not come back", input);
  }
  // A plain UCS-2 value that starts with U+FEFF looks like the marker of the compressed
  // form (Utf8ToUcs2 refuses such texts, so the writer never stores one), so only the
  // other values must come back from it.
  if (text.empty() || text.front() != 0xFEFF) {
    const jet::Bytes plain = jet::EncodeUcs2(text);
    Require(jet::DecodeJet4Text(plain.data(), plain.size()) == text,
            "plain UCS-2 does not come back", input);
  }
}

void CheckDecoders(Input& in) {
  const std::string bytes = in.ConsumeRemainingBytesAsString();
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::u16string cp = jet::DecodeCp1252(data, bytes.size());
  Require(cp.size() == bytes.size(), "code page 1252 gives one character per byte", bytes);
  if (const auto again = jet::EncodeCp1252(cp))
    Require(std::string(Bytes(*again)) == bytes, "code page 1252 bytes do not come back", bytes);
  const std::u16string jet4 = jet::DecodeJet4Text(data, bytes.size());
  Require(jet4.size() <= bytes.size(), "Jet4 text longer than its bytes", bytes);
}

bool HasControls(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const bool c1 = c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0;
    if (c < 0x20 || c == 0x7F || c1) return true;
  }
  return false;
}

// Names in messages (the Jet writer's cut to 40 characters, the rest whole): no control
// character (C1 included) and nothing but UTF-8 comes out, and a text without either
// comes out as it is.
template <bool cut>
void CheckPrintable(Input& in) {
  const std::string s = in.ConsumeRemainingBytesAsString();
  const std::string out = cut ? jet::Printable(s) : store::Printable(s);
  Require(IsUtf8(out, 4) && !HasControls(out), "a message that is not printable UTF-8", s);
  if (!cut && !HasControls(s) && IsUtf8(s, 4))
    Require(out == s, "a harmless text changed in a message", s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static void (*const checks[])(Input&) = {
      CheckTextToNumber, CheckNumberToText,    CheckRealToNumberAndText,
      CheckTextToText,   CheckUtf8ToUcs2,      CheckUcs2,
      CheckDecoders,     CheckPrintable<true>, CheckPrintable<false>};
  Input input(data, size);
  checks[input.ConsumeIntegralInRange<int>(0, 8)](input);
  return 0;
}
