#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/JetWriter.h"
#include "store/Table.h"

namespace lanewright::store {

// Appends rows to a table of a database file (SQLite or Jet, told apart by signature as
// OpenTable does), all of them or none: SQLite files in one transaction, Jet files through
// the Jet writer (which refuses tables with indexes, and files another program has open).
// Every row holds values for the table's first columns, in order, the same number in every
// row; the other columns get their default (SQLite) or NULL (Jet). No rows: the file is
// not touched. A file another program holds locked makes the call wait up to LockWait().
StoreError AppendRows(const std::string& path, const std::string& table,
                      const std::vector<Row>& rows);

// The same, with the rows decided inside one exclusive section of the file: decide reads
// what it needs through the section, and no other append (by Lanewright, or by anyone
// who locks the file as SQLite does) can come between that reading and the writing.
// SQLite: one BEGIN IMMEDIATE transaction on one connection around both. Jet: the Jet
// writer's lock, held from before decide until the new file is in place. When decide
// fills its err, nothing is written and that err is returned as it is.
StoreError AppendRowsExclusively(const std::string& path, const std::string& table,
                                 const DecideRows& decide);

enum class DatabaseFormat { Sqlite, Jet4, Jet3 };

struct NewColumn {
  std::string name;
  JetColumnType type = JetColumnType::LongInteger;
  int length = 255;  // Text: the most characters; Binary: the most bytes
  // SQLite files: what a row that names no value for the column gets. Jet files keep no
  // defaults; such a column is NULL there.
  std::optional<std::string> defaultText = std::nullopt;
};

struct NewTable {
  std::string name;
  std::vector<NewColumn> columns;
};

// Creates a database file holding these tables, empty. In SQLite files every column is
// NOT NULL. Refuses when anything already exists at path, and leaves nothing behind when
// it fails part-way.
StoreError CreateDatabase(const std::string& path, DatabaseFormat format,
                          const std::vector<NewTable>& tables);

}  // namespace lanewright::store
