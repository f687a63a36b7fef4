#include "support/Fixtures.h"

#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <stdexcept>

#include "store/BoundReader.h"
#include "store/JetWriter.h"
#include "store/SqliteHandle.h"
#include "store/TableWriter.h"

namespace lanewright::testing {
namespace {

// The table is made with SQL, so that any column type can be asked for; the rows go in
// through the program's own writer, as those of the Jet fixtures do.
void WriteSqliteTable(const std::string& path, const std::string& table,
                      const std::vector<FixtureColumn>& columns,
                      const std::vector<store::Row>& rows) {
  std::string create = "CREATE TABLE " + store::QuoteSqlName(table) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i)
    create += (i ? ", " : "") + store::QuoteSqlName(columns[i].name) + " " + columns[i].type;
  sqlite3* db = nullptr;
  const bool created =
      sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  const std::string complaint = sqlite3_errmsg(db);
  sqlite3_close(db);
  if (!created) throw std::runtime_error("cannot create " + path + ": " + complaint);
  if (const store::StoreError err = store::AppendRows(path, table, rows); err.Failed())
    throw std::runtime_error("cannot write the fixture: " + err.reason);
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
