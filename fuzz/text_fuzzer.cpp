// The program's own text conversions: the conversions of bound columns, the Jet text
// encoders, and the escaping of names in messages. The first input byte picks the conversion; the
// rest is its input. Each is checked against a plain reference or by its round trip.

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
std::size_t Length(const std::string& text) { return store::Utf8Length(text); }
std::string Prefix(const std::string& text, std::size_t maxChars) {
  return store::Utf8Prefix(text, maxChars);
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
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (b < 0x80) {
      length = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (length > maxLength || i + length > s.size()) return false;
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

void CheckTextToNumber(const std::string& s) {
  const auto got = ToInt32(store::Cell{s});
  const auto expected = ReferenceNumber(s);
  if (expected && InInt32(*expected)) {
    Require(got && *got == *expected, "a decimal number in range does not convert", s);
  } else {
    Require(!got, "a text that is no 32-bit number converts", s);
  }
}

void CheckNumberToText(std::int64_t n, std::size_t maxChars) {
  const std::string input = std::to_string(n);
  const auto number = ToInt32(store::Cell{n});
  Require(number.has_value() == InInt32(n) && (!number || *number == n),
          "a whole number converts wrongly", input);
  const auto text = ToText(store::Cell{n}, maxChars);
  Require(text.has_value() == (input.size() <= maxChars) && (!text || *text == input),
          "a whole number's text is wrong", input);
}

void CheckRealToNumberAndText(double d, std::size_t maxChars) {
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

void CheckTextToText(const std::string& s, std::size_t maxChars) {
  const auto text = ToText(store::Cell{s}, maxChars);
  Require(text.has_value() == (Length(s) <= maxChars) && (!text || *text == s),
          "a text converts wrongly", s);
  const std::string prefix = Prefix(s, maxChars);
  Require(s.compare(0, prefix.size(), prefix) == 0, "a prefix that is not a prefix", s);
  Require(Length(prefix) == std::min(Length(s), maxChars), "a prefix of the wrong length", s);
  Require(
      prefix.size() == s.size() || !IsContinuation(static_cast<unsigned char>(s[prefix.size()])),
      "a prefix that splits a character", s);
}

void CheckUtf8ToUcs2(const std::string& s) {
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

void CheckUcs2(const std::u16string& text) {
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

void CheckDecoders(const std::string& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::u16string cp = jet::DecodeCp1252(data, bytes.size());
  Require(cp.size() == bytes.size(), "code page 1252 gives one character per byte", bytes);
  if (const auto again = jet::EncodeCp1252(cp))
    Require(std::string(Bytes(*again)) == bytes, "code page 1252 bytes do not come back", bytes);
  const std::u16string jet4 = jet::DecodeJet4Text(data, bytes.size());
  Require(jet4.size() <= bytes.size(), "Jet4 text longer than its bytes", bytes);
}

void CheckPrintable(const std::string& s) {
  const std::string out = jet::Printable(s);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    Require(c >= 0x20 && c != 0x7F, "a control character in printable text", s);
    if (c == 0xC2 && i + 1 < out.size())
      Require(static_cast<unsigned char>(out[i + 1]) >= 0xA0,
              "a C1 control character in printable text", s);
  }
  Require(IsUtf8(out, 4), "printable text that is not UTF-8", s);
}

// Messages: no control character (C1 included) and nothing but UTF-8 comes out, and a text
// without either comes out as it is.
void CheckMessageText(const std::string& s) {
  const std::string out = store::Printable(s);
  Require(IsUtf8(out, 4), "a message that is not UTF-8", s);
  bool controls = false;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    const bool c1 =
        c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) < 0xA0;
    Require(c >= 0x20 && c != 0x7F && !c1, "a control character in a message", s);
  }
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    controls = controls || c < 0x20 || c == 0x7F ||
               (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0);
  }
  if (!controls && IsUtf8(s, 4)) Require(out == s, "a harmless text changed in a message", s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  switch (input.ConsumeIntegralInRange<int>(0, 8)) {
    case 0:
      CheckTextToNumber(input.ConsumeRemainingBytesAsString());
      break;
    case 1: {
      const auto maxChars = input.ConsumeIntegralInRange<std::size_t>(0, 60);
      CheckNumberToText(input.ConsumeIntegral<std::int64_t>(), maxChars);
      break;
    }
    case 2: {
      const auto maxChars = input.ConsumeIntegralInRange<std::size_t>(0, 60);
      // Any bit pattern, so that infinities, NaNs and subnormals come too.
      auto bits = input.ConsumeBytes<std::uint8_t>(sizeof(double));
      bits.resize(sizeof(double));
      double d = 0;
      std::memcpy(&d, bits.data(), sizeof d);
      CheckRealToNumberAndText(d, maxChars);
      break;
    }
    case 3: {
      const auto maxChars = input.ConsumeIntegralInRange<std::size_t>(0, 60);
      CheckTextToText(input.ConsumeRemainingBytesAsString(), maxChars);
      break;
    }
    case 4:
      CheckUtf8ToUcs2(input.ConsumeRemainingBytesAsString());
      break;
    case 5: {
      std::u16string text;
      while (input.remaining_bytes() >= 2) text.push_back(input.ConsumeIntegral<char16_t>());
      CheckUcs2(text);
      break;
    }
    case 6:
      CheckDecoders(input.ConsumeRemainingBytesAsString());
      break;
    case 7:
      CheckPrintable(input.ConsumeRemainingBytesAsString());
      break;
    default:
      CheckMessageText(input.ConsumeRemainingBytesAsString());
      break;
  }
  return 0;
}
