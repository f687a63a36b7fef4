#pragma once

#include <cstdint>
#include <functional>
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
  // Inside one exclusive section of the store: reads the order numbers the empire already
  // has (every readable "Orders" row of that empire; ascending, distinct), passes them to
  // decide, and stores the rows decide returns, all in one transaction. When decide fills
  // its err (or returns no rows) nothing is stored; decide's err is then returned in err.
  using DecideRows = std::function<std::vector<OrderRow>(
      const std::vector<std::int32_t>& takenNumbers, store::StoreError& err)>;
  virtual bool InsertOrders(std::int32_t empire, const DecideRows& decide,
                            store::StoreError& err) = 0;
  // Whether the store can be opened and has both tables; err says why not.
  virtual bool Check(store::StoreError& err) = 0;
};

}  // namespace lanewright
