#pragma once

// The byte-level pieces of Jet (.mdb) files that Lanewright's writer needs: the numbers
// that differ between the Access 97 (Jet3) and Access 2000-2003 (Jet4) layouts, text
// encodings, and how one row is laid out on a data page. Nothing here touches a file.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "store/JetWriter.h"

namespace lanewright::store::jet {

using Bytes = std::vector<std::uint8_t>;

// Raised for anything the writer refuses or finds damaged; the public functions turn it
// into a StoreError with this message.
class JetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Offsets and sizes that depend on the file's generation.
struct Layout {
  JetVersion version;
  std::uint32_t pageSize;
  std::size_t maskedHeaderLength;  // bytes of page 0 from 0x18 hidden by the fixed RC4 key
  std::size_t dataRowCount;        // data page: offset of the row count
  std::size_t dataHeader;          // data page: bytes before the row offset table
  std::size_t rowCountSize;        // bytes of the column count at the start of a row
  std::size_t tdefNumRows, tdefTableType, tdefMaxCols, tdefNumVarCols, tdefNumCols, tdefNumIdx,
      tdefNumRealIdx, tdefOwnedMap, tdefFreeMap, tdefColumns;
  std::size_t columnSize;     // one column descriptor in a table definition
  std::size_t realIndexSize;  // one physical index entry before the descriptors
  std::size_t usageMapBytes;  // bitmap bytes of an inline usage map row
  // Column descriptor fields.
  std::size_t colType, colNum, colVarIndex, colFlags, colFixedOffset, colLength;

  std::size_t UsageMapRowLength() const { return 5 + usageMapBytes; }
  // Rows must fit on one page beside the header and their own slot in the offset table.
  std::size_t MaxRowLength() const { return pageSize - dataHeader - 2; }
};

const Layout& LayoutFor(JetVersion version);

// Column type codes as stored in a table definition.
enum ColumnTypeCode : std::uint8_t {
  kBool = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kMoney = 0x05,
  kFloat = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
};

inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnNullable = 0x02;
inline constexpr std::uint8_t kColumnAutoLong = 0x04;
inline constexpr std::uint8_t kColumnAutoGuid = 0x40;
inline constexpr std::uint8_t kColumnCompressedUnicode = 0x01;  // Jet4 misc flags

// Little-endian access with the bounds checked against the buffer.
std::uint32_t Get(const Bytes& b, std::size_t at, std::size_t size);
void Put(Bytes& b, std::size_t at, std::size_t size, std::uint32_t value);
inline void Append(Bytes& b, std::size_t size, std::uint32_t value) {
  b.resize(b.size() + size);
  Put(b, b.size() - size, size, value);
}

// RC4 applied in place; used to hide and reveal the page 0 header region.
void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data, std::size_t length);

// Text. Values come in as UTF-8; the encoders refuse what the target cannot hold exactly,
// so nothing is ever stored as something else. Utf8ToUcs2 fails (and says why) for bytes
// that are not UTF-8, for U+0000 (readers would cut the text there), for characters
// beyond U+FFFF, which UCS-2 cannot hold, and for a text that starts with U+FEFF (the mark
// of compressed text).
bool Utf8ToUcs2(std::string_view utf8, std::u16string& out, std::string& why);
std::string Ucs2ToUtf8(std::u16string_view text);
// A value as it may appear in a message: control characters, and bytes when the text is
// not UTF-8, escaped as \xNN; long texts shortened.
std::string Printable(const std::string& s);
std::optional<Bytes> EncodeCp1252(std::u16string_view text);
std::u16string DecodeCp1252(const std::uint8_t* data, std::size_t length);
Bytes EncodeUcs2(std::u16string_view text);
// The "compressed unicode" form, or nullopt when it would not be shorter than plain UCS-2
// or cannot represent the text.
std::optional<Bytes> CompressUcs2(std::u16string_view text);
// Decodes a Jet4 text value in either form.
std::u16string DecodeJet4Text(const std::uint8_t* data, std::size_t length);

// One column of a table definition as stored.
struct ColumnDef {
  std::uint8_t type = kLong;
  std::uint16_t number = 0;    // position in the row's null mask
  std::uint16_t varIndex = 0;  // variable columns only
  std::uint8_t flags = 0;
  std::uint8_t miscFlags = 0;  // Jet4 only
  std::uint16_t fixedOffset = 0;
  std::uint16_t length = 0;
  std::string name;  // UTF-8

  bool IsFixed() const { return (flags & kColumnFixed) != 0; }
};

// Storage size of a fixed column of this type, or 0 for types stored only in the mask.
std::size_t FixedSize(const ColumnDef& column);

// A value ready to be laid into a row: NULL, or the bytes as stored.
using StoredValue = std::optional<Bytes>;

// Lays out a row. columns are the table's stored descriptors, values[i] belongs to
// columns[i]. Throws JetError when the row cannot be laid out (too long for a page).
Bytes EncodeRow(const Layout& layout, const std::vector<ColumnDef>& columns, std::size_t numVarCols,
                const std::vector<StoredValue>& values);

// Splits a stored row back into its column values (nullopt for NULL). Throws JetError for
// a row whose trailer does not fit its bytes.
std::vector<StoredValue> DecodeRow(const Layout& layout, const std::vector<ColumnDef>& columns,
                                   const std::uint8_t* row, std::size_t length);

}  // namespace lanewright::store::jet
