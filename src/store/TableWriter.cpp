#include "store/TableWriter.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "store/FileDescriptor.h"
#include "store/SqliteHandle.h"
#include "store/SqliteTable.h"

namespace lanewright::store {
namespace {

// SQLite's "database is locked" does not say whose lock it is.
StoreError ExplainBusy(const SqliteDb& db, StoreError err) {
  if ((sqlite3_errcode(db.get()) & 0xFF) == SQLITE_BUSY)
    err.reason += "; another program is using the file, try again when it is done";
  return err;
}

class SqliteSection final : public ExclusiveSection {
 public:
  SqliteSection(std::shared_ptr<const SqliteDb> db, std::string path)
      : db_(std::move(db)), path_(std::move(path)) {}
  std::unique_ptr<TableReader> OpenTable(const std::string& table, StoreError& err) override {
    return OpenSqliteTable(db_, path_, table, err);
  }

 private:
  std::shared_ptr<const SqliteDb> db_;
  std::string path_;
};

void Bind(sqlite3_stmt* s, int index, const Cell& cell) {
  if (const auto* n = std::get_if<std::int64_t>(&cell)) {
    sqlite3_bind_int64(s, index, *n);
  } else if (const auto* d = std::get_if<double>(&cell)) {
    sqlite3_bind_double(s, index, *d);
  } else if (const auto* t = std::get_if<std::string>(&cell)) {
    sqlite3_bind_text(s, index, t->data(), static_cast<int>(t->size()), SQLITE_TRANSIENT);
  } else if (const auto* b = std::get_if<Blob>(&cell)) {
    sqlite3_bind_blob(s, index, b->bytes.data(), static_cast<int>(b->bytes.size()),
                      SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(s, index);
  }
}

// Inserts the rows into the table's first columns, by position.
bool InsertRows(const SqliteDb& db, const std::string& path, const std::string& table,
                const std::vector<Row>& rows, StoreError& err) {
  db.AllowWork(kSqliteLookupSteps);
  std::string realName;
  if (!FindSqliteTable(db, path, table, realName, err)) return false;
  const std::string quoted = QuoteSqlName(realName);
  SqliteStatement probe = Prepare(db, "SELECT * FROM " + quoted, err, path);
  if (!probe) return false;
  const auto count = static_cast<std::size_t>(sqlite3_column_count(probe.get()));
  const std::size_t width = rows.front().size();
  if (width > count) {
    err = {DB_E_BADORDINAL, fmt::format("{}: table \"{}\" has {} columns, {} are needed", path,
                                        table, count, width)};
    return false;
  }
  std::string columns, params;
  for (std::size_t i = 0; i < width; ++i) {
    const char* name = sqlite3_column_name(probe.get(), static_cast<int>(i));
    columns += (i ? ", " : "") + QuoteSqlName(name ? name : "");
    params += fmt::format("{}?{}", i ? ", " : "", i + 1);
  }
  probe.reset();
  SqliteStatement insert = Prepare(
      db, fmt::format("INSERT INTO {} ({}) VALUES ({})", quoted, columns, params), err, path);
  if (!insert) return false;
  // Constraints, indexes and triggers run for every row; they get twice a reader's share.
  db.AllowWork(kSqliteStartSteps);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() != width) {
      err = {E_FAIL, fmt::format("{}: row {} has {} values, the first row {}", path, r + 1,
                                 rows[r].size(), width)};
      return false;
    }
    sqlite3_stmt* s = insert.get();
    sqlite3_reset(s);
    for (std::size_t i = 0; i < width; ++i) Bind(s, static_cast<int>(i) + 1, rows[r][i]);
    db.AddWork(2 * SqliteDb::StepsPerRow(count));
    if (sqlite3_step(s) != SQLITE_DONE) {
      const int code = sqlite3_errcode(db.get()) & 0xFF;
      err = db.WorkRanOut() || code == SQLITE_TOOBIG
                ? SqliteFailure(db, path)
                : StoreError{E_FAIL, fmt::format("{}: row {} of table \"{}\" was refused: {}", path,
                                                 r + 1, table, sqlite3_errmsg(db.get()))};
      return false;
    }
  }
  return true;
}

StoreError AppendSqliteRows(const std::string& path, const std::string& table,
                            const DecideRows& decide) {
  StoreError err;
  SqliteDb opened = OpenSqlite(path, SQLITE_OPEN_READWRITE, err);
  if (!opened) return err;
  const auto db = std::make_shared<const SqliteDb>(std::move(opened));
  SqliteTransaction transaction(*db, err, path);
  if (!transaction.Began()) return ExplainBusy(*db, err);
  SqliteSection section(db, path);
  StoreError decided;
  const std::vector<Row> rows = decide(section, decided);
  if (decided.Failed()) return decided;
  if (rows.empty()) return {};
  if (!InsertRows(*db, path, table, rows, err)) return err;
  if (!transaction.Commit(err)) return ExplainBusy(*db, err);
  return {};
}

std::string SqliteType(const NewColumn& c) {
  switch (c.type) {
    case JetColumnType::Text:
      return fmt::format("VARCHAR({})", c.length);
    case JetColumnType::Binary:
      return "BLOB";
    default:
      return "INTEGER";
  }
}

std::string CreateSql(const std::vector<NewTable>& tables) {
  std::string sql = "BEGIN;";
  for (const NewTable& t : tables) {
    sql += "CREATE TABLE " + QuoteSqlName(t.name) + " (";
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const NewColumn& c = t.columns[i];
      sql += fmt::format("{}{} {} NOT NULL", i ? ", " : "", QuoteSqlName(c.name), SqliteType(c));
      if (c.defaultText) {
        std::string literal = "'";
        for (char ch : *c.defaultText)
          literal += ch == '\'' ? std::string("''") : std::string(1, ch);
        sql += " DEFAULT " + literal + "'";
      }
    }
    sql += ");";
  }
  return sql + "COMMIT;";
}

StoreError CreateSqliteDatabase(const std::string& path, const std::vector<NewTable>& tables) {
  // O_EXCL makes "never overwrite" hold even against a file that appears meanwhile.
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd) {
    const int e = errno;
    return {E_FAIL, e == EEXIST
                        ? fmt::format("{}: already exists; it is not overwritten", path)
                        : fmt::format("{}: cannot be created ({})", path, std::strerror(e))};
  }
  fd.reset();
  StoreError err;
  bool ok = false;
  {
    SqliteDb db = OpenSqlite(path, SQLITE_OPEN_READWRITE, err);
    ok = db && Execute(db, CreateSql(tables), err, path);
    if (!ok && db) sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (!ok) std::remove(path.c_str());
  return ok ? StoreError{} : err;
}

}  // namespace

StoreError AppendRows(const std::string& path, const std::string& table,
                      const std::vector<Row>& rows) {
  if (rows.empty()) return {};
  return AppendRowsExclusively(path, table,
                               [&rows](ExclusiveSection&, StoreError&) { return rows; });
}

StoreError AppendRowsExclusively(const std::string& path, const std::string& table,
                                 const DecideRows& decide) {
  StoreError err;
  switch (DetectFileFormat(path, &err)) {
    case FileFormat::Sqlite:
      return AppendSqliteRows(path, table, decide);
    case FileFormat::Jet:
      return AppendJetRowsExclusively(path, table, decide);
    default:
      return err;
  }
}

StoreError CreateDatabase(const std::string& path, DatabaseFormat format,
                          const std::vector<NewTable>& tables) {
  if (format == DatabaseFormat::Sqlite) return CreateSqliteDatabase(path, tables);
  std::vector<JetTableSpec> definitions;
  for (const NewTable& t : tables) {
    JetTableSpec definition{t.name, {}, {}};
    for (const NewColumn& c : t.columns) definition.columns.push_back({c.name, c.type, c.length});
    definitions.push_back(std::move(definition));
  }
  return CreateJetDatabase(
      path, format == DatabaseFormat::Jet3 ? JetVersion::Jet3 : JetVersion::Jet4, definitions);
}

}  // namespace lanewright::store
