#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "store/ResultCodes.h"

namespace lanewright::store {

// Which engine a file belongs to, decided by its first bytes, never by its name. The
// first five say why no signature could be read.
enum class FileFormat { Missing, Folder, NotRegular, Unreadable, Unknown, Sqlite, Jet };

// Looks at the file's signature: SQLite files start with "SQLite format 3\0", Jet files
// carry "Standard Jet DB" or "Standard ACE DB" at offset 4. Never blocks: a FIFO or a
// device is NotRegular and is not opened for reading. For anything but Sqlite and Jet,
// err (when given) receives E_FAIL and the reason in words.
FileFormat DetectFileFormat(const std::string& path, StoreError* err = nullptr);

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

// One value of the row a reader is on, without a copy: bytes points into the reader's own
// buffers and stays valid until the reader's next call. A text ends before its first NUL
// byte, as a zero-terminated field would hold it.
struct CellView {
  enum class Kind : std::uint8_t { Null, Integer, Real, Text, Bytes };
  Kind kind = Kind::Null;
  std::int64_t integer = 0;
  double real = 0;
  std::string_view bytes;  // Text: UTF-8; Bytes: as stored
};

CellView ViewOf(const Cell& cell);
Cell CopyOf(const CellView& cell);

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

  // Asks for the first n columns only (before the first row is read): the other columns'
  // values are then neither read nor delivered, whatever they hold.
  virtual void LimitColumns(std::size_t n) = 0;

  // Fills cells with the next row's values (one per column, or per limited column).
  // Returns S_OK, or DB_S_ENDOFROWSET after the last row, or a negative code when the file
  // turns out to be damaged part-way; error() then says why. After anything but S_OK,
  // NextView keeps returning that code. No allocation per row in the steady state.
  virtual HResult NextView(std::vector<CellView>& cells) = 0;

  // The same with the values copied out.
  HResult Next(Row& row);

  virtual const StoreError& error() const = 0;

 private:
  std::vector<CellView> cells_;
};

// Opens the named table (names compare without regard to case, as both engines do).
// On failure returns null and fills err: E_FAIL for a file that is missing, unreadable,
// not a regular file, locked, empty, damaged, hostile or not a database; DB_E_NOTABLE when
// the table is not there.
std::unique_ptr<TableReader> OpenTable(const std::string& path, const std::string& table,
                                       StoreError& err);

// A file held by a writer for one exclusive append (see AppendRowsExclusively): tables
// opened through it show what the append will be added to, and nobody else's append can
// come between this reading and the writing.
class ExclusiveSection {
 public:
  virtual ~ExclusiveSection() = default;
  virtual std::unique_ptr<TableReader> OpenTable(const std::string& table, StoreError& err) = 0;
};

// Decides, inside the section, which rows to append; fills err to append nothing.
using DecideRows = std::function<std::vector<Row>(ExclusiveSection& section, StoreError& err)>;

// How long a call waits for another program's (or another Lanewright's) lock on a file
// before it gives up: SQLite's busy timeout, and the Jet writer's wait for its lock.
std::chrono::milliseconds LockWait();
void SetLockWait(std::chrono::milliseconds wait);

}  // namespace lanewright::store
