#pragma once

// Checks of how a Jet table keeps its rows: the file's size, the table's page map, every
// page that map names and the row slots on those pages, against the bytes that are really
// there. libmdb passes over most such damage in silence (it skips pages of other tables and
// stops at a page it cannot read), which would turn a damaged file into a shorter one.
//
// Everything here works on page bytes handed in by the caller and touches no file, so the
// reader program and the fuzz harness run the same code.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lanewright::store::jetcheck {

// The offsets that differ between Jet3 (Access 97) and the later formats.
struct PageFormat {
  std::uint32_t pageSize;
  std::uint32_t rowCountOffset;  // data page: the row count; the row offsets follow it
  std::uint32_t tdefNumRows;     // table definition: the number of rows
  std::uint32_t tdefOwnedMap;    // table definition: row pointer to the owned-pages map
};
// versionByte is byte 0x14 of page 0: 0 is Jet3, 1 and above use the Jet4 layout.
const PageFormat& FormatForVersion(std::uint8_t versionByte);

// Page n of the file, pageSize bytes, or null when it cannot be read. The bytes need stay
// valid only until the next call.
using PageSource = std::function<const std::uint8_t*(std::uint32_t page)>;
// The name of the table whose definition is on this page, or "" when there is none.
using TableNames = std::function<std::string(std::uint32_t tdefPage)>;

// "" when a file of this many bytes is a whole number of pages, at least the three every
// database has; otherwise why not.
std::string CheckFileSize(std::uint64_t bytes, std::uint32_t pageSize);

struct RowSlot {
  std::uint32_t start = 0;  // offset of the row on its page
  std::uint32_t length = 0;
  bool deleted = false;
};

// Checks that page `number`, named by the page map of the table defined on `tdefPage`, is a
// data page of that table, and that its row offset table describes rows packed inside the
// page. Fills slots (in offset-table order) and returns "", or returns why not.
std::string CheckTablePage(const PageFormat& format, const std::uint8_t* page, std::uint32_t number,
                           std::uint32_t tdefPage, const std::string& table,
                           const TableNames& names, std::vector<RowSlot>& slots);

struct TableStorage {
  std::vector<std::uint32_t> pages;  // the table's data pages, ascending
  std::uint32_t declaredRows = 0;    // the row count in the table's definition
  std::uint64_t liveRows = 0;        // rows on those pages that are not deleted
};

// Reads the definition on tdefPage, decodes its owned-pages map and checks every page the
// map names with CheckTablePage. pageCount is the number of pages in the file. Fills
// storage and returns "", or returns why the table's storage is damaged. The row count is
// left to the caller (see CheckRowCount): the catalog's is not kept by every writer.
std::string CheckTableStorage(const PageFormat& format, std::uint32_t pageCount,
                              std::uint32_t tdefPage, const std::string& table,
                              const PageSource& source, const TableNames& names,
                              TableStorage& storage);

// "" unless the definition of the table, its page map or a page that map names lies past
// the end of the file: then the file was cut, and the reason says so. Other damage to the
// table is left for when it is read. A cut file is damaged whichever table is asked for.
std::string CheckTableEnd(const PageFormat& format, std::uint32_t pageCount, std::uint32_t tdefPage,
                          const std::string& table, const PageSource& source);

// "" when the rows found number what the table's definition says.
std::string CheckRowCount(const std::string& table, std::uint32_t declaredRows,
                          std::uint64_t foundRows);

}  // namespace lanewright::store::jetcheck
