#pragma once

// Lanewright's own writer of Jet (.mdb) files: it creates files in the Access 97 (Jet3)
// and Access 2000-2003 (Jet4) layouts and appends rows to tables of such files.
//
// Columns are Long Integer, Integer, Byte, Text(n) or Binary(n). Values are store::Cell:
// NULL (std::monostate) in any column, std::int64_t for the number columns (refused when
// out of the column's range), UTF-8 std::string for Text (refused when longer than n
// characters, when not valid UTF-8, when it holds NUL or characters beyond U+FFFF, and in
// Jet3 files when code page 1252 cannot hold it), Blob of at most n bytes for Binary.
// Nothing is ever stored as something other than the value given.
//
// Every function here works on a complete copy beside the file, reads the copy back
// through OpenTable, and only then renames it into place; on any failure the file on disk
// is left exactly as it was and the copy is removed. Each returns a StoreError whose code
// is S_OK on success and E_FAIL with the reason in words otherwise.

#include <functional>
#include <string>
#include <vector>

#include "store/Table.h"

namespace lanewright::store {

// Jet3: Access 97, 2 KiB pages, text in code page 1252.
// Jet4: Access 2000-2003, 4 KiB pages, text in UCS-2.
enum class JetVersion { Jet3, Jet4 };

enum class JetColumnType { Byte, Integer, LongInteger, Text, Binary };

struct JetColumn {
  std::string name;
  JetColumnType type = JetColumnType::LongInteger;
  // Text: the most characters a value may have; Binary: the most bytes. 1 to 255.
  int length = 255;
};

struct JetTableSpec {
  std::string name;
  std::vector<JetColumn> columns;
  std::vector<Row> rows;  // one cell per column, in column order
};

// Creates a new database file holding these tables and their rows. Refuses to replace a
// file that already exists. Names of tables and columns follow Access's rules: 1 to 64
// characters, no leading blank, none of . ! ` [ ] or control characters, unique without
// regard to case; table names may not start with "MSys".
StoreError CreateJetDatabase(const std::string& path, JetVersion version,
                             const std::vector<JetTableSpec>& tables);

// Adds a table with its rows to a file that Lanewright created. Files made by Access are
// refused: their catalog has indexes this writer does not maintain.
StoreError AddJetTable(const std::string& path, const JetTableSpec& table);

// Appends rows to the named table (found without regard to case) of an existing Jet3 or
// Jet4 file, made by Access or by Lanewright. Refused, with the file untouched, when:
// another program has the file open (a lock file ".ldb" / ".laccdb" sits beside it, or
// another Lanewright is still writing it after LockWait()); the table has indexes or a primary key,
// deleted or auto-number columns, or columns of other types than the five above; the file is
// encrypted, from Access 2007 or later, or damaged; a value does not fit its column.
StoreError AppendJetRows(const std::string& path, const std::string& table,
                         const std::vector<Row>& rows);

// The same, with the rows decided inside the writer's lock on the file, which is held
// from before decide runs until the new file is in place: decide may read the file's
// tables through the section and sees what the rows are added to. Another Lanewright
// writing the same file waits up to LockWait(), then is refused. Rows with fewer values
// than the table has columns get NULL in the rest. When decide fills its err, nothing is
// written and that err is returned as it is; no rows, nothing is written.
StoreError AppendJetRowsExclusively(const std::string& path, const std::string& table,
                                    const DecideRows& decide);

// The lock file Access keeps beside an open database: "x.ldb" for "x.mdb", "x.laccdb"
// for "x.accdb" (and ".ldb" for any other name).
std::string JetLockFilePath(const std::string& path);

namespace detail {
// Test seam: called with the path of the finished copy before it is read back, so tests
// can damage the copy and see that the original survives. Pass nullptr to remove it.
void SetJetWriterCopyHookForTesting(std::function<void(const std::string& copyPath)> hook);
}  // namespace detail

}  // namespace lanewright::store
