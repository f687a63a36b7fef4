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

// Finds the pages a table's definition names as its own. Remembers whether what stopped
// it lies past the end of the file, which makes the whole file damaged, not only the table.
class PageList {
 public:
  PageList(const PageFormat& f, std::uint32_t pageCount, const PageSource& source)
      : f_(f), pageCount_(pageCount), source_(source) {}

  bool cut() const { return cut_; }

  // Reads the definition on tdefPage and decodes its owned-pages map.
  std::string Read(std::uint32_t tdefPage, const std::string& table, TableStorage& storage) {
    storage = {};
    if (tdefPage == 0 || tdefPage >= pageCount_) {
      const std::string where =
          fmt::format("the definition of table {} is on page {}", Quoted(table), tdefPage);
      return tdefPage == 0 ? where : PastEnd(where);
    }
    const std::uint8_t* tdef = source_(tdefPage);
    if (!tdef) return fmt::format("page {} cannot be read", tdefPage);
    if (tdef[0] != kPageTdef || tdef[1] != 0x01)
      return fmt::format("the definition of table {} on page {} is no table definition",
                         Quoted(table), tdefPage);
    storage.declaredRows = Get32(tdef + f_.tdefNumRows);
    std::vector<std::uint8_t> map;
    std::string why = FetchRow(Get32(tdef + f_.tdefOwnedMap), map);
    if (why.empty()) why = DecodeMap(map, storage.pages);
    return why.empty() ? why : fmt::format("the page map of table {}: {}", Quoted(table), why);
  }

 private:
  std::string PastEnd(const std::string& what) {
    cut_ = true;
    return fmt::format("{}, but the file ends after page {} (truncated?)", what, pageCount_ - 1);
  }

  // The bytes of one row, found by its row pointer (page << 8 | row).
  std::string FetchRow(std::uint32_t pointer, std::vector<std::uint8_t>& row) {
    const std::uint32_t number = pointer >> 8;
    const std::uint32_t index = pointer & 0xFF;
    if (number == 0) return "it is on page 0";
    if (number >= pageCount_) return PastEnd(fmt::format("it is on page {}", number));
    const std::uint8_t* page = source_(number);
    if (!page) return fmt::format("page {} cannot be read", number);
    if (const std::string what = NotADataPage(page, number); !what.empty())
      return fmt::format("it is on page {}, which {}", number, what);
    std::vector<RowSlot> slots;
    if (std::string why = ReadSlots(f_, page, number, slots); !why.empty()) return why;
    if (index >= slots.size() || slots[index].deleted)
      return fmt::format("page {} has no row {}", number, index);
    row.assign(page + slots[index].start, page + slots[index].start + slots[index].length);
    return {};
  }

  // Two kinds of map exist: a bitmap kept in the row itself over pages from a start page
  // on, and a list of bitmap pages that together cover the whole file.
  std::string DecodeMap(const std::vector<std::uint8_t>& map, std::vector<std::uint32_t>& pages) {
    auto names = [&](std::uint64_t page) {
      if (page >= pageCount_) return PastEnd(fmt::format("it names page {}", page));
      pages.push_back(static_cast<std::uint32_t>(page));
      return std::string();
    };
    if (map.empty()) return "it is empty";
    if (map[0] == 0) {
      if (map.size() < 5) return "it is too short";
      const std::uint64_t first = Get32(map.data() + 1);
      for (std::size_t i = 0; i < (map.size() - 5) * 8; ++i)
        if ((map[5 + i / 8] >> (i % 8)) & 1)
          if (std::string why = names(first + i); !why.empty()) return why;
      return {};
    }
    if (map[0] != 1) return fmt::format("it is of unknown kind {}", map[0]);
    const std::uint64_t perBitmap = (std::uint64_t{f_.pageSize} - 4) * 8;
    std::vector<std::uint8_t> bitmap;
    for (std::size_t k = 0; 1 + 4 * (k + 1) <= map.size(); ++k) {
      const std::uint32_t at = Get32(map.data() + 1 + 4 * k);
      if (at == 0) continue;
      if (at >= pageCount_) return PastEnd(fmt::format("it names bitmap page {}", at));
      const std::uint8_t* page = source_(at);
      if (!page) return fmt::format("page {} cannot be read", at);
      if (page[0] != kPageBitmap || page[1] != 0x01)
        return fmt::format("it names page {} as a page usage bitmap, but it is none", at);
      bitmap.assign(page + 4, page + f_.pageSize);
      for (std::uint64_t i = 0; i < perBitmap; ++i)
        if ((bitmap[i / 8] >> (i % 8)) & 1)
          if (std::string why = names(k * perBitmap + i); !why.empty()) return why;
    }
    return {};
  }

  const PageFormat& f_;
  std::uint32_t pageCount_;
  const PageSource& source_;
  bool cut_ = false;
};

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
  PageList list(format, pageCount, source);
  if (std::string why = list.Read(tdefPage, table, storage); !why.empty()) return why;
  std::vector<RowSlot> slots;
  for (const std::uint32_t number : storage.pages) {
    const std::uint8_t* page = source(number);
    if (!page) return fmt::format("page {} cannot be read", number);
    if (std::string why = CheckTablePage(format, page, number, tdefPage, table, names, slots);
        !why.empty())
      return why;
    for (const RowSlot& s : slots) storage.liveRows += s.deleted ? 0 : 1;
  }
  return {};
}

std::string CheckTableEnd(const PageFormat& format, std::uint32_t pageCount, std::uint32_t tdefPage,
                          const std::string& table, const PageSource& source) {
  PageList list(format, pageCount, source);
  TableStorage storage;
  std::string why = list.Read(tdefPage, table, storage);
  return list.cut() ? why : std::string();
}

std::string CheckRowCount(const std::string& table, std::uint32_t declaredRows,
                          std::uint64_t foundRows) {
  if (foundRows == declaredRows) return {};
  return fmt::format("table {} has {} rows where its definition counts {}", Quoted(table),
                     foundRows, declaredRows);
}

}  // namespace lanewright::store::jetcheck
