#include "store/JetWriterImage.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace lanewright::store::jet {
namespace {

constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kHeaderVersion = 0x14, kHeaderMasked = 0x18, kHeaderCodePage = 0x3C,
                      kHeaderDbKey = 0x3E, kHeaderPassword = 0x42, kJet3SortOrder = 0x3A,
                      kJet4SortOrder = 0x6E, kJet4CreationDate = 0x72;
constexpr std::uint16_t kGeneralSortOrder = 0x0409, kCodePage1252 = 1252;
constexpr std::uint8_t kPageData = 0x01, kPageTdef = 0x02, kPageUsageMap = 0x05;
constexpr std::uint8_t kTableUser = 0x4E, kTableSystem = 0x53;
constexpr unsigned kMaxRowsPerPage = 255;
constexpr std::uint32_t kTablesContainerId = 0x0F000001, kRootContainerId = 0x0F000000;

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

JetError Damaged(const std::string& what) {
  return JetError("the file is damaged or not in a layout Lanewright can write: " + what);
}

struct CatalogColumnSpec {
  const char* name;
  std::uint8_t type;
  std::uint16_t length;  // characters for text
};

// The catalog's columns as Access files are commonly said to have them, in name order.
constexpr CatalogColumnSpec kCatalogColumns[] = {
    {"Connect", kMemo, 0},
    {"Database", kMemo, 0},
    {"DateCreate", kDateTime, 8},
    {"DateUpdate", kDateTime, 8},
    {"Flags", kLong, 4},
    {"ForeignName", kText, 255},
    {"Id", kLong, 4},
    {"Lv", kOle, 0},
    {"LvExtra", kOle, 0},
    {"LvModule", kOle, 0},
    {"LvProp", kOle, 0},
    {"Name", kText, 255},
    {"Owner", kBinary, 255},
    {"ParentId", kLong, 4},
    {"RmtInfoLong", kOle, 0},
    {"RmtInfoShort", kBinary, 255},
    {"Type", kInteger, 2},
};

Bytes EncodeName(const Layout& layout, const std::string& name) {
  std::u16string text;
  std::string why;
  if (!Utf8ToUcs2(name, text, why))
    throw JetError(fmt::format("the name \"{}\" {}", Printable(name), why));
  Bytes out;
  if (layout.version == JetVersion::Jet4) {
    Bytes ucs2 = EncodeUcs2(text);
    Append(out, 2, static_cast<std::uint32_t>(ucs2.size()));
    out.insert(out.end(), ucs2.begin(), ucs2.end());
  } else {
    auto cp = EncodeCp1252(text);
    if (!cp)
      throw JetError(fmt::format(
          "the name \"{}\" has characters an Access 97 file cannot hold (code page 1252)", name));
    out.push_back(static_cast<std::uint8_t>(cp->size()));
    out.insert(out.end(), cp->begin(), cp->end());
  }
  return out;
}

std::size_t CountChars(const Layout& layout, const ColumnDef& c) {
  return layout.version == JetVersion::Jet4 ? c.length / 2u : c.length;
}

}  // namespace

void AssignColumnLayout(const Layout& layout, std::vector<ColumnDef>& columns) {
  std::uint16_t fixedOffset = 0, varIndex = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    ColumnDef& c = columns[i];
    c.number = static_cast<std::uint16_t>(i);
    const bool variable = c.type == kText || c.type == kMemo || c.type == kOle || c.type == kBinary;
    c.flags = static_cast<std::uint8_t>(kColumnNullable | (variable ? 0 : kColumnFixed));
    c.miscFlags = 0;
    if (c.type == kText && layout.version == JetVersion::Jet4) {
      c.length = static_cast<std::uint16_t>(c.length * 2);
      c.miscFlags = kColumnCompressedUnicode;
    } else if (!variable) {
      c.length = static_cast<std::uint16_t>(FixedSize(c));
    }
    if (variable) {
      c.varIndex = varIndex++;
      c.fixedOffset = 0;
    } else {
      c.varIndex = 0;
      c.fixedOffset = fixedOffset;
      fixedOffset = static_cast<std::uint16_t>(fixedOffset + FixedSize(c));
    }
  }
}

StoredValue EncodeCell(const Layout& layout, const ColumnDef& column, const Cell& cell) {
  if (std::holds_alternative<std::monostate>(cell)) return std::nullopt;
  auto mismatch = [&](const char* want) {
    return JetError(fmt::format("column \"{}\" takes {}", column.name, want));
  };
  auto integer = [&](std::int64_t lo, std::int64_t hi, std::size_t size,
                     const char* want) -> StoredValue {
    const auto* v = std::get_if<std::int64_t>(&cell);
    if (!v) throw mismatch(want);
    if (*v < lo || *v > hi)
      throw JetError(
          fmt::format("column \"{}\" cannot hold {}: it takes {}", column.name, *v, want));
    Bytes b(size);
    Put(b, 0, size, static_cast<std::uint32_t>(*v));
    return b;
  };
  switch (column.type) {
    case kByte:
      return integer(0, 255, 1, "whole numbers from 0 to 255");
    case kInteger:
      return integer(-32768, 32767, 2, "whole numbers from -32768 to 32767");
    case kLong:
      return integer(std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::int32_t>::max(), 4,
                     "whole numbers from -2147483648 to 2147483647");
    case kDateTime: {
      const auto* v = std::get_if<double>(&cell);
      if (!v) throw mismatch("dates (days since 1899-12-30)");
      Bytes b(8);
      std::memcpy(b.data(), v, 8);
      return b;
    }
    case kText: {
      const auto* s = std::get_if<std::string>(&cell);
      if (!s) throw mismatch("text");
      std::u16string text;
      std::string why;
      if (!Utf8ToUcs2(*s, text, why))
        throw JetError(
            fmt::format("the text \"{}\" for column \"{}\" {}", Printable(*s), column.name, why));
      const std::size_t limit = CountChars(layout, column);
      if (text.size() > limit)
        throw JetError(fmt::format("the text \"{}\" is {} characters long; column \"{}\" holds {}",
                                   Printable(*s), text.size(), column.name, limit));
      if (layout.version == JetVersion::Jet3) {
        auto cp = EncodeCp1252(text);
        if (!cp)
          throw JetError(fmt::format(
              "the text \"{}\" for column \"{}\" has characters an Access 97 file cannot hold "
              "(code page 1252)",
              Printable(*s), column.name));
        return *cp;
      }
      if (column.miscFlags & kColumnCompressedUnicode) {
        if (auto packed = CompressUcs2(text)) return *packed;
      }
      return EncodeUcs2(text);
    }
    case kBinary: {
      const auto* b = std::get_if<Blob>(&cell);
      if (!b) throw mismatch("bytes");
      if (b->bytes.size() > column.length)
        throw JetError(fmt::format("{} bytes do not fit column \"{}\", which holds {}",
                                   b->bytes.size(), column.name, column.length));
      return b->bytes;
    }
    default:
      throw JetError(
          fmt::format("column \"{}\" has a type Lanewright does not write", column.name));
  }
}

// ---- creating and loading ----

Image Image::Create(JetVersion version, double creationDate) {
  const Layout& L = LayoutFor(version);
  Image img(L, Bytes(3 * static_cast<std::size_t>(L.pageSize), 0));
  img.creationDate_ = creationDate;
  Bytes& b = img.bytes_;

  b[1] = 0x01;
  std::memcpy(&b[4], "Standard Jet DB", 16);
  b[kHeaderVersion] = version == JetVersion::Jet3 ? 0x00 : 0x01;
  Put(b, kHeaderCodePage, 2, kCodePage1252);
  Put(b, kHeaderDbKey, 4, 0);
  if (version == JetVersion::Jet3) {
    Put(b, kJet3SortOrder, 2, kGeneralSortOrder);
  } else {
    Put(b, kJet4SortOrder, 2, kGeneralSortOrder);
    std::memcpy(&b[kJet4CreationDate], &creationDate, 8);
    // The password field is stored XOR-ed with the creation day; "no password" must
    // therefore read back as zeros after that mask.
    const auto day =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(creationDate)));
    for (std::size_t i = 0; i < 40; i += 4) Put(b, kHeaderPassword + i, 4, day);
  }
  Rc4(kHeaderKey, sizeof kHeaderKey, &b[kHeaderMasked], L.maskedHeaderLength);

  // Page 1 holds the database-wide usage map (left empty) and the tables' map rows.
  const std::size_t p1 = L.pageSize;
  b[p1] = kPageData;
  b[p1 + 1] = 0x01;
  Put(b, p1 + L.dataRowCount, 2, 0);
  Put(b, p1 + 2, 2, L.pageSize - static_cast<std::uint32_t>(L.dataHeader));
  Bytes globalMap(L.UsageMapRowLength(), 0);
  if (img.TryInsertRow(1, globalMap) != 0) throw JetError("internal error: page 1");

  std::vector<ColumnDef> catalog;
  for (const auto& catalogColumn : kCatalogColumns) {
    ColumnDef c;
    c.name = catalogColumn.name;
    c.type = catalogColumn.type;
    c.length = catalogColumn.length;
    catalog.push_back(c);
  }
  AssignColumnLayout(L, catalog);
  for (auto& c : catalog) c.miscFlags = 0;  // catalog names stay plain UCS-2
  const std::uint32_t owned = img.InsertMapRow(1, kCatalogPage);
  const std::uint32_t free = img.InsertMapRow(1, kCatalogPage);
  img.WriteTdef(kCatalogPage, kTableSystem, catalog, owned, free);

  // A "Tables" container and the catalog's own entry, as Access files have them; both
  // readers hide them from table lists.
  const TableInfo info = img.ReadTable(kCatalogPage);
  auto row = [&](std::uint32_t id, const char* name, std::int32_t type, std::uint32_t flags,
                 std::uint32_t parent) {
    std::vector<StoredValue> values;
    for (const auto& c : info.columns) {
      Cell cell;
      if (c.name == "Id") cell = std::int64_t{static_cast<std::int32_t>(id)};
      if (c.name == "Name") cell = std::string(name);
      if (c.name == "Type") cell = std::int64_t{type};
      if (c.name == "Flags") cell = std::int64_t{static_cast<std::int32_t>(flags)};
      if (c.name == "ParentId") cell = std::int64_t{static_cast<std::int32_t>(parent)};
      if (c.name == "DateCreate" || c.name == "DateUpdate") cell = creationDate;
      values.push_back(EncodeCell(L, c, cell));
    }
    return values;
  };
  img.AppendRows(info, {row(kTablesContainerId, "Tables", 3, 0, kRootContainerId),
                        row(kCatalogPage, "MSysObjects", kCatalogLocalTable, kCatalogSystemFlags,
                            kTablesContainerId)});
  return img;
}

Image Image::Load(Bytes bytes) {
  if (bytes.size() < 0x100 || bytes[0] != 0x00) throw JetError("not a Jet database (.mdb) file");
  JetVersion version;
  switch (bytes[kHeaderVersion]) {
    case 0x00:
      version = JetVersion::Jet3;
      break;
    case 0x01:
      version = JetVersion::Jet4;
      break;
    default:
      throw JetError(
          "the file is from Access 2007 or later; Lanewright writes only Access 97 and "
          "Access 2000-2003 files");
  }
  const Layout& L = LayoutFor(version);
  if (bytes.size() % L.pageSize != 0 || bytes.size() < 3 * std::size_t{L.pageSize})
    throw Damaged("its size is not a whole number of pages");
  Bytes header(bytes.begin() + kHeaderMasked, bytes.begin() + kHeaderMasked + L.maskedHeaderLength);
  Rc4(kHeaderKey, sizeof kHeaderKey, header.data(), header.size());
  if (Get(header, kHeaderDbKey - kHeaderMasked, 4) != 0)
    throw JetError("the file is encrypted; Lanewright does not write encrypted databases");
  Image img(L, std::move(bytes));
  if (version == JetVersion::Jet4)
    std::memcpy(&img.creationDate_, &header[kJet4CreationDate - kHeaderMasked], 8);
  img.codePage_ = static_cast<std::uint16_t>(Get(header, kHeaderCodePage - kHeaderMasked, 2));
  return img;
}

// ---- pages and rows ----

std::size_t Image::PageStart(std::uint32_t page) const {
  if (page >= PageCount()) throw Damaged(fmt::format("page {} is past the end of the file", page));
  return static_cast<std::size_t>(page) * layout_->pageSize;
}

std::uint32_t Image::NewPage() {
  const std::uint32_t page = PageCount();
  if (page >= 0x00FFFFFF) throw JetError("the file has reached the largest size Access allows");
  bytes_.resize(bytes_.size() + layout_->pageSize, 0);
  return page;
}

std::uint32_t Image::NewDataPage(std::uint32_t owner) {
  const std::uint32_t page = NewPage();
  const std::size_t at = PageStart(page);
  bytes_[at] = kPageData;
  bytes_[at + 1] = 0x01;
  Put(bytes_, at + 2, 2, layout_->pageSize - static_cast<std::uint32_t>(layout_->dataHeader));
  Put(bytes_, at + 4, 4, owner);
  return page;
}

int Image::TryInsertRow(std::uint32_t page, const Bytes& row) {
  const Layout& L = *layout_;
  const std::size_t at = PageStart(page);
  const unsigned numRows = Get(bytes_, at + L.dataRowCount, 2);
  if (numRows >= kMaxRowsPerPage) return -1;
  std::size_t lowest = L.pageSize;
  for (unsigned i = 0; i < numRows; ++i)
    lowest = std::min<std::size_t>(lowest, Get(bytes_, at + L.dataHeader + 2 * i, 2) & 0x1FFF);
  const std::size_t tableEnd = L.dataHeader + 2 * (numRows + 1);
  if (lowest < row.size() || lowest - row.size() < tableEnd) return -1;
  const std::size_t start = lowest - row.size();
  std::copy(row.begin(), row.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at + start));
  Put(bytes_, at + L.dataHeader + 2 * numRows, 2, static_cast<std::uint32_t>(start));
  Put(bytes_, at + L.dataRowCount, 2, numRows + 1);
  Put(bytes_, at + 2, 2, static_cast<std::uint32_t>(start - tableEnd));
  return static_cast<int>(numRows);
}

std::pair<std::size_t, std::size_t> Image::RowSpan(std::uint32_t page, unsigned row) const {
  const Layout& L = *layout_;
  const std::size_t at = PageStart(page);
  if (bytes_[at] != kPageData) throw Damaged(fmt::format("page {} is not a data page", page));
  const unsigned numRows = Get(bytes_, at + L.dataRowCount, 2);
  if (row >= numRows || L.dataHeader + 2 * numRows > L.pageSize)
    throw Damaged(fmt::format("row {} of page {} does not exist", row, page));
  const std::size_t start = Get(bytes_, at + L.dataHeader + 2 * row, 2) & 0x1FFF;
  const std::size_t end =
      row == 0 ? L.pageSize : Get(bytes_, at + L.dataHeader + 2 * (row - 1), 2) & 0x1FFF;
  if (start < L.dataHeader + 2 * numRows || end > L.pageSize || start >= end)
    throw Damaged(fmt::format("row {} of page {} has an invalid position", row, page));
  return {at + start, end - start};
}

// ---- usage maps ----

std::uint32_t Image::InsertMapRow(std::uint32_t nearPage, std::uint32_t start) {
  Bytes row(layout_->UsageMapRowLength(), 0);
  Put(row, 1, 4, start);
  int index = TryInsertRow(nearPage, row);
  std::uint32_t page = nearPage;
  if (index < 0) {
    page = NewDataPage(0);
    index = TryInsertRow(page, row);
  }
  return (page << 8) | static_cast<std::uint32_t>(index);
}

std::vector<std::uint32_t> Image::MapPages(std::uint32_t mapPointer) const {
  const auto [at, length] = RowSpan(mapPointer >> 8, mapPointer & 0xFF);
  std::vector<std::uint32_t> pages;
  if (length < 5) throw Damaged("a usage map is too short");
  if (bytes_[at] == 0) {
    const std::uint32_t start = Get(bytes_, at + 1, 4);
    for (std::size_t i = 0; i < (length - 5) * 8; ++i)
      if ((bytes_[at + 5 + i / 8] >> (i % 8)) & 1)
        pages.push_back(start + static_cast<std::uint32_t>(i));
  } else if (bytes_[at] == 1) {
    const std::size_t perPage = (layout_->pageSize - 4) * 8;
    for (std::size_t k = 0; k < (length - 1) / 4; ++k) {
      const std::uint32_t mapPage = Get(bytes_, at + 1 + 4 * k, 4);
      if (mapPage == 0) continue;
      const std::size_t mp = PageStart(mapPage);
      if (bytes_[mp] != kPageUsageMap) throw Damaged("a usage map names a page of another kind");
      for (std::size_t i = 0; i < perPage; ++i)
        if ((bytes_[mp + 4 + i / 8] >> (i % 8)) & 1)
          pages.push_back(static_cast<std::uint32_t>(k * perPage + i));
    }
  } else {
    throw Damaged("a usage map has an unknown type");
  }
  return pages;
}

void Image::MapAdd(std::uint32_t mapPointer, std::uint32_t page) {
  auto [at, length] = RowSpan(mapPointer >> 8, mapPointer & 0xFF);
  if (bytes_[at] == 0) {
    const std::size_t window = (length - 5) * 8;
    std::uint32_t start = Get(bytes_, at + 1, 4);
    if (page >= start && page - start < window) {
      bytes_[at + 5 + (page - start) / 8] |= static_cast<std::uint8_t>(1u << ((page - start) % 8));
      return;
    }
    std::vector<std::uint32_t> pages = MapPages(mapPointer);
    pages.push_back(page);
    const auto [lo, hi] = std::minmax_element(pages.begin(), pages.end());
    if (*hi - *lo < window) {
      // Still fits inline: move the window so that it starts at the lowest page.
      start = *lo;
      std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(at + 5),
                bytes_.begin() + static_cast<std::ptrdiff_t>(at + length), 0);
      Put(bytes_, at + 1, 4, start);
      for (std::uint32_t p : pages)
        bytes_[at + 5 + (p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
      return;
    }
    // Too wide for an inline map: switch the same row to a list of bitmap pages.
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
              bytes_.begin() + static_cast<std::ptrdiff_t>(at + length), 0);
    bytes_[at] = 1;
    for (std::uint32_t p : pages) MapAdd(mapPointer, p);
    return;
  }
  if (bytes_[at] != 1) throw Damaged("a usage map has an unknown type");
  const std::size_t perPage = (layout_->pageSize - 4) * 8;
  const std::size_t k = page / perPage;
  if (k >= (length - 1) / 4)
    throw JetError("the file has grown past what its usage maps can cover");
  std::uint32_t mapPage = Get(bytes_, at + 1 + 4 * k, 4);
  if (mapPage == 0) {
    mapPage = NewPage();  // may move bytes_: positions are recomputed below
    const std::size_t mp = PageStart(mapPage);
    bytes_[mp] = kPageUsageMap;
    bytes_[mp + 1] = 0x01;
    at = RowSpan(mapPointer >> 8, mapPointer & 0xFF).first;
    Put(bytes_, at + 1 + 4 * k, 4, mapPage);
  }
  const std::size_t mp = PageStart(mapPage);
  if (bytes_[mp] != kPageUsageMap) throw Damaged("a usage map names a page of another kind");
  const std::size_t bit = page % perPage;
  bytes_[mp + 4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
}

// ---- table definitions ----

void Image::WriteTdef(std::uint32_t page, std::uint8_t tableType,
                      const std::vector<ColumnDef>& cols, std::uint32_t ownedMap,
                      std::uint32_t freeMap) {
  const Layout& L = *layout_;
  Bytes t(L.tdefColumns, 0);
  t[0] = kPageTdef;
  t[1] = 0x01;
  std::size_t numVar = 0;
  for (const auto& c : cols) numVar += c.IsFixed() ? 0 : 1;
  Put(t, L.tdefTableType, 1, tableType);
  Put(t, L.tdefMaxCols, 2, static_cast<std::uint32_t>(cols.size()));
  Put(t, L.tdefNumVarCols, 2, static_cast<std::uint32_t>(numVar));
  Put(t, L.tdefNumCols, 2, static_cast<std::uint32_t>(cols.size()));
  Put(t, L.tdefOwnedMap, 4, ownedMap);
  Put(t, L.tdefFreeMap, 4, freeMap);
  for (const auto& c : cols) {
    Bytes d(L.columnSize, 0);
    const bool text = c.type == kText || c.type == kMemo;
    Put(d, L.colType, 1, c.type);
    Put(d, L.colNum, 2, c.number);
    Put(d, L.colVarIndex, 2, c.varIndex);
    if (L.version == JetVersion::Jet4) {
      Put(d, 9, 2, c.number);
      Put(d, 11, 2, text ? kGeneralSortOrder : 0);
      Put(d, 16, 1, c.miscFlags);
    } else {
      Put(d, 5, 2, c.number);
      Put(d, 7, 2, text ? kGeneralSortOrder : 0);
      Put(d, 9, 2, text ? kCodePage1252 : 0);
    }
    Put(d, L.colFlags, 1, c.flags);
    Put(d, L.colFixedOffset, 2, c.fixedOffset);
    Put(d, L.colLength, 2, c.length);
    t.insert(t.end(), d.begin(), d.end());
  }
  for (const auto& c : cols) {
    Bytes n = EncodeName(L, c.name);
    t.insert(t.end(), n.begin(), n.end());
  }
  t.push_back(0xFF);  // end of the (empty) list of long-value column maps
  t.push_back(0xFF);
  if (t.size() > L.pageSize)
    throw JetError(
        fmt::format("the table has too many columns or too long column names to be "
                    "described on one page ({} bytes, at most {})",
                    t.size(), L.pageSize));
  if (L.version == JetVersion::Jet4)
    Put(t, 2, 2, L.pageSize - static_cast<std::uint32_t>(t.size()));
  else
    Put(t, 2, 2, 'V' | ('C' << 8));
  Put(t, 8, 4, static_cast<std::uint32_t>(t.size()));
  const std::size_t at = PageStart(page);
  std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
            bytes_.begin() + static_cast<std::ptrdiff_t>(at + L.pageSize), 0);
  std::copy(t.begin(), t.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
}

TableInfo Image::ReadTable(std::uint32_t tdefPage) const {
  const Layout& L = *layout_;
  const std::size_t at = PageStart(tdefPage);
  if (bytes_[at] != kPageTdef)
    throw Damaged(fmt::format("page {} is not a table definition", tdefPage));
  Bytes page(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
             bytes_.begin() + static_cast<std::ptrdiff_t>(at + L.pageSize));
  // A long definition continues on further pages, each with an 8-byte header; only the
  // first page is ever written (the row count), so the rest is read as one run of bytes.
  std::uint32_t next = Get(page, 4, 4);
  for (std::uint32_t hops = 0; next != 0; ++hops) {
    const std::size_t more = PageStart(next);
    if (bytes_[more] != kPageTdef || hops >= PageCount())
      throw Damaged(
          fmt::format("the definition of the table on page {} continues wrongly", tdefPage));
    page.insert(page.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(more + 8),
                bytes_.begin() + static_cast<std::ptrdiff_t>(more + L.pageSize));
    next = Get(bytes_, more + 4, 4);
  }
  TableInfo t;
  t.tdefPage = tdefPage;
  t.numRows = Get(page, L.tdefNumRows, 4);
  t.tableType = static_cast<std::uint8_t>(Get(page, L.tdefTableType, 1));
  t.maxCols = Get(page, L.tdefMaxCols, 2);
  t.numVarCols = Get(page, L.tdefNumVarCols, 2);
  t.numCols = Get(page, L.tdefNumCols, 2);
  t.numIdx = Get(page, L.tdefNumIdx, 4);
  t.numRealIdx = Get(page, L.tdefNumRealIdx, 4);
  t.ownedMap = Get(page, L.tdefOwnedMap, 4);
  t.freeMap = Get(page, L.tdefFreeMap, 4);
  if (t.numRealIdx > 1000) throw Damaged("the table definition counts too many indexes");
  std::size_t pos = L.tdefColumns + t.numRealIdx * L.realIndexSize;
  for (std::size_t i = 0; i < t.numCols; ++i, pos += L.columnSize) {
    ColumnDef c;
    c.type = static_cast<std::uint8_t>(Get(page, pos + L.colType, 1));
    c.number = static_cast<std::uint16_t>(Get(page, pos + L.colNum, 2));
    c.varIndex = static_cast<std::uint16_t>(Get(page, pos + L.colVarIndex, 2));
    c.flags = static_cast<std::uint8_t>(Get(page, pos + L.colFlags, 1));
    if (L.version == JetVersion::Jet4)
      c.miscFlags = static_cast<std::uint8_t>(Get(page, pos + 16, 1));
    c.fixedOffset = static_cast<std::uint16_t>(Get(page, pos + L.colFixedOffset, 2));
    c.length = static_cast<std::uint16_t>(Get(page, pos + L.colLength, 2));
    t.columns.push_back(c);
  }
  for (auto& c : t.columns) {
    if (L.version == JetVersion::Jet4) {
      const std::size_t len = Get(page, pos, 2);
      if (pos + 2 + len > page.size()) throw Damaged("a column name runs past the page");
      c.name = Ucs2ToUtf8(DecodeJet4Text(&page[pos + 2], len));
      pos += 2 + len;
    } else {
      const std::size_t len = Get(page, pos, 1);
      if (pos + 1 + len > page.size()) throw Damaged("a column name runs past the page");
      c.name = Ucs2ToUtf8(DecodeCp1252(&page[pos + 1], len));
      pos += 1 + len;
    }
  }
  // Check the layout before any row is built from it.
  std::vector<bool> numberSeen(std::max(t.numCols, t.maxCols) + 1, false);
  std::vector<bool> varSeen(t.numVarCols, false);
  for (const auto& c : t.columns) {
    if (c.number >= numberSeen.size() || numberSeen[c.number])
      throw Damaged("two columns share a number");
    numberSeen[c.number] = true;
    if (c.IsFixed()) {
      if (c.fixedOffset + FixedSize(c) > L.pageSize) throw Damaged("a column lies past the row");
    } else {
      if (c.varIndex >= varSeen.size() || varSeen[c.varIndex])
        throw Damaged("the variable columns are numbered inconsistently");
      varSeen[c.varIndex] = true;
    }
  }
  if (std::count(varSeen.begin(), varSeen.end(), true) != static_cast<long>(t.numVarCols))
    throw Damaged("the variable columns are counted inconsistently");
  return t;
}

std::vector<CatalogEntry> Image::ReadCatalog() const {
  const Layout& L = *layout_;
  const TableInfo cat = ReadTable(kCatalogPage);
  int idCol = -1, nameCol = -1, typeCol = -1, flagsCol = -1;
  for (std::size_t i = 0; i < cat.columns.size(); ++i) {
    const std::string n = Lower(cat.columns[i].name);
    const auto& c = cat.columns[i];
    if (n == "id" && c.type == kLong) idCol = static_cast<int>(i);
    if (n == "name" && c.type == kText) nameCol = static_cast<int>(i);
    if (n == "type" && c.type == kInteger) typeCol = static_cast<int>(i);
    if (n == "flags" && c.type == kLong) flagsCol = static_cast<int>(i);
  }
  if (idCol < 0 || nameCol < 0 || typeCol < 0 || flagsCol < 0)
    throw Damaged("the catalog lacks the Id, Name, Type or Flags column");
  std::vector<CatalogEntry> entries;
  for (std::uint32_t page : MapPages(cat.ownedMap)) {
    const std::size_t at = PageStart(page);
    if (bytes_[at] != kPageData || Get(bytes_, at + 4, 4) != kCatalogPage)
      throw Damaged(fmt::format("catalog page {} is not one of the catalog's pages", page));
    const unsigned numRows = Get(bytes_, at + L.dataRowCount, 2);
    for (unsigned r = 0; r < numRows; ++r) {
      // Rows whose offset carries a flag are deleted or moved; they name nothing.
      if (Get(bytes_, at + L.dataHeader + 2 * r, 2) & 0xC000) continue;
      const auto [start, length] = RowSpan(page, r);
      auto values = DecodeRow(L, cat.columns, &bytes_[start], length);
      const auto& id = values[idCol];
      const auto& name = values[nameCol];
      const auto& type = values[typeCol];
      if (!id || !name || !type) continue;
      CatalogEntry e;
      e.id = Get(*id, 0, 4);
      e.type = static_cast<std::int16_t>(Get(*type, 0, 2));
      e.flags = values[flagsCol] ? Get(*values[flagsCol], 0, 4) : 0;
      e.name = Ucs2ToUtf8(L.version == JetVersion::Jet4 ? DecodeJet4Text(name->data(), name->size())
                                                        : DecodeCp1252(name->data(), name->size()));
      entries.push_back(std::move(e));
    }
  }
  return entries;
}

std::uint32_t Image::AddTable(const std::string& name, const std::vector<ColumnDef>& columns) {
  const Layout& L = *layout_;
  const TableInfo cat = ReadTable(kCatalogPage);
  if (cat.numIdx != 0 || cat.numRealIdx != 0)
    throw JetError(
        "the file's catalog has indexes (it was made by Access); Lanewright can "
        "only add tables to files it created itself");
  for (const auto& e : ReadCatalog())
    if (Lower(e.name) == Lower(name))
      throw JetError(fmt::format("the file already has an object named \"{}\"", name));

  const std::uint32_t tdef = NewPage();
  // Map rows go beside the catalog's own maps.
  const std::uint32_t mapPage = cat.ownedMap >> 8;
  const std::uint32_t owned = InsertMapRow(mapPage, tdef);
  const std::uint32_t free = InsertMapRow(owned >> 8, tdef);
  WriteTdef(tdef, kTableUser, columns, owned, free);

  std::vector<StoredValue> values;
  for (const auto& c : cat.columns) {
    Cell cell;
    if (c.name == "Id") cell = std::int64_t{static_cast<std::int32_t>(tdef)};
    if (c.name == "Name") cell = name;
    if (c.name == "Type") cell = std::int64_t{kCatalogLocalTable};
    if (c.name == "Flags") cell = std::int64_t{0};
    if (c.name == "ParentId") cell = std::int64_t{static_cast<std::int32_t>(kTablesContainerId)};
    if (c.name == "DateCreate" || c.name == "DateUpdate") cell = creationDate_;
    values.push_back(EncodeCell(L, c, cell));
  }
  AppendRows(cat, {values});
  return tdef;
}

void Image::AppendRows(const TableInfo& table, const std::vector<std::vector<StoredValue>>& rows) {
  const Layout& L = *layout_;
  if (rows.empty()) return;
  std::vector<Bytes> encoded;
  encoded.reserve(rows.size());
  for (const auto& values : rows)
    encoded.push_back(EncodeRow(L, table.columns, table.numVarCols, values));

  // Rows go on the table's last data page while it has room. Access leaves pages it freed
  // in the map, so only a page that still is this table's data page qualifies.
  std::uint32_t target = 0;  // 0: no page with room known yet
  std::vector<std::uint32_t> owned = MapPages(table.ownedMap);
  std::sort(owned.begin(), owned.end());
  for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
    if (*it >= PageCount()) continue;
    const std::size_t at = PageStart(*it);
    if (bytes_[at] == kPageData && Get(bytes_, at + 4, 4) == table.tdefPage) {
      target = *it;
      break;
    }
  }
  for (const Bytes& row : encoded) {
    if (target == 0 || TryInsertRow(target, row) < 0) {
      target = NewDataPage(table.tdefPage);
      MapAdd(table.ownedMap, target);
      MapAdd(table.freeMap, target);
      if (TryInsertRow(target, row) < 0)
        throw JetError("internal error: a row does not fit a new page");
    }
  }
  const std::size_t at = PageStart(table.tdefPage);
  const std::uint64_t count = std::uint64_t{Get(bytes_, at + L.tdefNumRows, 4)} + rows.size();
  Put(bytes_, at + L.tdefNumRows, 4,
      static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
}

}  // namespace lanewright::store::jet
