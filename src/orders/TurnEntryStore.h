#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/ResultCodes.h"

namespace lanewright {

// One row of the "Orders" table as Lanewright writes it; argument4 to argument51 are " ".
struct OrderRow {
  std::int32_t empire = 0;
  std::string orderCode;
  std::int32_t orderNumber = 0;
  std::string argument1, argument2, argument3;

  bool operator==(const OrderRow&) const = default;
};

// The turn entry database as the convoy dialog and Store Route use it. TurnEntryDatabase
// is the real one (an SQLite or Jet file); tests and the GUI tests put in their own.
class TurnEntryStore {
 public:
  virtual ~TurnEntryStore() = default;
  // Opens and closes the store for each call. A store that cannot be read fills err
  // (and returns 0 / an empty list).
  virtual std::int32_t HighestOrderNumber(std::int32_t empire, store::StoreError& err) = 0;
  virtual std::vector<std::int32_t> ListFleets(std::int32_t empire, store::StoreError& err) = 0;
  // Stores all rows in one transaction, or none of them. False with err filled on failure.
  virtual bool InsertOrders(const std::vector<OrderRow>& rows, store::StoreError& err) = 0;
  // Whether the store can be opened and has both tables; err says why not.
  virtual bool Check(store::StoreError& err) = 0;
};

}  // namespace lanewright
