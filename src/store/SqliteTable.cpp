#include "store/SqliteTable.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <cctype>

#include "store/SqliteHandle.h"

namespace lanewright::store {
namespace {

ColumnType TypeFromDeclaration(const char* declared) {
  // SQLite's own affinity rules, reduced to what binding needs.
  std::string t = declared ? declared : "";
  for (auto& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (t.find("INT") != std::string::npos) return ColumnType::Integer;
  if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos ||
      t.find("TEXT") != std::string::npos)
    return ColumnType::Text;
  if (t.find("BLOB") != std::string::npos) return ColumnType::Binary;
  if (t.find("REAL") != std::string::npos || t.find("FLOA") != std::string::npos ||
      t.find("DOUB") != std::string::npos)
    return ColumnType::Real;
  if (t.empty()) return ColumnType::Text;
  return ColumnType::Real;  // NUMERIC affinity
}

class SqliteTableReader final : public TableReader {
 public:
  SqliteTableReader(SqliteDb db, SqliteStatement stmt, std::vector<ColumnInfo> columns,
                    std::string path)
      : db_(std::move(db)),
        stmt_(std::move(stmt)),
        columns_(std::move(columns)),
        path_(std::move(path)) {}

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  const StoreError& error() const override { return error_; }

  HResult Next(Row& row) override {
    if (done_ != S_OK) return done_;
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_DONE) return done_ = DB_S_ENDOFROWSET;
    if (rc != SQLITE_ROW) {
      error_ = {E_FAIL, fmt::format("{}: {}", path_, sqlite3_errmsg(db_.get()))};
      return done_ = E_FAIL;
    }
    row.resize(columns_.size());
    for (int i = 0; i < static_cast<int>(columns_.size()); ++i) {
      sqlite3_stmt* s = stmt_.get();
      switch (sqlite3_column_type(s, i)) {
        case SQLITE_INTEGER:
          row[i] = static_cast<std::int64_t>(sqlite3_column_int64(s, i));
          break;
        case SQLITE_FLOAT:
          row[i] = sqlite3_column_double(s, i);
          break;
        case SQLITE_TEXT: {
          const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
          row[i] = std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
          break;
        }
        case SQLITE_BLOB: {
          const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, i));
          const auto n = static_cast<std::size_t>(sqlite3_column_bytes(s, i));
          row[i] = Blob{std::vector<std::uint8_t>(p, p + n)};
          break;
        }
        default:
          row[i] = std::monostate{};
      }
    }
    return S_OK;
  }

 private:
  SqliteDb db_;
  SqliteStatement stmt_;
  std::vector<ColumnInfo> columns_;
  std::string path_;
  StoreError error_;
  HResult done_ = S_OK;
};

}  // namespace

std::unique_ptr<TableReader> OpenSqliteTable(const std::string& path, const std::string& table,
                                             StoreError& err) {
  SqliteDb db = OpenSqlite(path, SQLITE_OPEN_READONLY, err);
  if (!db) return nullptr;

  // Find the table's real name (names compare without regard to case) and whether it
  // has a rowid to order by.
  SqliteStatement lookup = Prepare(
      db.get(), "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE",
      err, path);
  if (!lookup) return nullptr;
  sqlite3_bind_text(lookup.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  const int rc = sqlite3_step(lookup.get());
  if (rc != SQLITE_ROW) {
    if (rc == SQLITE_DONE) {
      err = {DB_E_NOTABLE, fmt::format("{}: has no table \"{}\"", path, table)};
    } else {
      err = {E_FAIL, fmt::format("{}: {}", path, sqlite3_errmsg(db.get()))};
    }
    return nullptr;
  }
  const std::string realName = reinterpret_cast<const char*>(sqlite3_column_text(lookup.get(), 0));
  lookup.reset();

  std::string quoted = "\"";
  for (char c : realName) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';

  // Ask SQLite itself whether the table has a rowid: "WITHOUT ROWID" may be spelt over
  // several lines, and a column may take over any of the rowid's names.
  SqliteStatement info =
      Prepare(db.get(),
              "SELECT wr, (SELECT group_concat(lower(name), ' ') FROM pragma_table_xinfo(?1)) "
              "FROM pragma_table_list WHERE schema = 'main' AND name = ?1",
              err, path);
  if (!info) return nullptr;
  sqlite3_bind_text(info.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(info.get()) != SQLITE_ROW) {
    err = {E_FAIL, fmt::format("{}: {}", path, sqlite3_errmsg(db.get()))};
    return nullptr;
  }
  const bool withoutRowid = sqlite3_column_int(info.get(), 0) != 0;
  const auto* names = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
  const std::string columnNames = std::string(" ") + (names ? names : "") + " ";
  info.reset();
  std::string order;
  if (!withoutRowid) {
    for (const char* alias : {"_rowid_", "rowid", "oid"}) {
      if (columnNames.find(std::string(" ") + alias + " ") == std::string::npos) {
        order = std::string(" ORDER BY ") + alias;
        break;
      }
    }
    // With every alias taken the rowid cannot be named; a plain scan still walks the
    // table in rowid order.
  }
  const std::string query = fmt::format("SELECT * FROM {}{}", quoted, order);
  SqliteStatement stmt = Prepare(db.get(), query, err, path);
  if (!stmt) return nullptr;

  std::vector<ColumnInfo> columns;
  const int n = sqlite3_column_count(stmt.get());
  columns.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(stmt.get(), i);
    columns.push_back(
        {name ? name : "", TypeFromDeclaration(sqlite3_column_decltype(stmt.get(), i))});
  }
  return std::make_unique<SqliteTableReader>(std::move(db), std::move(stmt), std::move(columns),
                                             path);
}

}  // namespace lanewright::store
