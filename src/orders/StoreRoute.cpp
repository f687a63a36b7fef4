#include "orders/StoreRoute.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "orders/ConvoySink.h"

namespace lanewright {
namespace {

struct RenderedOrders {
  std::string text;
  std::vector<OrderRow> rows;
  bool overflowed = false;
  bool atLineStart = true;
};

// The listing and the rows of a run numbered from start.
RenderedOrders RenderOrders(const RoutePlan& plan, const StarMap& starMap,
                            const ConvoyValues& values, std::int64_t start) {
  StringOutputBox box;
  ConvoySink sink(box, values.empire, start, values.fleet, values.survey, values.backSurvey);
  sink.Clear();
  if (values.convoy) sink.WriteConvoyOrder(values.name);
  RenderRoute(plan, sink, starMap.systemEmpire);
  if (values.convoy) sink.WriteConvoyOrder(values.name);
  return {box.Text(), sink.Orders(), sink.NumberingOverflowed(), sink.AtLineStart()};
}

// Our closing line must not run on from a failure text that has no line break of its own
// ("failed with hr=%d").
void Finish(const RenderedOrders& orders, OutputBox& output, const std::string& line) {
  output.SetText(orders.text);
  if (!orders.atLineStart) output.Append("\r\n");
  output.Append(line);
}

std::int64_t HighestOf(const std::vector<std::int32_t>& taken) {
  return taken.empty() ? 0 : std::max<std::int64_t>(0, taken.back());
}

}  // namespace

std::optional<std::int64_t> DefaultStartOrder(TurnEntryStore& store, std::int32_t empire,
                                              store::StoreError& err) {
  const std::int64_t highest = store.HighestOrderNumber(empire, err);
  if (err.Failed()) return std::nullopt;
  return std::max<std::int64_t>(0, highest) + 10;
}

std::string DefaultConvoyName(const std::string& from, const std::string& to) {
  return from + " -> " + to;
}

StoreRouteResult StoreRoute(const StarMap& starMap, RoutePlanner& planner, RouteRequest request,
                            const ConvoyValues& values, TurnEntryStore& turnEntry,
                            OutputBox& output) {
  StoreRouteResult result;
  if (values.cancelled) return result;
  request.avoid = starMap.avoidSystems;
  request.mode = values.strategy;
  request.bothWays = false;
  result.plan = FindRoute(starMap, planner, request);
  result.firstOrder = values.startOrder;

  // Half a route's orders would send the fleet somewhere and leave it there: all or nothing.
  if (!result.plan.AllFound()) {
    Finish(RenderOrders(result.plan, starMap, values, values.startOrder), output,
           "No orders were stored.\r\n");
    return result;
  }

  std::optional<RenderedOrders> stored;
  const auto decide = [&](const std::vector<std::int32_t>& taken, store::StoreError& err) {
    // The default is taken from what the file holds now, inside the exclusive section, so
    // that two runs at once cannot both take the same numbers.
    result.firstOrder = values.defaultStartOrder ? HighestOf(taken) + 10 : values.startOrder;
    RenderedOrders orders = RenderOrders(result.plan, starMap, values, result.firstOrder);
    if (orders.overflowed) {
      err = {store::E_FAIL, "the order numbers would run past 2147483647"};
      return std::vector<OrderRow>{};
    }
    std::vector<std::int32_t> collisions;
    for (const OrderRow& row : orders.rows)
      if (std::binary_search(taken.begin(), taken.end(), row.orderNumber))
        collisions.push_back(row.orderNumber);
    if (!collisions.empty()) {
      std::sort(collisions.begin(), collisions.end());
      collisions.erase(std::unique(collisions.begin(), collisions.end()), collisions.end());
      err = {store::E_FAIL,
             fmt::format("empire {} already has orders numbered {}; choose another start order",
                         values.empire, fmt::join(collisions, ", "))};
      return std::vector<OrderRow>{};
    }
    stored = orders;
    return orders.rows;
  };
  if (!turnEntry.InsertOrders(values.empire, decide, result.storeError) &&
      !result.storeError.Failed())
    result.storeError = {store::E_FAIL, "the turn entry database refused the orders"};
  if (result.storeError.Failed()) {
    Finish(RenderOrders(result.plan, starMap, values, result.firstOrder), output,
           fmt::format("Could not store the orders: {}\r\n", result.storeError.reason));
    return result;
  }
  if (!stored) stored = RenderOrders(result.plan, starMap, values, result.firstOrder);
  output.SetText(stored->text);
  result.stored = true;
  result.ordersStored = static_cast<int>(stored->rows.size());
  return result;
}

}  // namespace lanewright
