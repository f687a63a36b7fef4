#include "orders/StoreRoute.h"

#include <fmt/format.h>

#include <optional>

#include "orders/ConvoySink.h"

namespace lanewright {
namespace {

// Our closing line must not run on from a failure text that has no line break of its own
// ("failed with hr=%d").
void AppendClosingLine(const ConvoySink& sink, OutputBox& output, const std::string& line) {
  if (!sink.AtLineStart()) output.Append("\r\n");
  output.Append(line);
}

}  // namespace

StoreRouteResult StoreRoute(const StarMap& starMap, const std::string& from, const std::string& to,
                            const std::string& visitText, const ConvoyValues& values,
                            TurnEntryStore& turnEntry, OutputBox& output) {
  StoreRouteResult result;
  if (values.cancelled) return result;

  ConvoySink sink(output, values.empire, values.startOrder, values.fleet, values.survey,
                  values.backSurvey);
  sink.Clear();
  if (values.convoy) sink.WriteConvoyOrder(values.name);
  const std::optional<std::string> via =
      visitText == "[none]" ? std::nullopt : std::optional<std::string>(visitText);
  result.route = FindRoute(starMap, from, to, via, values.strategy, sink, /*bothWays=*/false);
  if (values.convoy) sink.WriteConvoyOrder(values.name);

  // Half a route's orders would send the fleet somewhere and leave it there: all or nothing.
  if (!result.route.AllFound()) {
    AppendClosingLine(sink, output, "No orders were stored.\r\n");
    return result;
  }
  if (sink.NumberingOverflowed()) {
    result.storeError = {store::E_FAIL, "the order numbers would run past 2147483647"};
  } else if (!turnEntry.InsertOrders(
                 values.empire,
                 [&sink](const std::vector<std::int32_t>&, store::StoreError&) {
                   return sink.Orders();
                 },
                 result.storeError) &&
             !result.storeError.Failed()) {
    result.storeError = {store::E_FAIL, "the turn entry database refused the orders"};
  }
  if (result.storeError.Failed()) {
    AppendClosingLine(sink, output,
                      fmt::format("Could not store the orders: {}\r\n", result.storeError.reason));
    return result;
  }
  result.stored = true;
  result.ordersStored = static_cast<int>(sink.Orders().size());
  return result;
}

}  // namespace lanewright
