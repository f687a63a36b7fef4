#pragma once

#include <memory>
#include <string>

#include "store/SqliteHandle.h"
#include "store/Table.h"

namespace lanewright::store {

// Reads a table of an SQLite file, opened read-only (never created, never locked against
// other readers), in rowid order.
std::unique_ptr<TableReader> OpenSqliteTable(const std::string& path, const std::string& table,
                                             StoreError& err);

// The same on a connection that is already open (inside its owner's transaction); the
// reader keeps the connection alive while it lives.
std::unique_ptr<TableReader> OpenSqliteTable(std::shared_ptr<const SqliteDb> db,
                                             const std::string& path, const std::string& table,
                                             StoreError& err);

// The table's name as the file spells it (tables compare without regard to case). False
// with err filled (DB_E_NOTABLE, or E_FAIL) when there is none.
bool FindSqliteTable(const SqliteDb& db, const std::string& path, const std::string& table,
                     std::string& realName, StoreError& err);

}  // namespace lanewright::store
