#pragma once

#include <memory>
#include <string>

#include "store/Table.h"

namespace lanewright::store {

// Reads a table of a Jet (.mdb/.accdb) file through libmdb, in page order.
std::unique_ptr<TableReader> OpenJetTable(const std::string& path, const std::string& table,
                                          StoreError& err);

}  // namespace lanewright::store
