#include "orders/TurnEntryDatabase.h"

#include <fmt/format.h>

#include <algorithm>

#include "store/BoundReader.h"
#include "store/TableWriter.h"

namespace lanewright {
namespace {

using store::Binding;
using store::BoundField;
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

// Reads every readable row of a table opened with `opened` into onRow. False with err
// filled when the table could not be opened or the file turns out to be damaged part-way.
template <class OnRow>
bool ReadAll(store::BoundReader& reader, HResult opened, int& skipped, StoreError& err,
             OnRow onRow) {
  skipped = 0;
  if (opened != store::S_OK) {
    err = reader.error();
    return false;
  }
  std::vector<BoundField> fields;
  HResult hr;
  while ((hr = reader.MoveNext(fields)) == store::S_OK) onRow(fields);
  skipped = reader.SkippedRows();
  if (hr < 0) {
    err = reader.error();
    return false;
  }
  return true;
}

std::string Cut(const std::string& text) { return store::Utf8Prefix(text, kTurnEntryTextChars); }

// An order as the table's first columns hold it; argument4 to argument51 are " ".
store::Row OrderCells(const OrderRow& order) {
  store::Row row(kOrderColumns, store::Cell{std::string(" ")});
  row[0] = std::int64_t{order.empire};
  row[1] = Cut(order.orderCode);
  row[2] = std::int64_t{order.orderNumber};
  row[3] = Cut(order.argument1);
  row[4] = Cut(order.argument2);
  row[5] = Cut(order.argument3);
  return row;
}

}  // namespace

std::int32_t TurnEntryDatabase::HighestOrderNumber(std::int32_t empire, StoreError& err) {
  std::int32_t highest = 0;
  store::BoundReader reader;
  const HResult opened = reader.Open(path_, kOrdersTable, OrderBindings());
  const bool ok = ReadAll(reader, opened, skipped_, err, [&](const std::vector<BoundField>& v) {
    if (v[0].number == empire && v[2].number > highest) highest = v[2].number;
  });
  return ok ? highest : 0;
}

std::vector<std::int32_t> TurnEntryDatabase::ListFleets(std::int32_t empire, StoreError& err) {
  std::vector<std::int32_t> fleets;
  store::BoundReader reader;
  const HResult opened = reader.Open(path_, kFleetsTable, FleetBindings());
  const bool ok = ReadAll(reader, opened, skipped_, err, [&](const std::vector<BoundField>& v) {
    if (v[0].number == empire) fleets.push_back(v[1].number);
  });
  if (!ok) fleets.clear();
  return fleets;
}

bool TurnEntryDatabase::InsertOrders(std::int32_t empire, const DecideRows& decide,
                                     StoreError& err) {
  const auto inSection = [&](store::ExclusiveSection& section, StoreError& e) {
    std::vector<store::Row> rows;
    std::unique_ptr<store::TableReader> table = section.OpenTable(kOrdersTable, e);
    if (!table) return rows;
    store::BoundReader reader;
    const HResult opened = reader.Open(std::move(table), path_, kOrdersTable, OrderBindings());
    std::vector<std::int32_t> taken;
    if (!ReadAll(reader, opened, skipped_, e, [&](const std::vector<BoundField>& v) {
          if (v[0].number == empire) taken.push_back(v[2].number);
        }))
      return rows;
    reader.Release();  // the read is done with before anything is written
    std::sort(taken.begin(), taken.end());
    taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
    const std::vector<OrderRow> orders = decide(taken, e);
    if (e.Failed()) return rows;
    for (const OrderRow& order : orders) {
      if (order.empire != empire) {
        e = {store::E_FAIL,
             fmt::format("{}: an order of empire {} was given to store for empire {}", path_,
                         order.empire, empire)};
        return std::vector<store::Row>{};
      }
      rows.push_back(OrderCells(order));
    }
    return rows;
  };
  StoreError result = store::AppendRowsExclusively(path_, kOrdersTable, inSection);
  if (!result.Failed()) return true;
  err = std::move(result);
  return false;
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

bool CreateTurnEntryDatabase(const std::string& path, StoreError& err, TurnEntryFormat format) {
  using store::JetColumnType;
  store::NewTable orders{kOrdersTable,
                         {{"Empire", JetColumnType::LongInteger},
                          {"Order Code", JetColumnType::Text, 50},
                          {"Order Number", JetColumnType::LongInteger}}};
  for (std::size_t i = 1; i + 3 <= kOrderColumns; ++i)
    orders.columns.push_back({fmt::format("Argument {}", i), JetColumnType::Text, 50, " "});
  const store::NewTable fleets{kFleetsTable,
                               {{"Empire", JetColumnType::LongInteger},
                                {"Fleet Number", JetColumnType::LongInteger},
                                {"Name", JetColumnType::Text, 50, " "}}};
  store::DatabaseFormat file = store::DatabaseFormat::Sqlite;
  if (format == TurnEntryFormat::Jet4) file = store::DatabaseFormat::Jet4;
  if (format == TurnEntryFormat::Jet3) file = store::DatabaseFormat::Jet3;
  err = store::CreateDatabase(path, file, {orders, fleets});
  return !err.Failed();
}

}  // namespace lanewright
