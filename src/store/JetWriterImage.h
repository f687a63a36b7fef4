#pragma once

// A whole Jet file held in memory while the writer changes it. Every change the writer
// makes goes through this class, so a file on disk is only ever replaced by a complete,
// consistent image.

#include <cstdint>
#include <string>
#include <vector>

#include "store/JetFormat.h"
#include "store/Table.h"

namespace lanewright::store::jet {

// A table as its definition page describes it.
struct TableInfo {
  std::uint32_t tdefPage = 0;
  std::uint8_t tableType = 0;
  std::size_t numCols = 0, maxCols = 0, numVarCols = 0;
  std::uint32_t numIdx = 0, numRealIdx = 0;
  std::uint32_t numRows = 0;
  std::uint32_t ownedMap = 0, freeMap = 0;  // row pointers (page << 8 | row)
  std::vector<ColumnDef> columns;           // in descriptor order
};

struct CatalogEntry {
  std::string name;
  std::uint32_t id = 0;
  std::int32_t type = 0;
  std::uint32_t flags = 0;
};

inline constexpr std::int32_t kCatalogLocalTable = 1;
inline constexpr std::uint32_t kCatalogSystemFlags = 0x80000002u;
inline constexpr std::uint32_t kCatalogPage = 2;

class Image {
 public:
  // A new file with an empty catalog. creationDate is in days since 1899-12-30.
  static Image Create(JetVersion version, double creationDate);
  // Takes over the bytes of an existing file after checking its header.
  static Image Load(Bytes bytes);

  const Layout& layout() const { return *layout_; }
  // The code page the header names for Jet3 text (readers take 0 to mean 1252).
  std::uint16_t CodePage() const { return codePage_; }
  const Bytes& bytes() const { return bytes_; }
  std::uint32_t PageCount() const {
    return static_cast<std::uint32_t>(bytes_.size() / layout_->pageSize);
  }

  TableInfo ReadTable(std::uint32_t tdefPage) const;
  std::vector<CatalogEntry> ReadCatalog() const;

  // Adds an empty user table; columns must already carry their stored layout (numbers,
  // offsets, var indexes). Refused when the catalog has indexes, which this writer could
  // not keep up to date. Returns the new table's definition page.
  std::uint32_t AddTable(const std::string& name, const std::vector<ColumnDef>& columns);

  // Stores rows (values in descriptor order) at the end of the table, adding pages as
  // needed, and counts them in the table definition.
  void AppendRows(const TableInfo& table, const std::vector<std::vector<StoredValue>>& rows);

  // The pages a usage map row marks.
  std::vector<std::uint32_t> MapPages(std::uint32_t mapPointer) const;

 private:
  Image(const Layout& layout, Bytes bytes) : layout_(&layout), bytes_(std::move(bytes)) {}

  std::size_t PageStart(std::uint32_t page) const;
  std::uint32_t NewPage();
  std::uint32_t NewDataPage(std::uint32_t owner);
  // Puts a row on a data page; returns its row index, or -1 when the page has no room.
  int TryInsertRow(std::uint32_t page, const Bytes& row);
  // Absolute start and length of a row, after checking the page and its offset table.
  std::pair<std::size_t, std::size_t> RowSpan(std::uint32_t page, unsigned row) const;
  std::uint32_t InsertMapRow(std::uint32_t nearPage, std::uint32_t start);
  void MapAdd(std::uint32_t mapPointer, std::uint32_t page);
  void WriteTdef(std::uint32_t page, std::uint8_t tableType, const std::vector<ColumnDef>& cols,
                 std::uint32_t ownedMap, std::uint32_t freeMap);

  const Layout* layout_;
  Bytes bytes_;
  double creationDate_ = 0;
  std::uint16_t codePage_ = 1252;
};

// Turns one cell into the bytes stored for a column of the given type. Throws JetError
// naming the column when the value does not fit it.
StoredValue EncodeCell(const Layout& layout, const ColumnDef& column, const Cell& cell);

// The column layout a new table gets: numbers in order, fixed offsets packed, var indexes
// consecutive, and the flags and lengths for the type.
void AssignColumnLayout(const Layout& layout, std::vector<ColumnDef>& columns);

}  // namespace lanewright::store::jet
