#pragma once

#include <cstdint>
#include <string>

#include "orders/TurnEntryStore.h"
#include "route/FindRoute.h"
#include "starmap/OutputBox.h"
#include "starmap/StarMap.h"

namespace lanewright {

// The values the "Generate Convoy Route" dialog hands back.
struct ConvoyValues {
  bool cancelled = false;
  std::int32_t empire = 9999;
  std::int32_t startOrder = 0;
  std::string fleet = "1234";
  std::string name;
  RouteMode strategy = RouteMode::ByJumps;
  bool convoy = true;
  bool survey = false;
  bool backSurvey = false;
};

struct StoreRouteResult {
  RouteResult route;
  bool stored = false;  // the orders are in the turn entry database
  int ordersStored = 0;
  store::StoreError storeError;  // the turn entry database could not be written
};

// Steps after the dialog closed with OK: the orders of the route from -> to (through
// visitText unless it is "[none]") are generated with a ConvoySink into output and, when
// the route was found, stored in one transaction into turnEntry. Nothing is stored
// otherwise, and the output says so.
StoreRouteResult StoreRoute(const StarMap& starMap, const std::string& from, const std::string& to,
                            const std::string& visitText, const ConvoyValues& values,
                            TurnEntryStore& turnEntry, OutputBox& output);

}  // namespace lanewright
