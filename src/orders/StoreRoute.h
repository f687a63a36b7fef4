#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orders/TurnEntryStore.h"
#include "route/FindRoute.h"
#include "starmap/OutputBox.h"
#include "starmap/StarMap.h"

namespace lanewright {

// The values the "Generate Convoy Route" dialog (or store-route's options) hand back.
struct ConvoyValues {
  bool cancelled = false;
  std::int32_t empire = 9999;
  std::int32_t startOrder = 0;
  // The start order is the empire's highest order number + 10 (DefaultStartOrder): it is
  // computed again inside the store's exclusive section, so that it never collides.
  bool defaultStartOrder = false;
  std::string fleet = "1234";
  std::string name;
  RouteMode strategy = RouteMode::ByJumps;
  bool convoy = true;
  bool survey = false;
  bool backSurvey = false;
};

// The number a run starts with unless the user gives one: the empire's highest order number
// + 10 (10 for an empire without orders). Nothing, with err filled, when the store cannot be
// read. The number may lie past what a front end can take (an "Orders" column holds at most
// 2147483647, the dialog's field 9999); each front end says so instead of cutting it.
std::optional<std::int64_t> DefaultStartOrder(TurnEntryStore& store, std::int32_t empire,
                                              store::StoreError& err);

// The name a convoy gets unless the user gives one.
std::string DefaultConvoyName(const std::string& from, const std::string& to);

// The longest text a column of the turn entry database holds; longer names are stored cut.
inline constexpr std::size_t kStoredNameChars = 50;

struct StoreRouteResult {
  RoutePlan plan;
  bool stored = false;  // the orders are in the turn entry database
  int ordersStored = 0;
  std::int64_t firstOrder = 0;   // the number the orders were numbered from
  store::StoreError storeError;  // the turn entry database could not be written
};

// Steps after the dialog closed with OK: the route of request (from -> to through its stops,
// avoiding starMap.avoidSystems) is searched one way in the dialog's strategy, its orders are
// generated with a ConvoySink into output and, when the route was found, stored in one
// transaction into turnEntry. Nothing is stored otherwise, and the output says so. A start
// order given by the user that collides with an order of the empire stores nothing and names
// the taken numbers.
StoreRouteResult StoreRoute(const StarMap& starMap, RoutePlanner& planner, RouteRequest request,
                            const ConvoyValues& values, TurnEntryStore& turnEntry,
                            OutputBox& output);

}  // namespace lanewright
