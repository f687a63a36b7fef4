#include "support/Fixtures.h"

#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <stdexcept>

#include "store/BoundReader.h"
#include "store/JetWriter.h"

namespace lanewright::testing {
namespace {

std::string Quote(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void WriteSqliteTable(const std::string& path, const std::string& table,
                      const std::vector<FixtureColumn>& columns,
                      const std::vector<store::Row>& rows) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot create " + path);
  }
  std::string create = "CREATE TABLE " + Quote(table) + " (";
  std::string insert = "INSERT INTO " + Quote(table) + " VALUES (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    create += (i ? ", " : "") + Quote(columns[i].name) + " " + columns[i].type;
    insert += i ? ", ?" : "?";
  }
  create += ")";
  insert += ")";
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  Check(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), db, "create");
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr), db, "prepare");
  for (const auto& row : rows) {
    sqlite3_reset(stmt);
    for (std::size_t i = 0; i < row.size(); ++i) {
      const int p = static_cast<int>(i) + 1;
      const store::Cell& cell = row[i];
      if (const auto* n = std::get_if<std::int64_t>(&cell)) {
        sqlite3_bind_int64(stmt, p, *n);
      } else if (const auto* d = std::get_if<double>(&cell)) {
        sqlite3_bind_double(stmt, p, *d);
      } else if (const auto* s = std::get_if<std::string>(&cell)) {
        sqlite3_bind_text(stmt, p, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
      } else if (const auto* b = std::get_if<store::Blob>(&cell)) {
        sqlite3_bind_blob(stmt, p, b->bytes.data(), static_cast<int>(b->bytes.size()),
                          SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(stmt, p);
      }
    }
    Check(sqlite3_step(stmt), db, "insert");
  }
  sqlite3_finalize(stmt);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
}

void WriteJetTable(store::JetVersion version, const std::string& path, const std::string& table,
                   const std::vector<FixtureColumn>& columns, const std::vector<store::Row>& rows) {
  store::JetTableSpec definition{table, {}, rows};
  for (const auto& c : columns) {
    const auto type = c.type == "INTEGER" ? store::JetColumnType::LongInteger
                      : c.type == "TEXT"  ? store::JetColumnType::Text
                      : c.type == "BLOB"
                          ? store::JetColumnType::Binary
                          : throw std::runtime_error("Jet fixtures have no column type " + c.type);
    definition.columns.push_back({c.name, type, 255});
  }
  const store::StoreError err = std::filesystem::exists(path)
                                    ? store::AddJetTable(path, definition)
                                    : store::CreateJetDatabase(path, version, {definition});
  if (err.Failed()) throw std::runtime_error("cannot write the Jet fixture: " + err.reason);
}

}  // namespace

const char* FormatName(FixtureFormat format) {
  return std::array{"Sqlite", "Jet4", "Jet3"}[static_cast<std::size_t>(format)];
}

void PrintTo(FixtureFormat format, std::ostream* out) { *out << FormatName(format); }

std::vector<FixtureFormat> AllFixtureFormats() {
  return {FixtureFormat::Sqlite, FixtureFormat::Jet4, FixtureFormat::Jet3};
}

void WriteTable(FixtureFormat format, const std::string& path, const std::string& table,
                const std::vector<FixtureColumn>& columns, const std::vector<store::Row>& rows) {
  if (format == FixtureFormat::Sqlite) return WriteSqliteTable(path, table, columns, rows);
  WriteJetTable(format == FixtureFormat::Jet4 ? store::JetVersion::Jet4 : store::JetVersion::Jet3,
                path, table, columns, rows);
}

void WriteEmpireFile(FixtureFormat format, const std::string& path,
                     const std::vector<EmpireRow>& rows) {
  std::vector<store::Row> cells;
  for (const auto& r : rows)
    cells.push_back({std::int64_t{r.column1}, std::int64_t{r.empire}, r.system, r.destination,
                     std::int64_t{r.warpPointId}});
  WriteTable(format, path, "Warp Points",
             {{"Index", "INTEGER"},
              {"Empire", "INTEGER"},
              {"System", "TEXT"},
              {"Destination", "TEXT"},
              {"WP", "INTEGER"}},
             cells);
}

std::vector<store::Row> ReadAllRows(const std::string& path, const std::string& table,
                                    store::StoreError& err) {
  std::vector<store::Row> rows;
  auto reader = store::OpenTable(path, table, err);
  if (!reader) return rows;
  store::Row row;
  while (reader->Next(row) == store::S_OK) rows.push_back(row);
  err = reader->error();
  return rows;
}

EmpireRead ReadEmpireTable(const std::string& path) {
  using Kind = store::Binding::Kind;
  store::BoundReader reader;
  std::vector<store::BoundField> values;
  EmpireRead read;
  read.last = reader.Open(
      path, "Warp Points",
      {{Kind::Int32}, {Kind::Int32}, {Kind::Text, 50}, {Kind::Text, 50}, {Kind::Int32}});
  while (read.last == store::S_OK && (read.last = reader.MoveNext(values)) == store::S_OK)
    ++read.rows;
  read.error = reader.error();
  return read;
}

}  // namespace lanewright::testing
