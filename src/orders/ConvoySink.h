#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "orders/TurnEntryStore.h"
#include "route/RouteSink.h"
#include "starmap/OutputBox.h"

namespace lanewright {

// Turns the jumps of a Store Route run into orders: each order's line goes to the output
// box, its row is kept (Orders) so that the run can store all of them at once when the
// route was found. Numbers start at startOrder and grow by 10 per order.
class ConvoySink final : public RouteSink {
 public:
  // output must outlive the sink. backSurvey has an effect only together with survey.
  ConvoySink(OutputBox& output, std::int32_t empire, std::int64_t startOrder, std::string fleet,
             bool survey, bool backSurvey);

  // The route's header, separator and cost lines are not part of an order listing, so
  // AppendText keeps the base's "do nothing".
  void ReportFailure(const std::string& text) override;
  // Only the first call empties the output box; the route report's own Clear calls come
  // after the first "CNVR" line and must not wipe it.
  void Clear() override;
  void WarpStep(const std::string& system, const std::string& destination, std::int32_t warpPointId,
                char warpClass, std::span<const std::int32_t> empires, std::int32_t fuelSoFar,
                const SystemEmpireSet& systemEmpire) override;

  // One "CNVR" order for the convoy named name.
  void WriteConvoyOrder(const std::string& name);

  // The orders written so far, in order.
  const std::vector<OrderRow>& Orders() const { return orders_; }
  // True once an order number went past the largest number the "Orders" table holds;
  // such a run must not be stored.
  bool NumberingOverflowed() const { return overflowed_; }
  // Whether the output box text this sink has written ends with a line break (or is empty).
  bool AtLineStart() const { return atLineStart_; }

 private:
  void WriteOrder(const char* code, const std::string& argument1, const std::string& argument2,
                  const std::string& argument3, const std::string& lineTail, std::string& buffer);
  void Append(const std::string& text);

  OutputBox& output_;
  std::int64_t nextOrder_;  // wider than the column so that running past its end is seen
  std::int32_t empire_;
  std::string fleet_;
  bool cleared_ = false;
  bool survey_;
  bool backSurvey_;
  bool overflowed_ = false;
  bool atLineStart_ = true;
  std::vector<OrderRow> orders_;
};

}  // namespace lanewright
