#include "orders/TurnEntryDatabase.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "store/BoundReader.h"
#include "store/JetWriter.h"
#include "store/SqliteHandle.h"
#include "store/Table.h"

namespace lanewright {
namespace {

using store::Binding;
using store::BoundValue;
using store::HResult;
using store::StoreError;

constexpr const char* kOrdersTable = "Orders";
constexpr const char* kFleetsTable = "Fleets";

// The game's own entry program may leave unused arguments NULL. Such a row must still
// count: skipping it could hand out an order number that is already taken.
std::vector<Binding> OrderBindings() {
  std::vector<Binding> b(kOrderColumns, Binding{Binding::Kind::Text, kTurnEntryTextChars, true});
  b[0] = Binding{Binding::Kind::Int32};
  b[1] = Binding{Binding::Kind::Text, kTurnEntryTextChars};
  b[2] = Binding{Binding::Kind::Int32};
  return b;
}

std::vector<Binding> FleetBindings() {
  return {{Binding::Kind::Int32},
          {Binding::Kind::Int32},
          {Binding::Kind::Text, kTurnEntryTextChars, true}};
}

// Reads every readable row of a table into onRow. False with err filled when the table
// cannot be opened or the file turns out to be damaged part-way.
template <class OnRow>
bool Scan(const std::string& path, const char* table, std::vector<Binding> bindings, int& skipped,
          StoreError& err, OnRow onRow) {
  skipped = 0;
  store::BoundReader reader;
  if (reader.Open(path, table, std::move(bindings)) != store::S_OK) {
    err = reader.error();
    return false;
  }
  std::vector<BoundValue> values;
  HResult hr;
  while ((hr = reader.MoveNext(values)) == store::S_OK) onRow(values);
  skipped = reader.SkippedRows();
  if (hr < 0) {
    err = reader.error();
    return false;
  }
  return true;
}

std::string QuoteName(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + '"';
}

std::string Upper(const char* text) {
  std::string s = text ? text : "";
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Why a file that is neither an SQLite nor a Jet file cannot take orders.
std::string WhyNotWritable(const std::string& path, store::FileFormat format) {
  switch (format) {
    case store::FileFormat::Missing:
      return fmt::format("{}: no such file", path);
    case store::FileFormat::Unreadable:
      return fmt::format("{}: cannot be read (a folder, or no permission?)", path);
    default:
      return fmt::format("{}: not a Jet (.mdb) or SQLite database", path);
  }
}

std::string Cut(const std::string& text) { return store::Utf8Prefix(text, kTurnEntryTextChars); }

// The Jet writer works on a copy, reads it back and only then puts it in place, so a
// refused batch leaves the file as it was, like a rolled-back transaction.
bool InsertIntoJet(const std::string& path, const std::vector<OrderRow>& rows, StoreError& err) {
  // The writer wants a value for every column; columns past the bound ones stay empty.
  std::size_t columns = 0;
  if (auto reader = store::OpenTable(path, kOrdersTable, err)) {
    columns = reader->Columns().size();
  } else {
    return false;
  }
  if (columns < kOrderColumns) {
    err = {store::DB_E_BADORDINAL, fmt::format("{}: table \"Orders\" has {} columns, {} are needed",
                                               path, columns, kOrderColumns)};
    return false;
  }
  std::vector<store::Row> cells;
  cells.reserve(rows.size());
  for (const OrderRow& row : rows) {
    store::Row r(columns, store::Cell{});
    std::fill_n(r.begin() + 6, kOrderColumns - 6, store::Cell{std::string(" ")});
    r[0] = std::int64_t{row.empire};
    r[1] = Cut(row.orderCode);
    r[2] = std::int64_t{row.orderNumber};
    r[3] = Cut(row.argument1);
    r[4] = Cut(row.argument2);
    r[5] = Cut(row.argument3);
    cells.push_back(std::move(r));
  }
  StoreError result = store::AppendJetRows(path, kOrdersTable, cells);
  if (!result.Failed()) return true;
  err = std::move(result);
  return false;
}

// The INSERT statement for "Orders", naming its first 54 columns so that a table with
// further columns still takes our rows. Checks the table the way the reader binds it.
store::SqliteStatement PrepareOrderInsert(sqlite3* db, const std::string& path, StoreError& err) {
  store::SqliteStatement lookup = store::Prepare(
      db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE", err,
      path);
  if (!lookup) return nullptr;
  sqlite3_bind_text(lookup.get(), 1, kOrdersTable, -1, SQLITE_STATIC);
  const int rc = sqlite3_step(lookup.get());
  if (rc != SQLITE_ROW) {
    err = rc == SQLITE_DONE
              ? StoreError{store::DB_E_NOTABLE, fmt::format("{}: has no table \"Orders\"", path)}
              : StoreError{store::E_FAIL, fmt::format("{}: {}", path, sqlite3_errmsg(db))};
    return nullptr;
  }
  const std::string table =
      QuoteName(reinterpret_cast<const char*>(sqlite3_column_text(lookup.get(), 0)));
  lookup.reset();

  store::SqliteStatement probe = store::Prepare(db, "SELECT * FROM " + table, err, path);
  if (!probe) return nullptr;
  const auto count = static_cast<std::size_t>(sqlite3_column_count(probe.get()));
  if (count < kOrderColumns) {
    err = {store::DB_E_BADORDINAL, fmt::format("{}: table \"Orders\" has {} columns, {} are needed",
                                               path, count, kOrderColumns)};
    return nullptr;
  }
  std::string columns, params;
  for (int i = 0; i < static_cast<int>(kOrderColumns); ++i) {
    if (Upper(sqlite3_column_decltype(probe.get(), i)).find("BLOB") != std::string::npos) {
      err = {store::DB_E_UNSUPPORTEDCONVERSION,
             fmt::format("{}: column {} of table \"Orders\" holds binary data", path, i + 1)};
      return nullptr;
    }
    const char* name = sqlite3_column_name(probe.get(), i);
    columns += (i ? ", " : "") + QuoteName(name ? name : "");
    params += fmt::format("{}?{}", i ? ", " : "", i + 1);
  }
  return store::Prepare(db, fmt::format("INSERT INTO {} ({}) VALUES ({})", table, columns, params),
                        err, path);
}

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  const std::string cut = Cut(text);
  sqlite3_bind_text(stmt, index, cut.data(), static_cast<int>(cut.size()), SQLITE_TRANSIENT);
}

// SQLite's "database is locked" does not say whose lock it is. Returns false.
bool ExplainBusy(sqlite3* db, StoreError& err) {
  if ((sqlite3_errcode(db) & 0xff) == SQLITE_BUSY)
    err.reason += "; another program is using the file, try again when it is done";
  return false;
}

bool InsertIntoSqlite(const std::string& path, const std::vector<OrderRow>& rows, StoreError& err) {
  store::SqliteDb db = store::OpenSqlite(path, SQLITE_OPEN_READWRITE, err);
  if (!db) return false;
  // Declared before the statement so that the statement is finalised before the
  // transaction rolls back.
  store::SqliteTransaction transaction(db.get(), err, path);
  if (!transaction.Began()) return ExplainBusy(db.get(), err);
  store::SqliteStatement insert = PrepareOrderInsert(db.get(), path, err);
  if (!insert) return false;
  for (const OrderRow& row : rows) {
    sqlite3_stmt* s = insert.get();
    sqlite3_reset(s);
    sqlite3_bind_int(s, 1, row.empire);
    BindText(s, 2, row.orderCode);
    sqlite3_bind_int(s, 3, row.orderNumber);
    BindText(s, 4, row.argument1);
    BindText(s, 5, row.argument2);
    BindText(s, 6, row.argument3);
    for (int i = 7; i <= static_cast<int>(kOrderColumns); ++i)
      sqlite3_bind_text(s, i, " ", 1, SQLITE_STATIC);
    if (sqlite3_step(s) != SQLITE_DONE) {
      err = {store::E_FAIL, fmt::format("{}: order {} of empire {} was refused: {}", path,
                                        row.orderNumber, row.empire, sqlite3_errmsg(db.get()))};
      return false;
    }
  }
  insert.reset();
  return transaction.Commit(err) || ExplainBusy(db.get(), err);
}

std::string CreateSchemaSql() {
  std::string orders =
      "CREATE TABLE \"Orders\" (\"Empire\" INTEGER NOT NULL, \"Order Code\" VARCHAR(50) NOT "
      "NULL, \"Order Number\" INTEGER NOT NULL";
  for (std::size_t i = 1; i + 3 <= kOrderColumns; ++i)
    orders += fmt::format(", \"Argument {}\" VARCHAR(50) NOT NULL DEFAULT ' '", i);
  orders += ");";
  return "BEGIN;" + orders +
         "CREATE TABLE \"Fleets\" (\"Empire\" INTEGER NOT NULL, \"Fleet Number\" INTEGER NOT "
         "NULL, \"Name\" VARCHAR(50) NOT NULL DEFAULT ' ');"
         "COMMIT;";
}

}  // namespace

std::int32_t TurnEntryDatabase::HighestOrderNumber(std::int32_t empire, StoreError& err) {
  std::int32_t highest = 0;
  const bool ok = Scan(path_, kOrdersTable, OrderBindings(), skipped_, err,
                       [&](const std::vector<BoundValue>& v) {
                         if (v[0].number == empire && v[2].number > highest) highest = v[2].number;
                       });
  return ok ? highest : 0;
}

std::vector<std::int32_t> TurnEntryDatabase::ListFleets(std::int32_t empire, StoreError& err) {
  std::vector<std::int32_t> fleets;
  const bool ok = Scan(path_, kFleetsTable, FleetBindings(), skipped_, err,
                       [&](const std::vector<BoundValue>& v) {
                         if (v[0].number == empire) fleets.push_back(v[1].number);
                       });
  if (!ok) fleets.clear();
  return fleets;
}

bool TurnEntryDatabase::InsertOrders(std::int32_t empire, const DecideRows& decide,
                                     StoreError& err) {
  std::vector<std::int32_t> taken;
  if (!Scan(path_, kOrdersTable, OrderBindings(), skipped_, err,
            [&](const std::vector<BoundValue>& v) {
              if (v[0].number == empire) taken.push_back(v[2].number);
            }))
    return false;
  std::sort(taken.begin(), taken.end());
  taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
  const std::vector<OrderRow> rows = decide(taken, err);
  if (err.Failed()) return false;
  if (rows.empty()) return true;
  switch (const store::FileFormat format = store::DetectFileFormat(path_)) {
    case store::FileFormat::Sqlite:
      return InsertIntoSqlite(path_, rows, err);
    case store::FileFormat::Jet:
      return InsertIntoJet(path_, rows, err);
    default:
      err = {store::E_FAIL, WhyNotWritable(path_, format)};
      return false;
  }
}

bool TurnEntryDatabase::Check(StoreError& err) {
  // Opening is enough: the reader checks the bindings against the columns on open.
  store::BoundReader reader;
  if (reader.Open(path_, kOrdersTable, OrderBindings()) != store::S_OK ||
      reader.Open(path_, kFleetsTable, FleetBindings()) != store::S_OK) {
    err = reader.error();
    return false;
  }
  return true;
}

namespace {

bool CreateJetTurnEntryDatabase(const std::string& path, store::JetVersion version,
                                StoreError& err) {
  using store::JetColumnType;
  store::JetTableSpec orders{std::string(kOrdersTable),
                             {{"Empire", JetColumnType::LongInteger},
                              {"Order Code", JetColumnType::Text, 50},
                              {"Order Number", JetColumnType::LongInteger}},
                             {}};
  for (std::size_t i = 1; i + 3 <= kOrderColumns; ++i)
    orders.columns.push_back({fmt::format("Argument {}", i), JetColumnType::Text, 50});
  const store::JetTableSpec fleets{std::string(kFleetsTable),
                                   {{"Empire", JetColumnType::LongInteger},
                                    {"Fleet Number", JetColumnType::LongInteger},
                                    {"Name", JetColumnType::Text, 50}},
                                   {}};
  err = store::CreateJetDatabase(path, version, {orders, fleets});
  return !err.Failed();
}

}  // namespace

bool CreateTurnEntryDatabase(const std::string& path, StoreError& err, TurnEntryFormat format) {
  if (format == TurnEntryFormat::Jet4)
    return CreateJetTurnEntryDatabase(path, store::JetVersion::Jet4, err);
  if (format == TurnEntryFormat::Jet3)
    return CreateJetTurnEntryDatabase(path, store::JetVersion::Jet3, err);
  // O_EXCL makes "never overwrite" hold even against a file that appears meanwhile.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int e = errno;
    err = {store::E_FAIL, e == EEXIST
                              ? fmt::format("{}: already exists; it is not overwritten", path)
                              : fmt::format("{}: cannot be created ({})", path, std::strerror(e))};
    return false;
  }
  ::close(fd);
  bool ok = false;
  {
    store::SqliteDb db = store::OpenSqlite(path, SQLITE_OPEN_READWRITE, err);
    ok = db && store::Execute(db.get(), CreateSchemaSql(), err, path);
    if (!ok && db) sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (!ok) std::remove(path.c_str());
  return ok;
}

}  // namespace lanewright
