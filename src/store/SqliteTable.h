#pragma once

#include <memory>
#include <string>

#include "store/Table.h"

namespace lanewright::store {

// Reads a table of an SQLite file, opened read-only (never created, never locked against
// other readers), in rowid order.
std::unique_ptr<TableReader> OpenSqliteTable(const std::string& path, const std::string& table,
                                             StoreError& err);

}  // namespace lanewright::store
