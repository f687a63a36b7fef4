#include "store/JetFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

#include "store/Printable.h"

namespace lanewright::store::jet {
namespace {

constexpr Layout kJet3{
    .version = JetVersion::Jet3,
    .pageSize = 2048,
    .maskedHeaderLength = 126,
    .dataRowCount = 8,
    .dataHeader = 10,
    .rowCountSize = 1,
    .tdefNumRows = 12,
    .tdefTableType = 20,
    .tdefMaxCols = 21,
    .tdefNumVarCols = 23,
    .tdefNumCols = 25,
    .tdefNumIdx = 27,
    .tdefNumRealIdx = 31,
    .tdefOwnedMap = 35,
    .tdefFreeMap = 39,
    .tdefColumns = 43,
    .columnSize = 18,
    .realIndexSize = 8,
    .usageMapBytes = 128,
    .colType = 0,
    .colNum = 1,
    .colVarIndex = 3,
    .colFlags = 13,
    .colFixedOffset = 14,
    .colLength = 16,
};

constexpr Layout kJet4{
    .version = JetVersion::Jet4,
    .pageSize = 4096,
    .maskedHeaderLength = 128,
    .dataRowCount = 12,
    .dataHeader = 14,
    .rowCountSize = 2,
    .tdefNumRows = 16,
    .tdefTableType = 40,
    .tdefMaxCols = 41,
    .tdefNumVarCols = 43,
    .tdefNumCols = 45,
    .tdefNumIdx = 47,
    .tdefNumRealIdx = 51,
    .tdefOwnedMap = 55,
    .tdefFreeMap = 59,
    .tdefColumns = 63,
    .columnSize = 25,
    .realIndexSize = 12,
    .usageMapBytes = 64,
    .colType = 0,
    .colNum = 5,
    .colVarIndex = 7,
    .colFlags = 15,
    .colFixedOffset = 21,
    .colLength = 23,
};

// Code page 1252 for 0x80..0x9F; 0 marks the five bytes the code page leaves undefined,
// which iconv-based readers cannot decode and so must never be written.
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

const Layout& LayoutFor(JetVersion version) { return version == JetVersion::Jet3 ? kJet3 : kJet4; }

std::uint32_t Get(const Bytes& b, std::size_t at, std::size_t size) {
  if (at > b.size() || size > b.size() - at)
    throw JetError(fmt::format("the file is damaged: a field at byte {} lies past the end", at));
  std::uint32_t v = 0;
  for (std::size_t i = size; i-- > 0;) v = (v << 8) | b[at + i];
  return v;
}

void Put(Bytes& b, std::size_t at, std::size_t size, std::uint32_t value) {
  if (at > b.size() || size > b.size() - at)
    throw JetError(fmt::format("internal error: writing past the end at byte {}", at));
  for (std::size_t i = 0; i < size; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data, std::size_t length) {
  std::array<std::uint8_t, 256> s{};
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % keyLength]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (std::size_t n = 0, i = 0, j = 0; n < length; ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[n] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

bool Utf8ToUcs2(std::string_view utf8, std::u16string& out, std::string& why) {
  out.clear();
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    std::size_t len = b0 < 0x80         ? 1
                      : (b0 >> 5) == 6  ? 2
                      : (b0 >> 4) == 14 ? 3
                      : (b0 >> 3) == 30 ? 4
                                        : 0;
    if (len == 0 || i + len > utf8.size()) {
      why = "is not valid UTF-8";
      return false;
    }
    char32_t c = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + k]);
      if ((b >> 6) != 2) {
        why = "is not valid UTF-8";
        return false;
      }
      c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      why = "is not valid UTF-8";
      return false;
    }
    if (c == 0) {
      why = "contains a NUL character";
      return false;
    }
    if (c > 0xFFFF) {
      why = fmt::format("contains the character U+{:X}, which Access text cannot hold",
                        static_cast<std::uint32_t>(c));
      return false;
    }
    // Stored plainly, a text that starts with U+FEFF begins with the bytes that mark the
    // compressed form, and every reader would take it for that.
    if (c == 0xFEFF && out.empty()) {
      why =
          "starts with the character U+FEFF, which Access files cannot tell from the mark "
          "of compressed text";
      return false;
    }
    out.push_back(static_cast<char16_t>(c));
    i += len;
  }
  return true;
}

std::string Printable(const std::string& s) {
  // At most 40 characters, cut between two of them.
  std::size_t chars = 0, end = 0;
  for (; end < s.size(); ++end)
    if ((static_cast<unsigned char>(s[end]) & 0xC0) != 0x80 && ++chars > 40) break;
  return store::Printable(std::string_view(s).substr(0, end)) + (end < s.size() ? "..." : "");
}

std::string Ucs2ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::optional<Bytes> EncodeCp1252(std::u16string_view text) {
  Bytes out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<std::uint8_t>(c));
      continue;
    }
    const auto* it =
        c == 0 ? kCp1252High.end() : std::find(kCp1252High.begin(), kCp1252High.end(), c);
    if (it == kCp1252High.end()) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(0x80 + (it - kCp1252High.begin())));
  }
  return out;
}

std::u16string DecodeCp1252(const std::uint8_t* data, std::size_t length) {
  std::u16string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t b = data[i];
    if (b >= 0x80 && b < 0xA0)
      out.push_back(kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : char16_t{0xFFFD});
    else
      out.push_back(b);
  }
  return out;
}

Bytes EncodeUcs2(std::u16string_view text) {
  Bytes out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

std::optional<Bytes> CompressUcs2(std::u16string_view text) {
  // A 0x00 byte toggles between one byte per character (U+0000..U+00FF) and UCS-2 pairs,
  // so no character whose low byte is 0 can be written in this form.
  Bytes out{0xFF, 0xFE};
  bool narrow = true;
  for (char16_t c : text) {
    const auto lo = static_cast<std::uint8_t>(c & 0xFF);
    const auto hi = static_cast<std::uint8_t>(c >> 8);
    if (lo == 0) return std::nullopt;
    if (hi == 0) {
      if (!narrow) out.push_back(0);
      narrow = true;
      out.push_back(lo);
    } else {
      if (narrow) out.push_back(0);
      narrow = false;
      out.push_back(lo);
      out.push_back(hi);
    }
  }
  if (out.size() >= text.size() * 2) return std::nullopt;
  return out;
}

std::u16string DecodeJet4Text(const std::uint8_t* data, std::size_t length) {
  std::u16string out;
  if (length >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    bool narrow = true;
    for (std::size_t i = 2; i < length;) {
      if (data[i] == 0) {
        narrow = !narrow;
        ++i;
      } else if (narrow) {
        out.push_back(data[i++]);
      } else {
        if (i + 1 >= length) break;
        out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
        i += 2;
      }
    }
    return out;
  }
  for (std::size_t i = 0; i + 1 < length; i += 2)
    out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return out;
}

std::size_t FixedSize(const ColumnDef& column) {
  switch (column.type) {
    case kBool:
      return 0;
    case kByte:
      return 1;
    case kInteger:
      return 2;
    case kLong:
    case kFloat:
      return 4;
    case kMoney:
    case kDouble:
    case kDateTime:
      return 8;
    case kGuid:
      return 16;
    case kNumeric:
      return 17;
    default:
      return column.length;
  }
}

namespace {

// Jet3 keeps only the low byte of each variable offset; a table of "first entry at or
// past 256*m" bytes restores the rest. How many slots it has follows from the row length,
// which itself includes the slots, hence the two tries.
void AppendJet3Trailer(Bytes& row, const std::vector<std::size_t>& offsets, std::size_t eod,
                       std::size_t maskBytes) {
  const std::size_t k = offsets.size();
  const std::size_t jumps = eod / 256;
  std::size_t slots = jumps;
  auto lengthWith = [&](std::size_t t) { return eod + 1 + k + t + 1 + maskBytes; };
  if ((lengthWith(jumps) - 1) / 256 != jumps) {
    slots = jumps + 1;
    if ((lengthWith(slots) - 1) / 256 != slots)
      throw JetError("a row is too long to be laid out in an Access 97 file");
  }
  row.push_back(static_cast<std::uint8_t>(eod & 0xFF));
  for (std::size_t i = k; i-- > 0;) row.push_back(static_cast<std::uint8_t>(offsets[i] & 0xFF));
  if (slots > jumps) row.push_back(0xFF);
  for (std::size_t m = jumps; m >= 1; --m) {
    std::size_t first = k;  // eod counts as entry k
    for (std::size_t i = 0; i < k; ++i) {
      if (offsets[i] >= 256 * m) {
        first = i;
        break;
      }
    }
    row.push_back(static_cast<std::uint8_t>(first));
  }
  row.push_back(static_cast<std::uint8_t>(k));
}

}  // namespace

Bytes EncodeRow(const Layout& layout, const std::vector<ColumnDef>& columns, std::size_t numVarCols,
                const std::vector<StoredValue>& values) {
  const std::size_t n = columns.size();
  std::size_t fixedArea = 0;
  for (const auto& c : columns)
    if (c.IsFixed()) fixedArea = std::max(fixedArea, c.fixedOffset + FixedSize(c));
  const std::size_t maskBytes = (n + 7) / 8;
  Bytes mask(maskBytes, 0);

  Bytes row(layout.rowCountSize + fixedArea, 0);
  Put(row, 0, layout.rowCountSize, static_cast<std::uint32_t>(n));
  std::vector<const StoredValue*> byVarIndex(numVarCols, nullptr);
  for (std::size_t i = 0; i < n; ++i) {
    const ColumnDef& c = columns[i];
    const StoredValue& v = values[i];
    if (v) mask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
    if (c.IsFixed()) {
      if (v) std::copy(v->begin(), v->end(), row.begin() + layout.rowCountSize + c.fixedOffset);
    } else {
      byVarIndex.at(c.varIndex) = &v;
    }
  }

  if (numVarCols > 0) {
    std::vector<std::size_t> offsets(numVarCols);
    for (std::size_t i = 0; i < numVarCols; ++i) {
      offsets[i] = row.size();
      if (byVarIndex[i] && *byVarIndex[i])
        row.insert(row.end(), (*byVarIndex[i])->begin(), (*byVarIndex[i])->end());
    }
    const std::size_t eod = row.size();
    if (layout.version == JetVersion::Jet4) {
      Append(row, 2, static_cast<std::uint32_t>(eod));
      for (std::size_t i = numVarCols; i-- > 0;)
        Append(row, 2, static_cast<std::uint32_t>(offsets[i]));
      Append(row, 2, static_cast<std::uint32_t>(numVarCols));
    } else {
      AppendJet3Trailer(row, offsets, eod, maskBytes);
    }
  }
  row.insert(row.end(), mask.begin(), mask.end());
  if (row.size() > layout.MaxRowLength())
    throw JetError(fmt::format("a row needs {} bytes, more than the {} that fit on a page",
                               row.size(), layout.MaxRowLength()));
  return row;
}

std::vector<StoredValue> DecodeRow(const Layout& layout, const std::vector<ColumnDef>& columns,
                                   const std::uint8_t* row, std::size_t length) {
  const auto damaged = [] { return JetError("the file is damaged: a row's layout is invalid"); };
  const std::size_t cs = layout.rowCountSize;
  if (length < cs) throw damaged();
  std::size_t rowCols = row[0] | (cs == 2 ? row[1] << 8 : 0);
  const std::size_t maskBytes = (rowCols + 7) / 8;
  if (length < cs + maskBytes) throw damaged();
  const std::size_t maskStart = length - maskBytes;
  auto notNull = [&](std::size_t num) {
    return num < rowCols && ((row[maskStart + num / 8] >> (num % 8)) & 1) != 0;
  };

  std::size_t numVarCols = 0;
  for (const auto& c : columns)
    if (!c.IsFixed()) ++numVarCols;
  std::vector<std::size_t> offsets;  // entry i = start of var index i; last = eod
  if (numVarCols > 0) {
    if (layout.version == JetVersion::Jet4) {
      if (maskStart < cs + 4) throw damaged();
      const std::size_t vcPos = maskStart - 2;
      const std::size_t vc = row[vcPos] | (row[vcPos + 1] << 8);
      if (vcPos < cs + 2 * (vc + 1)) throw damaged();
      for (std::size_t i = 0; i <= vc; ++i) {
        const std::size_t at = vcPos - 2 * (i + 1);
        offsets.push_back(row[at] | (row[at + 1] << 8));
      }
    } else {
      if (maskStart < cs + 2) throw damaged();
      const std::size_t vcPos = maskStart - 1;
      const std::size_t vc = row[vcPos];
      const std::size_t slots = (length - 1) / 256;
      if (vcPos < cs + slots + vc + 1) throw damaged();
      for (std::size_t i = 0; i <= vc; ++i) {
        std::size_t high = 0;
        for (std::size_t m = 1; m <= slots; ++m)
          if (row[vcPos - m] <= i) ++high;
        offsets.push_back(row[vcPos - slots - 1 - i] + 256 * high);
      }
    }
    for (std::size_t i = 0; i < offsets.size(); ++i)
      if (offsets[i] > length || (i > 0 && offsets[i] < offsets[i - 1])) throw damaged();
  }

  std::vector<StoredValue> values(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnDef& c = columns[i];
    if (!notNull(c.number)) continue;
    if (c.IsFixed()) {
      const std::size_t at = cs + c.fixedOffset, size = FixedSize(c);
      if (at + size > maskStart) throw damaged();
      values[i] = Bytes(row + at, row + at + size);
    } else if (std::size_t{c.varIndex} + 1 < offsets.size()) {
      values[i] = Bytes(row + offsets[c.varIndex], row + offsets[c.varIndex + 1]);
    }
  }
  return values;
}

}  // namespace lanewright::store::jet
