#pragma once

#include <memory>
#include <string>

#include "store/Table.h"

namespace lanewright::store {

struct IsolationLimits;

// Reads a table of a Jet (.mdb/.accdb) file through libmdb, in page order.
//
// libmdb runs in a separate program, lanewright-jet-reader, started for each table read
// (see IsolatedProcess.h): libmdb prints to stderr, and a damaged file must not be able to
// crash, hang or exhaust this process. Whatever it prints is kept from the terminal; a
// reader that dies, stalls for the idle timeout or talks nonsense becomes E_FAIL with a
// reason. The reader checks the page map, every page and every row's place against the
// file, so damage libmdb would pass over silently (lost or invented rows) is reported:
// at open, or part-way through the rows as E_FAIL from Next.
//
// Cells: Yes/No, Byte, Integer and Long Integer as int64 (Yes is -1, as Jet reports it);
// Currency, Single, Double, Date/Time (days since 1899-12-30) and Numeric as double; Text
// and Memo as UTF-8; Binary, GUID and OLE object as Blob (an OLE object as the reference
// stored in the row, not the object, since such columns never convert to anything).
// Empty texts and NULL are told apart.
std::unique_ptr<TableReader> OpenJetTable(const std::string& path, const std::string& table,
                                          StoreError& err);
std::unique_ptr<TableReader> OpenJetTable(const std::string& path, const std::string& table,
                                          StoreError& err, const IsolationLimits& limits);

}  // namespace lanewright::store
