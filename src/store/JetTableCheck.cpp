#include "store/JetTableCheck.h"

#include <fmt/format.h>

namespace lanewright::store::jetcheck {
namespace {

constexpr std::uint8_t kPageData = 0x01;
constexpr std::uint8_t kPageTdef = 0x02;
constexpr std::uint8_t kPageIndexNode = 0x03;
constexpr std::uint8_t kPageIndexLeaf = 0x04;
constexpr std::uint8_t kPageBitmap = 0x05;
// Long values (memo and OLE data) sit on data pages whose owner field spells "LVAL".
constexpr std::uint32_t kLongValueOwner = 0x4C41564C;
constexpr std::uint32_t kOffsetMask = 0x1FFF;
constexpr std::uint32_t kDeletedRow = 0x4000;

const PageFormat kJet3{2048, 8, 12, 35};
const PageFormat kJet4{4096, 12, 16, 55};

std::uint32_t Get16(const std::uint8_t* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t Get32(const std::uint8_t* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

std::string Quoted(const std::string& table) { return fmt::format("\"{}\"", table); }

// What a page that should hold rows of a table holds instead, or "" when it is a data page.
std::string NotADataPage(const std::uint8_t* page, std::uint32_t number) {
  if (number == 0) return "is the database header, not a data page";
  const char* const garbage = "is not a database page (overwritten or zeroed?)";
  if (page[1] != 0x01) return garbage;
  switch (page[0]) {
    case kPageData:
      return {};
    case kPageTdef:
      return "is a table definition, not a data page";
    case kPageIndexNode:
    case kPageIndexLeaf:
      return "is an index page, not a data page";
    case kPageBitmap:
      return "is a page usage bitmap, not a data page";
    default:
      return garbage;
  }
}

// Reads the row offset table of a data page. Rows are packed downwards from the end of the
// page in offset-table order; deleted rows keep their place in that chain.
std::string ReadSlots(const PageFormat& f, const std::uint8_t* page, std::uint32_t number,
                      std::vector<RowSlot>& slots) {
  slots.clear();
  const std::uint32_t rows = Get16(page + f.rowCountOffset);
  const std::uint32_t tableEnd = f.rowCountOffset + 2 + 2 * rows;
  if (tableEnd > f.pageSize)
    return fmt::format("page {}: {} rows cannot fit on a page", number, rows);
  std::uint32_t rowEnd = f.pageSize;
  for (std::uint32_t r = 0; r < rows; ++r) {
    const std::uint32_t raw = Get16(page + f.rowCountOffset + 2 + 2 * r);
    const std::uint32_t start = raw & kOffsetMask;
    if (start < tableEnd || start > rowEnd)
      return fmt::format("page {}: row {} lies outside the page's row area", number, r);
    RowSlot slot{start, rowEnd - start, (raw & kDeletedRow) != 0};
    rowEnd = start;
    if (!slot.deleted && slot.length == 0)
      return fmt::format("page {}: row {} is empty", number, r);
    slots.push_back(slot);
  }
  return {};
}

// The bytes of one row, found by its row pointer (page << 8 | row), copied out of the page.
std::string FetchRow(const PageFormat& f, std::uint32_t pageCount, std::uint32_t pointer,
                     const PageSource& source, std::vector<std::uint8_t>& row) {
  const std::uint32_t number = pointer >> 8;
  const std::uint32_t index = pointer & 0xFF;
  if (number == 0 || number >= pageCount)
    return fmt::format("it lies on page {}, past the end of the file (truncated?)", number);
  const std::uint8_t* page = source(number);
  if (!page) return fmt::format("page {} cannot be read", number);
  if (const std::string what = NotADataPage(page, number); !what.empty())
    return fmt::format("it lies on page {}, which {}", number, what);
  std::vector<RowSlot> slots;
  if (std::string why = ReadSlots(f, page, number, slots); !why.empty()) return why;
  if (index >= slots.size() || slots[index].deleted)
    return fmt::format("page {} has no row {}", number, index);
  row.assign(page + slots[index].start, page + slots[index].start + slots[index].length);
  return {};
}

// The pages a usage map names, ascending. Two kinds exist: a bitmap kept in the row itself
// over pages from a start page on, and a list of bitmap pages covering the whole file.
std::string DecodeUsageMap(const PageFormat& f, std::uint32_t pageCount,
                           const std::vector<std::uint8_t>& map, const PageSource& source,
                           std::vector<std::uint32_t>& pages) {
  auto pastEnd = [&](std::uint64_t page) {
    return fmt::format("it names page {}, but the file ends after page {} (truncated?)", page,
                       pageCount - 1);
  };
  pages.clear();
  if (map.empty()) return "it is empty";
  if (map[0] == 0) {
    if (map.size() < 5) return "it is too short";
    const std::uint64_t first = Get32(map.data() + 1);
    for (std::size_t i = 0; i < (map.size() - 5) * 8; ++i) {
      if (!((map[5 + i / 8] >> (i % 8)) & 1)) continue;
      if (first + i >= pageCount) return pastEnd(first + i);
      pages.push_back(static_cast<std::uint32_t>(first + i));
    }
    return {};
  }
  if (map[0] != 1) return fmt::format("it is of unknown kind {}", map[0]);
  const std::uint64_t perBitmap = (std::uint64_t{f.pageSize} - 4) * 8;
  std::vector<std::uint8_t> bitmap;
  for (std::size_t k = 0; 1 + 4 * (k + 1) <= map.size(); ++k) {
    const std::uint32_t at = Get32(map.data() + 1 + 4 * k);
    if (at == 0) continue;
    if (at >= pageCount) return pastEnd(at);
    const std::uint8_t* page = source(at);
    if (!page) return fmt::format("page {} cannot be read", at);
    if (page[0] != kPageBitmap || page[1] != 0x01)
      return fmt::format("it names page {} as a page usage bitmap, but it is none", at);
    bitmap.assign(page + 4, page + f.pageSize);
    for (std::uint64_t i = 0; i < perBitmap; ++i) {
      if (!((bitmap[i / 8] >> (i % 8)) & 1)) continue;
      if (k * perBitmap + i >= pageCount) return pastEnd(k * perBitmap + i);
      pages.push_back(static_cast<std::uint32_t>(k * perBitmap + i));
    }
  }
  return {};
}

}  // namespace

const PageFormat& FormatForVersion(std::uint8_t versionByte) {
  return versionByte == 0 ? kJet3 : kJet4;
}

std::string CheckFileSize(std::uint64_t bytes, std::uint32_t pageSize) {
  if (bytes % pageSize != 0)
    return fmt::format("the file is cut short: {} bytes are not a whole number of {}-byte pages",
                       bytes, pageSize);
  if (bytes < 3 * std::uint64_t{pageSize})
    return fmt::format("the file is cut short: {} bytes, too short for a database", bytes);
  return {};
}

std::string CheckTablePage(const PageFormat& format, const std::uint8_t* page, std::uint32_t number,
                           std::uint32_t tdefPage, const std::string& table,
                           const TableNames& names, std::vector<RowSlot>& slots) {
  slots.clear();
  if (const std::string what = NotADataPage(page, number); !what.empty())
    return fmt::format("page {} of table {} {}", number, Quoted(table), what);
  const std::uint32_t owner = Get32(page + 4);
  if (owner != tdefPage) {
    if (owner == kLongValueOwner)
      return fmt::format("page {} of table {} holds long values, not rows", number, Quoted(table));
    const std::string other = names(owner);
    if (other.empty())
      return fmt::format("page {} of table {} belongs to no table (its owner is page {})", number,
                         Quoted(table), owner);
    return fmt::format("page {} of table {} belongs to table {}", number, Quoted(table),
                       Quoted(other));
  }
  return ReadSlots(format, page, number, slots);
}

std::string CheckTableStorage(const PageFormat& format, std::uint32_t pageCount,
                              std::uint32_t tdefPage, const std::string& table,
                              const PageSource& source, const TableNames& names,
                              TableStorage& storage) {
  storage = {};
  if (tdefPage == 0 || tdefPage >= pageCount)
    return fmt::format("the definition of table {} lies past the end of the file (truncated?)",
                       Quoted(table));
  const std::uint8_t* tdef = source(tdefPage);
  if (!tdef) return fmt::format("page {} cannot be read", tdefPage);
  if (tdef[0] != kPageTdef)
    return fmt::format("the definition of table {} on page {} is no table definition",
                       Quoted(table), tdefPage);
  storage.declaredRows = Get32(tdef + format.tdefNumRows);
  const std::uint32_t mapPointer = Get32(tdef + format.tdefOwnedMap);

  std::vector<std::uint8_t> map;
  std::string why = FetchRow(format, pageCount, mapPointer, source, map);
  if (why.empty()) why = DecodeUsageMap(format, pageCount, map, source, storage.pages);
  if (!why.empty()) return fmt::format("the page map of table {}: {}", Quoted(table), why);

  std::vector<RowSlot> slots;
  for (const std::uint32_t number : storage.pages) {
    const std::uint8_t* page = source(number);
    if (!page) return fmt::format("page {} cannot be read", number);
    if (why = CheckTablePage(format, page, number, tdefPage, table, names, slots); !why.empty())
      return why;
    for (const RowSlot& s : slots) storage.liveRows += s.deleted ? 0 : 1;
  }
  return {};
}

std::string CheckRowCount(const std::string& table, std::uint32_t declaredRows,
                          std::uint64_t foundRows) {
  if (foundRows == declaredRows) return {};
  return fmt::format("table {} has {} rows where its definition counts {}", Quoted(table),
                     foundRows, declaredRows);
}

}  // namespace lanewright::store::jetcheck
