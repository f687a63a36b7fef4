#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orders/TurnEntryStore.h"
#include "store/ResultCodes.h"

namespace lanewright {

// The shape of the two tables, bound by position: "Orders" is empire (number), order
// code (text), order number (number) and 51 argument texts; "Fleets" is empire, fleet
// number and one text nobody reads. Every text holds at most 50 characters.
inline constexpr std::size_t kOrderColumns = 54;
inline constexpr std::size_t kFleetColumns = 3;
inline constexpr std::size_t kTurnEntryTextChars = 50;

// The turn entry database file (SQLite or Jet, told apart by signature). Every call opens
// the file in shared mode and closes it before it returns, so the game's own entry program
// may keep it open meanwhile. A file another program holds locked makes a call wait up to
// store::LockWait() and then fail; it never writes part of a batch.
class TurnEntryDatabase final : public TurnEntryStore {
 public:
  explicit TurnEntryDatabase(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Rows that could not be read (a missing value, a text over 50 characters, a number
  // that does not convert) are skipped and counted in LastSkippedRows. A file that turns
  // out to be damaged part-way is an error, not a shorter table: a partial scan could
  // hand out an order number that is already taken.
  std::int32_t HighestOrderNumber(std::int32_t empire, store::StoreError& err) override;
  std::vector<std::int32_t> ListFleets(std::int32_t empire, store::StoreError& err) override;

  // All rows or none, decided inside the store's exclusive section (see
  // store::AppendRowsExclusively): SQLite files in one transaction, Jet files through the
  // Jet writer (which refuses tables with indexes, and files another program has open).
  // The taken numbers come from the same scan rules as HighestOrderNumber, so a file
  // damaged part-way stores nothing. Texts are cut to 50 characters. Rows of another
  // empire than the one whose numbers were read are refused.
  bool InsertOrders(std::int32_t empire, const DecideRows& decide, store::StoreError& err) override;

  // Both tables can be opened and bound.
  bool Check(store::StoreError& err) override;

  // Unreadable rows skipped by the last HighestOrderNumber, ListFleets or InsertOrders.
  int LastSkippedRows() const { return skipped_; }

 private:
  std::string path_;
  int skipped_ = 0;
};

enum class TurnEntryFormat { Sqlite, Jet4, Jet3 };

// Creates an empty turn entry database with both tables at path, as an SQLite file or a
// Jet (.mdb) file. Refuses when anything already exists there, and leaves nothing behind
// when it fails part-way.
bool CreateTurnEntryDatabase(const std::string& path, store::StoreError& err,
                             TurnEntryFormat format = TurnEntryFormat::Sqlite);

}  // namespace lanewright
