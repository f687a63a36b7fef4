#include "store/SqliteTable.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <cctype>
#include <cstring>
#include <string_view>

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
  SqliteTableReader(std::shared_ptr<const SqliteDb> db, SqliteStatement stmt,
                    std::vector<ColumnInfo> columns, std::string from, std::string path)
      : db_(std::move(db)),
        stmt_(std::move(stmt)),
        columns_(std::move(columns)),
        from_(std::move(from)),
        path_(std::move(path)),
        width_(columns_.size()) {}

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  const StoreError& error() const override { return error_; }

  void LimitColumns(std::size_t n) override {
    if (n >= width_ || started_ || done_ != S_OK) return;
    // Columns that are not selected are not computed: a generated column there cannot
    // cost anything, a large value there cannot refuse the file.
    std::string select;
    for (std::size_t i = 0; i < n; ++i) select += (i ? ", " : "") + QuoteSqlName(columns_[i].name);
    if (n == 0) select = "NULL";
    stmt_.reset();
    stmt_ = Prepare(*db_, fmt::format("SELECT {} FROM {}", select, from_), error_, path_);
    if (!stmt_) {
      done_ = E_FAIL;
      return;
    }
    width_ = n;
  }

  HResult NextView(std::vector<CellView>& cells) override {
    if (done_ != S_OK) return done_;
    if (!started_) {
      started_ = true;
      db_->AllowWork(kSqliteStartSteps);
    }
    sqlite3_stmt* s = stmt_.get();
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) return Finish(DB_S_ENDOFROWSET);
    if (rc != SQLITE_ROW) {
      error_ = SqliteFailure(*db_, path_);
      return Finish(E_FAIL);
    }
    db_->AddWork(SqliteDb::StepsPerRow(width_));
    cells.resize(width_);
    for (int i = 0; i < static_cast<int>(width_); ++i) {
      CellView& cell = cells[static_cast<std::size_t>(i)];
      // The connection has no mutex, so the value may be read directly (one call less
      // per column than through sqlite3_column_*).
      sqlite3_value* v = sqlite3_column_value(s, i);
      switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
          cell.kind = CellView::Kind::Integer;
          cell.integer = sqlite3_value_int64(v);
          break;
        case SQLITE_FLOAT:
          cell.kind = CellView::Kind::Real;
          cell.real = sqlite3_value_double(v);
          break;
        case SQLITE_TEXT: {
          // A text ends at its first NUL, as every reader of a zero-terminated field sees
          // it; nothing after it may reach a name or a file. SQLite ends every text with
          // one, so its length is where the first one is.
          const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
          cell.kind = CellView::Kind::Text;
          cell.bytes = p ? std::string_view(p) : std::string_view();
          break;
        }
        case SQLITE_BLOB: {
          const auto* p = static_cast<const char*>(sqlite3_value_blob(v));
          cell.kind = CellView::Kind::Bytes;
          cell.bytes = {p ? p : "", p ? static_cast<std::size_t>(sqlite3_value_bytes(v)) : 0};
          break;
        }
        default:
          cell.kind = CellView::Kind::Null;
      }
    }
    return S_OK;
  }

 private:
  HResult Finish(HResult hr) {
    // The statement is done with: a reader that is kept must not hold the file's shared
    // lock (or pin a transaction's snapshot) for longer than the rows took.
    stmt_.reset();
    return done_ = hr;
  }

  std::shared_ptr<const SqliteDb> db_;
  SqliteStatement stmt_;
  std::vector<ColumnInfo> columns_;
  std::string from_;  // the table and the order, after "FROM"
  std::string path_;
  std::size_t width_;  // columns delivered
  StoreError error_;
  HResult done_ = S_OK;
  bool started_ = false;
};

}  // namespace

bool FindSqliteTable(const SqliteDb& db, const std::string& path, const std::string& table,
                     std::string& realName, StoreError& err) {
  SqliteStatement lookup = Prepare(
      db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE", err,
      path);
  if (!lookup) return false;
  sqlite3_bind_text(lookup.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  const int rc = sqlite3_step(lookup.get());
  if (rc != SQLITE_ROW) {
    err = rc == SQLITE_DONE
              ? StoreError{DB_E_NOTABLE, fmt::format("{}: has no table \"{}\"", path, table)}
              : SqliteFailure(db, path);
    return false;
  }
  const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(lookup.get(), 0));
  realName = name ? name : "";
  return true;
}

std::unique_ptr<TableReader> OpenSqliteTable(const std::string& path, const std::string& table,
                                             StoreError& err) {
  SqliteDb db = OpenSqlite(path, SQLITE_OPEN_READONLY, err);
  if (!db) return nullptr;
  return OpenSqliteTable(std::make_shared<const SqliteDb>(std::move(db)), path, table, err);
}

std::unique_ptr<TableReader> OpenSqliteTable(std::shared_ptr<const SqliteDb> db,
                                             const std::string& path, const std::string& table,
                                             StoreError& err) {
  db->AllowWork(kSqliteLookupSteps);
  std::string realName;
  if (!FindSqliteTable(*db, path, table, realName, err)) return nullptr;

  // Ask SQLite itself whether the table has a rowid: "WITHOUT ROWID" may be spelt over
  // several lines, and a column may take over any of the rowid's names. The table's name
  // is an argument of the pragma, so that no other table or view is looked at.
  SqliteStatement info =
      Prepare(*db,
              "SELECT wr, (SELECT group_concat(lower(name), ' ') FROM pragma_table_xinfo(?1)), "
              "type FROM pragma_table_list(?1) WHERE schema = 'main'",
              err, path);
  if (!info) return nullptr;
  sqlite3_bind_text(info.get(), 1, realName.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(info.get()) != SQLITE_ROW) {
    err = SqliteFailure(*db, path);
    return nullptr;
  }
  const bool withoutRowid = sqlite3_column_int(info.get(), 0) != 0;
  const auto* names = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
  const std::string columnNames = std::string(" ") + (names ? names : "") + " ";
  const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 2));
  if (type && std::string_view(type) == "virtual") {
    // Reading it would run the code of its module (full-text search, r-tree) on data the
    // file's author chose; a table of a game's data is never one.
    err = {E_FAIL, fmt::format("{}: refused: \"{}\" is a virtual table", path, realName)};
    return nullptr;
  }
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
  std::string from = QuoteSqlName(realName) + order;
  SqliteStatement stmt = Prepare(*db, "SELECT * FROM " + from, err, path);
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
                                             std::move(from), path);
}

}  // namespace lanewright::store
