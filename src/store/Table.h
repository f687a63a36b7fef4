#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "store/ResultCodes.h"

namespace lanewright::store {

// Which engine a file belongs to, decided by its first bytes, never by its name.
enum class FileFormat { Missing, Unreadable, Unknown, Sqlite, Jet };

// Looks at the file's signature: SQLite files start with "SQLite format 3\0", Jet files
// carry "Standard Jet DB" or "Standard ACE DB" at offset 4. Missing and Unreadable
// describe why no signature could be read (no such file, a directory, no permission).
FileFormat DetectFileFormat(const std::string& path);

// What a column can hold, as far as binding it to a number or a text is concerned.
enum class ColumnType {
  Integer,  // whole numbers (Jet Byte, Integer, Long Integer, Boolean; SQLite INTEGER)
  Real,     // floating point, currency, numeric, dates
  Text,     // Jet Text and Memo; SQLite TEXT and columns without a declared type
  Binary,   // Jet Binary, OLE object, GUID; SQLite BLOB: never converts to a number or text
};

struct Blob {
  std::vector<std::uint8_t> bytes;
  bool operator==(const Blob&) const = default;
};

// One value of a row: NULL, a whole number, a floating point number, UTF-8 text or bytes.
using Cell = std::variant<std::monostate, std::int64_t, double, std::string, Blob>;
using Row = std::vector<Cell>;

struct ColumnInfo {
  std::string name;
  ColumnType type = ColumnType::Text;
};

// Reads one table of one database file front to back, in table order (rowid order for
// SQLite, page order for Jet). Files are opened for shared reading and never changed.
class TableReader {
 public:
  virtual ~TableReader() = default;
  TableReader() = default;
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;

  virtual const std::vector<ColumnInfo>& Columns() const = 0;

  // Fills row with the next row's values (one cell per column). Returns S_OK, or
  // DB_S_ENDOFROWSET after the last row, or a negative code when the file turns out to
  // be damaged part-way; error() then says why. After anything but S_OK, Next keeps
  // returning that code.
  virtual HResult Next(Row& row) = 0;

  virtual const StoreError& error() const = 0;
};

// Opens the named table (names compare without regard to case, as both engines do).
// On failure returns null and fills err: E_FAIL for a file that is missing, unreadable,
// locked, empty, damaged or not a database; DB_E_NOTABLE when the table is not there.
std::unique_ptr<TableReader> OpenTable(const std::string& path, const std::string& table,
                                       StoreError& err);

}  // namespace lanewright::store
